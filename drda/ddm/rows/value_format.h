// SPDX-License-Identifier: Apache-2.0
// Text forms of row values, written through a wrapping writer that breaks
// lines only between display units (a character or its escape, a hex byte
// pair, a quote, a note, a whole number).
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "ddm/rows/ccsid_tables.h"
#include "common/byte_view.h"
#include "common/copy_short.h"
#include "common/text_writer.h"

namespace drda::rows {

// Most characters shown of a value, and most bytes looked at for them.
inline constexpr std::size_t kMaxChars = 256;
inline constexpr std::size_t kMaxCharBytes = 1024;
// Most bytes shown of a binary value.
inline constexpr std::size_t kMaxBinaryBytes = 128;

// Writes display units behind what stands on the current line, so that no
// line passes depth + 70 characters: a unit that does not fit goes to a
// continuation line of `depth` spaces; one that does not fit even there is
// written there whole.
class WrapWriter {
public:
    // `column` is the number of characters already on the line.
    WrapWriter(TextWriter& out, int depth, std::size_t column)
        : out_(out), depth_(depth > 0 ? depth : 0), max_(static_cast<std::size_t>(depth_) + 70), col_(column) {}

    void unit(std::string_view s) {
        char* p = unit_room(s.size());
        if (!s.empty()) std::memcpy(p, s.data(), s.size());
        commit_unit(s.size());
    }
    // A unit formatted in place: room for at most n characters, then
    // commit_unit with the number written. The unit goes to a continuation
    // line when it does not fit, as unit() does.
    char* unit_room(std::size_t n) { return out_.reserve(n + 1 + static_cast<std::size_t>(depth_)); }
    void commit_unit(std::size_t n) {
        if (col_ + n > max_ && col_ > static_cast<std::size_t>(depth_)) {
            wrap_unit(n);
        } else {
            out_.commit(n);
            col_ += n;
        }
    }
    // Characters left on the current line before it is full.
    std::size_t room() const { return col_ < max_ ? max_ - col_ : 0; }
    // One unit of UTF-8 text that takes `width` columns (a character and
    // the combining marks on it).
    void text_unit(std::string_view s, std::size_t width) {
        if (col_ + width > max_ && col_ > static_cast<std::size_t>(depth_)) fresh_line();
        out_.put(s);
        col_ += width;
    }
    // Whether printable characters beyond ASCII are written as they are.
    bool utf8() const { return out_.text_mode() == TextMode::utf8; }
    // n units of one character each (plain ASCII text).
    void chars(const char* s, std::size_t n);
    // n units of two hex digits each.
    void hex(const std::uint8_t* p, std::size_t n);
    // Ends the line.
    void end() { out_.put('\n'); }

private:
    void fresh_line();
    void wrap_unit(std::size_t n);
    TextWriter& out_;
    int depth_;
    std::size_t max_;
    std::size_t col_;
};

// Signed integer of 1, 2, 4 or 8 bytes in the given byte order.
std::int64_t read_int(ByteView v, bool little);
void write_integer(WrapWriter& w, ByteView v, bool little);

// IEEE float of 4 or 8 bytes as the shortest text that reads back the same.
void write_float(WrapWriter& w, ByteView v, bool little);

// Packed decimal, exact; `invalid packed decimal X'..'` for bad nibbles.
void write_packed(WrapWriter& w, ByteView v, int precision, int scale);
// The text of a packed decimal at `text` (room for kPackedRoom
// characters): its length, or kInvalidPacked for bad nibbles.
inline constexpr std::size_t kPackedRoom = 262;
inline constexpr std::size_t kInvalidPacked = ~std::size_t{0};
std::size_t format_packed(char* text, ByteView v, int precision, int scale);

// Whether all n bytes are printable ASCII that stands for itself inside
// quotes (0x20 to 0x7E, not '"' or '\').
bool all_plain(const std::uint8_t* p, std::size_t n);

// X'..' of at most 128 bytes of `shown`; "...(N bytes)" when `total` is
// larger than what is shown.
void write_binary(WrapWriter& w, ByteView shown, std::size_t total);

// "..." of at most 256 characters decoded from at most the first 1,024
// bytes of `shown` (`total` = the value's byte length). `charset` may be
// null (CCSID unsupported or, with ccsid 0, unknown): the binary form is
// written with " (CCSID n)" / " (CCSID unknown)"; so it is when the bytes
// are not valid in the charset. `max_chars` lowers the character limit and
// `note` = false drops the length note (statement text).
void write_chars(WrapWriter& w, ByteView shown, std::size_t total, const Charset* charset,
                 std::uint32_t ccsid, std::size_t max_chars = kMaxChars, bool note = true);

// Appends the decimal digits of v to `s` (room for 20 needed); returns
// the new end.
namespace detail {
// "00" "01" .. "99".
inline constexpr auto kDecimalPairs = [] {
    std::array<char, 200> t{};
    for (int i = 0; i < 100; ++i) {
        t[2 * i] = static_cast<char>('0' + i / 10);
        t[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return t;
}();
}  // namespace detail

inline char* put_uint(char* s, std::uint64_t v) {
    // Column and row numbers, most lengths and many values are below
    // 10,000: two digits at a time from a table, no call for those.
    const char* pairs = detail::kDecimalPairs.data();
    if (v < 10) {
        *s = static_cast<char>('0' + v);
        return s + 1;
    }
    if (v < 100) {
        std::memcpy(s, pairs + 2 * v, 2);
        return s + 2;
    }
    if (v < 10000) {
        const std::uint64_t high = v / 100, low = v % 100;
        if (high < 10) {
            *s = static_cast<char>('0' + high);
            std::memcpy(s + 1, pairs + 2 * low, 2);
            return s + 3;
        }
        std::memcpy(s, pairs + 2 * high, 2);
        std::memcpy(s + 2, pairs + 2 * low, 2);
        return s + 4;
    }
    return std::to_chars(s, s + 20, v).ptr;
}
inline char* put_int(char* s, std::int64_t v) {
    if (v >= 0) return put_uint(s, static_cast<std::uint64_t>(v));
    return std::to_chars(s, s + 20, v).ptr;
}

}  // namespace drda::rows
