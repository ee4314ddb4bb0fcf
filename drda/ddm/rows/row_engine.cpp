// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/row_engine.h"

#include <cstring>

#include "ddm/rows/value_format.h"

namespace drda::rows {
namespace {

constexpr int kMaxPrecision = 63;

char hex_digit(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

}  // namespace

void RowEngine::start(const Descriptor* d, bool little_endian, int sqlam) {
    desc_ = d;
    little_ = little_endian;
    sqlam_ = sqlam;
    phase_ = Phase::kRowStart;
    row_ = 0;
    col_ = 0;
    consumed_ = 0;
    need_ = have_ = 0;
}

std::size_t RowEngine::column_in_progress() const {
    switch (phase_) {
        case Phase::kColStart:
        case Phase::kNullInd:
        case Phase::kPrefix:
        case Phase::kBody: return col_ + 1;
        default: return 0;
    }
}

void RowEngine::start_field(std::size_t n) {
    need_ = n;
    have_ = 0;
}

// Takes the rest of the field in progress from `in`. A field wholly inside
// the piece is handed over as a view of it; one that runs over pieces is
// kept (its first kKeep bytes) until its last byte has come.
bool RowEngine::gather(ByteView in, std::size_t& pos, ByteView& field) {
    const std::size_t avail = in.size() - pos;
    if (have_ == 0 && avail >= need_) {
        field = in.sub(pos, need_);
        pos += need_;
        return true;
    }
    std::size_t take = need_ - have_;
    if (take > avail) take = avail;
    if (have_ < kKeep) {
        const std::size_t keep = take < kKeep - have_ ? take : kKeep - have_;
        if (keep) std::memcpy(field_ + have_, in.data() + pos, keep);
    }
    have_ += take;
    pos += take;
    if (have_ < need_) return false;
    field = ByteView(field_, need_ < kKeep ? need_ : kKeep);
    return true;
}

void RowEngine::stop(RowEvents& ev, std::size_t pos, std::string_view reason) {
    phase_ = Phase::kStopped;
    ev.stop(row_, reason, consumed_ + pos);
}

void RowEngine::end_row(RowEvents& ev) {
    phase_ = Phase::kRowStart;
    ev.row_end(row_);
}

void RowEngine::begin_value(RowEvents& ev, std::size_t pos) {
    const Column& c = desc_->columns[col_];
    const std::size_t unit = (c.flags & kGraphic) ? 2 : 1;
    char reason[64];
    char* e = reason;
    const auto column_prefix = [&] {
        std::memcpy(e, "column ", 7);
        e = put_uint(e + 7, col_ + 1);
        *e++ = ':';
        *e++ = ' ';
    };
    switch (c.layout) {
        case Layout::kNone:
            column_prefix();
            std::memcpy(e, "no layout for type ", 19);
            e += 19;
            *e++ = hex_digit(c.drda >> 4);
            *e++ = hex_digit(c.drda);
            stop(ev, pos, std::string_view(reason, static_cast<std::size_t>(e - reason)));
            return;
        case Layout::kFixed: {
            const TypeRow* row = find_type(c.drda);
            start_field(row ? row->fixed : 0);
            phase_ = Phase::kBody;
            return;
        }
        case Layout::kLengthWord:
            start_field(std::size_t{c.length} * unit);
            phase_ = Phase::kBody;
            return;
        case Layout::kPrefix2:
            start_field(2);
            phase_ = Phase::kPrefix;
            return;
        case Layout::kPrefix1:
            start_field(1);
            phase_ = Phase::kPrefix;
            return;
        case Layout::kPacked: {
            const int p = c.length >> 8;
            if (p == 0 || p > kMaxPrecision) {
                column_prefix();
                std::memcpy(e, "DECIMAL precision ", 18);
                e = put_uint(e + 18, static_cast<std::uint64_t>(p));
                stop(ev, pos, std::string_view(reason, static_cast<std::size_t>(e - reason)));
                return;
            }
            start_field(static_cast<std::size_t>(p / 2 + 1));
            phase_ = Phase::kBody;
            return;
        }
        case Layout::kDigits:
            start_field(c.length >> 8);
            phase_ = Phase::kBody;
            return;
        case Layout::kLob: {
            const unsigned nn = c.length & 0xFFu;
            if ((c.length & 0xFF00u) != 0x8000u || nn > 8 || nn % 2 != 0) {
                column_prefix();
                std::memcpy(e, "LOB length field ", 17);
                e += 17;
                for (int s = 12; s >= 0; s -= 4) *e++ = hex_digit(c.length >> s);
                stop(ev, pos, std::string_view(reason, static_cast<std::size_t>(e - reason)));
                return;
            }
            start_field(nn);
            phase_ = Phase::kBody;
            return;
        }
    }
}

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
            if (p == 0 || p > kMaxPrecision) return false;
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

void RowEngine::feed(ByteView in, RowEvents& ev) {
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
                    sqlca_.start(SqlcaFormat{little_, sqlam_});
                    sqlca_.take(ByteView(&b, 1));
                    start_field(sqlca_.need());
                    phase_ = Phase::kSqlca;
                }
                continue;
            case Phase::kSqlca:
                if (!gather(in, pos, f)) break;
                sqlca_.take(f);
                if (!sqlca_.done()) {
                    start_field(sqlca_.need());
                } else if (sqlca_.sqlca().diag) {
                    stop(ev, pos, "SQLDIAGGRP present");
                } else {
                    has_sqlca_ = true;
                    phase_ = Phase::kDtaInd;
                }
                continue;
            case Phase::kDtaInd:
                if (!byte(b)) break;
                if (b == 0) {
                    ev.row_begin(row_, has_sqlca_ ? &sqlca_.sqlca() : nullptr, false);
                    phase_ = Phase::kColStart;
                } else if (b >= 0x80) {
                    ev.row_begin(row_, has_sqlca_ ? &sqlca_.sqlca() : nullptr, true);
                    end_row(ev);
                } else {
                    char reason[] = "data group indicator XX";
                    reason[21] = hex_digit(b >> 4);
                    reason[22] = hex_digit(b);
                    stop(ev, pos, std::string_view(reason, sizeof reason - 1));
                }
                continue;
            case Phase::kColStart: {
                if (col_ >= desc_->columns.size()) {
                    end_row(ev);
                    continue;
                }
                const Column& c = desc_->columns[col_];
                // The common case at once: the indicator and the whole value
                // lie in this piece. Anything else takes the steps below,
                // from the same byte.
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
