// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/row_engine.h"

#include "ddm/rows/row_engine_feed.h"

#include <cstring>

#include "ddm/rows/value_format.h"

namespace drda::rows {
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
        if (keep) std::memcpy(spill().field + have_, in.data() + pos, keep);
    }
    have_ += take;
    pos += take;
    if (have_ < need_) return false;
    field = ByteView(spill().field, need_ < kKeep ? need_ : kKeep);
    return true;
}

void RowEngine::stop(RowEvents& ev, std::size_t pos, std::string_view reason) {
    phase_ = Phase::kStopped;
    ev.stop(row_, reason, consumed_ + pos);
}

// One spill kept per thread for the next engine that needs one.
std::unique_ptr<RowEngine::Spill>& RowEngine::spare_spill() {
    thread_local std::unique_ptr<Spill> spare;
    return spare;
}

void RowEngine::end_row(RowEvents& ev) {
    phase_ = Phase::kRowStart;
    ev.row_end(row_);
    // Between rows nothing is held in the spill: it is given back.
    if (spill_ && !spare_spill()) spare_spill() = std::move(spill_);
    spill_.reset();
}

RowEngine::Spill& RowEngine::spill() {
    if (!spill_) {
        std::unique_ptr<Spill>& spare = spare_spill();
        spill_ = spare ? std::move(spare) : std::make_unique<Spill>();
    }
    return *spill_;
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
            *e++ = row_detail::hex_digit(c.drda >> 4);
            *e++ = row_detail::hex_digit(c.drda);
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
            if (p == 0 || p > row_detail::kMaxPrecision) {
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
                for (int s = 12; s >= 0; s -= 4) *e++ = row_detail::hex_digit(c.length >> s);
                stop(ev, pos, std::string_view(reason, static_cast<std::size_t>(e - reason)));
                return;
            }
            start_field(nn);
            phase_ = Phase::kBody;
            return;
        }
    }
}

void RowEngine::feed(ByteView in, RowEvents& ev) { feed_as(in, ev); }

}  // namespace drda::rows
