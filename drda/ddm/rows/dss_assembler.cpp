// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/dss_assembler.h"

namespace drda::rows {

void DssAssembler::start(std::uint64_t record) {
    active_ = true;
    phase_ = Phase::kHeader;
    record_ = record;
    have_header_ = 0;
    have_word_ = 0;
    remaining_ = 0;
    more_ = false;
    dropped_ = false;
    malformed_ = false;
    joined_.clear();
}

void DssAssembler::append(ByteView bytes) {
    if (dropped_) return;
    if (joined_.size() + bytes.size() > kMaxBytes) {
        dropped_ = true;
        joined_.clear();
        joined_.shrink_to_fit();
        return;
    }
    joined_.insert(joined_.end(), bytes.begin(), bytes.end());
}

std::size_t DssAssembler::feed(ByteView in) {
    std::size_t pos = 0;
    while (active_ && phase_ != Phase::kDone && pos < in.size()) {
        switch (phase_) {
            case Phase::kHeader: {
                while (have_header_ < 6 && pos < in.size()) header_[have_header_++] = in.u8(pos++);
                if (have_header_ < 6) break;
                const ByteView h(header_, 6);
                const std::uint16_t ll = h.be16(0);
                const std::size_t first = ll & 0x7FFFu;
                if (h.u8(2) != 0xD0 || first < 6) {
                    malformed_ = true;
                    phase_ = Phase::kDone;
                    break;
                }
                append(h);
                remaining_ = first - 6;
                more_ = (ll & 0x8000u) != 0;
                phase_ = Phase::kBody;
                break;
            }
            case Phase::kBody: {
                std::size_t n = in.size() - pos;
                if (n > remaining_) n = remaining_;
                append(in.sub(pos, n));
                pos += n;
                remaining_ -= n;
                break;
            }
            case Phase::kSegmentLength:
                while (have_word_ < 2 && pos < in.size()) word_[have_word_++] = in.u8(pos++);
                if (have_word_ < 2) break;
                {
                    const std::uint16_t w = ByteView(word_, 2).be16(0);
                    have_word_ = 0;
                    if ((w & 0x7FFFu) < 2) {
                        malformed_ = true;
                        phase_ = Phase::kDone;
                        break;
                    }
                    remaining_ = (w & 0x7FFFu) - 2u;
                    more_ = (w & 0x8000u) != 0;
                    phase_ = Phase::kBody;
                }
                break;
            case Phase::kDone: break;
        }
        if (phase_ == Phase::kBody && remaining_ == 0) phase_ = more_ ? Phase::kSegmentLength : Phase::kDone;
    }
    // A segment of length 2 or a DSS of LL 6 may end without another byte.
    if (active_ && phase_ == Phase::kBody && remaining_ == 0) phase_ = more_ ? Phase::kSegmentLength : Phase::kDone;
    return pos;
}

}  // namespace drda::rows
