// SPDX-License-Identifier: Apache-2.0
// Joins one DSS that the row decoder cannot read in place: one cut at the
// end of a traced buffer (completed from the next buffer of the same side)
// or one continued in segments (LL with bit 0x8000, then segments that each
// begin with a 2-byte length, bit 0x8000 set while another follows). The
// joined form is the 6-byte header and the payload without the segment
// length words. At most kMaxBytes are kept; a longer DSS is only counted
// through to its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/byte_view.h"

namespace drda::rows {

class DssAssembler {
public:
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;

    // Begins a DSS that started in `record`.
    void start(std::uint64_t record);
    void reset() { active_ = false; }
    bool active() const { return active_; }

    // Takes bytes of the DSS from the start of `in`, as many as it still
    // needs; returns the number taken.
    std::size_t feed(ByteView in);

    bool complete() const { return active_ && phase_ == Phase::kDone; }
    // The DSS was longer than kMaxBytes; nothing of it is kept.
    bool dropped() const { return dropped_; }
    // Its header is not a DSS header (magic, lengths): nothing to decode.
    bool malformed() const { return malformed_; }
    // Header bytes held so far (at most 6).
    ByteView header() const { return ByteView(header_, have_header_); }
    // The joined DSS: 6 header bytes, then the payload.
    ByteView joined() const { return ByteView(joined_.data(), joined_.size()); }
    std::uint64_t record() const { return record_; }

private:
    enum class Phase : std::uint8_t { kHeader, kBody, kSegmentLength, kDone };
    void append(ByteView bytes);

    bool active_ = false;
    Phase phase_ = Phase::kHeader;
    std::uint64_t record_ = 0;
    std::uint8_t header_[6] = {};
    std::size_t have_header_ = 0;
    std::uint8_t word_[2] = {};
    std::size_t have_word_ = 0;
    std::size_t remaining_ = 0;  // bytes left of the current segment
    bool more_ = false;          // another segment follows this one
    bool dropped_ = false;
    bool malformed_ = false;
    std::vector<std::uint8_t> joined_;
};

}  // namespace drda::rows
