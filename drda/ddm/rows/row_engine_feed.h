// SPDX-License-Identifier: Apache-2.0
// The row cursor's walk, as a template over the receiver of its events: for
// a receiver class that is final (the row printer) the calls of each row
// and column are direct, so the per-column path has no virtual call. The
// cursor itself (row_engine.h) instantiates it for any RowEvents.
#pragma once

#include "ddm/rows/row_engine.h"

namespace drda::rows {

namespace row_detail {
inline constexpr int kMaxPrecision = 63;
inline char hex_digit(unsigned v) { return "0123456789ABCDEF"[v & 15]; }
}  // namespace row_detail

// The value of column c starting at `at` when its size is known and it
// lies wholly in `in` (after a length prefix, which `at` then passes):
// its byte count in n. False for a value of a size that is not valid (the
// steps of begin_value report it) or that runs past the piece.
inline bool RowEngine::whole_value(const Column& c, ByteView in, std::size_t& at, std::size_t& n) {
    const std::size_t avail = in.size() - at;
    switch (c.layout) {
        case Layout::kFixed: {
            const TypeRow* row = find_type(c.drda);
            n = row ? row->fixed : 0;
            break;
        }
        case Layout::kLengthWord: n = std::size_t{c.length} * ((c.flags & kGraphic) ? 2 : 1); break;
        case Layout::kPacked: {
            const int p = c.length >> 8;
            if (p == 0 || p > row_detail::kMaxPrecision) return false;
            n = static_cast<std::size_t>(p / 2 + 1);
            break;
        }
        case Layout::kDigits: n = c.length >> 8; break;
        case Layout::kPrefix2:
        case Layout::kPrefix1: {
            const std::size_t k = c.layout == Layout::kPrefix2 ? 2 : 1;
            if (avail < k) return false;
            n = k == 2 ? in.be16(at) : in.u8(at);
            if (c.flags & kGraphic) n *= 2;
            if (avail - k < n) return false;
            at += k;
            return true;
        }
        default: return false;
    }
    return n <= avail;
}

template <class Events>
void RowEngine::feed_as(ByteView in, Events& ev) {
    std::size_t pos = 0;
    ByteView f;
    const auto byte = [&](std::uint8_t& b) {
        if (pos >= in.size()) return false;
        b = in.u8(pos++);
        return true;
    };
    // A field wholly inside the piece, the common case, without the call.
    const auto field = [&](ByteView& out) {
        if (have_ == 0 && in.size() - pos >= need_) {
            out = in.sub(pos, need_);
            pos += need_;
            return true;
        }
        return gather(in, pos, out);
    };
    for (;;) {
        std::uint8_t b = 0;
        switch (phase_) {
            case Phase::kStopped:
                consumed_ += pos;
                return;
            case Phase::kRowStart:
                if (pos >= in.size() || !desc_) {
                    consumed_ += pos;
                    return;
                }
                if (!ev.boundary(*this) || !desc_) {
                    phase_ = Phase::kStopped;
                    continue;
                }
                ++row_;
                col_ = 0;
                has_sqlca_ = false;
                phase_ = desc_->has_sqlca ? Phase::kCaInd : Phase::kDtaInd;
                continue;
            case Phase::kCaInd:
                if (!byte(b)) break;
                if (b >= 0x80) {
                    phase_ = Phase::kDtaInd;
                } else {
                    SqlcaSteps& ca = spill().sqlca;
                    ca.start(SqlcaFormat{little_, sqlam_});
                    ca.take(ByteView(&b, 1));
                    start_field(ca.need());
                    phase_ = Phase::kSqlca;
                }
                continue;
            case Phase::kSqlca: {
                if (!gather(in, pos, f)) break;
                SqlcaSteps& ca = spill().sqlca;
                ca.take(f);
                if (!ca.done()) {
                    start_field(ca.need());
                } else if (ca.sqlca().diag) {
                    stop(ev, pos, "SQLDIAGGRP present");
                } else {
                    has_sqlca_ = true;
                    phase_ = Phase::kDtaInd;
                }
                continue;
            }
            case Phase::kDtaInd:
                if (!byte(b)) break;
                if (b == 0) {
                    ev.row_begin(row_, has_sqlca_ ? &spill_->sqlca.sqlca() : nullptr, false);
                    phase_ = Phase::kColStart;
                } else if (b >= 0x80) {
                    ev.row_begin(row_, has_sqlca_ ? &spill_->sqlca.sqlca() : nullptr, true);
                    end_row(ev);
                } else {
                    char reason[] = "data group indicator XX";
                    reason[21] = row_detail::hex_digit(b >> 4);
                    reason[22] = row_detail::hex_digit(b);
                    stop(ev, pos, std::string_view(reason, sizeof reason - 1));
                }
                continue;
            case Phase::kColStart: {
                // The columns of a row in one loop while each indicator and
                // value lies whole in this piece (no column event changes
                // the cursor's state); anything else takes the steps below,
                // from the column's first byte.
                bool whole = true;
                while (col_ < desc_->columns.size()) {
                    const Column& c = desc_->columns[col_];
                    std::size_t at = pos;
                    std::uint8_t ind = 0;
                    if (c.nullable() && at < in.size()) ind = in.u8(at++);
                    if (at > pos && ind >= 0x80) {
                        ColumnValue v;
                        v.number = col_ + 1;
                        v.null = true;
                        v.indicator = ind;
                        pos = at;
                        ev.column(row_, c, v);
                        ++col_;
                        continue;
                    }
                    std::size_t n = 0;
                    if ((at > pos || !c.nullable()) && whole_value(c, in, at, n)) {
                        ColumnValue v;
                        v.number = col_ + 1;
                        v.indicator = ind;
                        v.bytes = in.sub(at, n);
                        v.total = n;
                        pos = at + n;
                        ev.column(row_, c, v);
                        ++col_;
                        continue;
                    }
                    if (c.nullable()) {
                        phase_ = Phase::kNullInd;
                    } else {
                        indicator_ = 0;
                        begin_value(ev, pos);
                    }
                    whole = false;
                    break;
                }
                if (whole) end_row(ev);
                continue;
            }
            case Phase::kNullInd:
                if (!byte(indicator_)) break;
                if (indicator_ >= 0x80) {
                    ColumnValue v;
                    v.number = col_ + 1;
                    v.null = true;
                    v.indicator = indicator_;
                    ev.column(row_, desc_->columns[col_], v);
                    ++col_;
                    phase_ = Phase::kColStart;
                } else {
                    begin_value(ev, pos);
                }
                continue;
            case Phase::kPrefix: {
                if (!field(f)) break;
                const Column& c = desc_->columns[col_];
                std::size_t n = f.size() == 2 ? f.be16(0) : f.u8(0);
                if (c.flags & kGraphic) n *= 2;
                start_field(n);
                phase_ = Phase::kBody;
                continue;
            }
            case Phase::kBody: {
                if (!field(f)) break;
                ColumnValue v;
                v.number = col_ + 1;
                v.indicator = indicator_;
                v.bytes = f;
                v.total = need_;
                ev.column(row_, desc_->columns[col_], v);
                ++col_;
                phase_ = Phase::kColStart;
                continue;
            }
        }
        // Out of bytes in the middle of a field or indicator.
        consumed_ += pos;
        return;
    }
}

}  // namespace drda::rows
