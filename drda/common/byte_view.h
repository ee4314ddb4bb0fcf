// SPDX-License-Identifier: Apache-2.0
// Bounded, read-only view of traced bytes.
//
// Every read of trace data goes through this type. A read that would leave
// the view returns zero for the missing bytes instead of touching memory
// outside it, and `sub` clamps to what exists, so no decoder can read past
// the buffer it was handed, however its lengths were computed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace drda {

class ByteView {
public:
    constexpr ByteView() noexcept = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) noexcept
        : data_(size ? data : nullptr), size_(data ? size : 0) {}
    ByteView(std::string_view s) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()) {}

    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }

    // True when [off, off + n) lies inside the view; written so that the sum
    // cannot overflow.
    constexpr bool has(std::size_t off, std::size_t n) const noexcept {
        return off <= size_ && n <= size_ - off;
    }

    // One byte; 0 past the end.
    constexpr std::uint8_t u8(std::size_t off) const noexcept {
        return off < size_ ? data_[off] : 0;
    }
    // Big-endian integers. Bytes past the end count as 0x00, so a value cut
    // short reads as if it were padded with zeros on the low side.
    constexpr std::uint16_t be16(std::size_t off) const noexcept {
        return static_cast<std::uint16_t>((u8(off) << 8) | u8(off + 1));
    }
    constexpr std::uint32_t be32(std::size_t off) const noexcept {
        return (std::uint32_t{be16(off)} << 16) | be16(off + 2);
    }
    constexpr std::uint64_t be64(std::size_t off) const noexcept {
        return (std::uint64_t{be32(off)} << 32) | be32(off + 4);
    }
    constexpr std::int16_t sbe16(std::size_t off) const noexcept {
        return static_cast<std::int16_t>(be16(off));
    }
    constexpr std::int32_t sbe32(std::size_t off) const noexcept {
        return static_cast<std::int32_t>(be32(off));
    }

    // The part of the view from `off`, at most `n` bytes long; empty when
    // `off` lies at or past the end.
    constexpr ByteView sub(std::size_t off, std::size_t n = SIZE_MAX) const noexcept {
        if (off >= size_) return {};
        std::size_t rest = size_ - off;
        return ByteView(data_ + off, n < rest ? n : rest);
    }
    constexpr ByteView first(std::size_t n) const noexcept { return sub(0, n); }

    // Raw access for bulk copies of exactly this view's bytes.
    constexpr const std::uint8_t* data() const noexcept { return data_; }
    constexpr const std::uint8_t* begin() const noexcept { return data_; }
    constexpr const std::uint8_t* end() const noexcept { return data_ + size_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace drda
