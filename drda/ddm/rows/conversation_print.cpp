// SPDX-License-Identifier: Apache-2.0
// The lines of the row decoder: where a group of lines goes (under its
// object, or under a heading), the ROWS and SQL lines, and the row events
// of the row cursor as ROW and COL lines.
#include <cstring>
#include <string>
#include <vector>

#include "ddm/rows/conversation_state.h"
#include "ddm/rows/row_text.h"
#include "ddm/rows/value_format.h"

namespace drda::rows {

Conversation::State::Out Conversation::State::open(DssCtx& ctx, const Obj& anchor, std::string_view name,
                                                   int& depth, const char* head) {
    Out o;
    o.w = out;
    if (ctx.lazy && hook.kind == Hook::kObject && in_buffer(anchor.whole.data()) &&
        offset_of(anchor.whole.data()) == hook.offset && hook.size == anchor.value.size() && hook.cp == anchor.cp) {
        depth = hook.depth;
        return o;
    }
    o.pending = true;
    if (ctx.origin == DssCtx::kCut) {
        o.heading = std::string(head) + ": from the " + std::string(name) + " of the DSS cut at the end of record " +
                    std::to_string(ctx.record);
    } else if (ctx.origin == DssCtx::kContinued && hook.kind == Hook::kContinued && hook.offset == ctx.byte) {
        o.pending = !ctx.heading_done;
        o.shared_done = &ctx.heading_done;
        o.heading = "ROWS: from the continued DSS below";
    } else {
        o.heading = std::string(head) + ": from the " + std::string(name) + " of the DSS at byte " + std::to_string(ctx.byte);
    }
    return o;
}

void Conversation::State::rows_line(Out& o, int d, const char* what, const Query* q, std::size_t columns,
                                    const Typdef& td) {
    TextWriter& w = *out;
    o.line(d);
    w.put("ROWS: ");
    if (q) {
        w.put("query ");
        put_num(w, q->number);
    } else {
        w.put(what);
    }
    w.put(", ");
    put_num(w, columns);
    w.put(" columns, ");
    w.put(td.name);
    w.put(td.little ? " little-endian" : " big-endian");
    if (td.sbc || td.dbc || td.mbc) {
        w.put(", CCSID");
        if (td.sbc) w.put(" SBC "), put_num(w, td.sbc);
        if (td.dbc) w.put(" DBC "), put_num(w, td.dbc);
        if (td.mbc) w.put(" MBC "), put_num(w, td.mbc);
    }
    w.put('\n');
}

void Conversation::State::sql_line(Out& o, int d, const Statement* text) {
    if (!text) return;
    o.line(d);
    out->put("SQL: ");
    WrapWriter ww(*out, d, out->column());
    write_chars(ww, ByteView(text->bytes.data(), text->len), text->total, find_charset(text->ccsid), text->ccsid,
                kStatementChars, false);
    ww.end();
}

// --- the row printer ---------------------------------------------------------

bool RowPrinter::layout_or_fault(RowEngine&) {
    if (!q_) return true;
    if (!q_->pending_failure.empty()) {
        q_->failure = "OUTOVR: " + q_->pending_failure;
        q_->pending_failure.clear();
    }
    if (q_->failure.empty() && q_->dirty) {
        s_.apply_layout(*q_);
        lines_.clear();
    }
    if (!q_->failure.empty()) {
        out_.line(d_);
        out_.w->put("ROWS: not decoded: ");
        out_.w->put(q_->failure);
        out_.w->put('\n');
        return false;
    }
    return true;
}

void RowPrinter::row_begin(std::uint64_t row, const Sqlca* ca, bool no_data) {
    if (!ca && !no_data && !out_.pending && d_ >= 0 && d_ <= 32) {
        // The common "ROW r:" line in one reservation: 32 blanks stored,
        // the indentation's worth kept.
        char* const line = out_.w->reserve(32 + 32);
        std::memset(line, ' ', 32);
        char* p = line + d_;
        std::memcpy(p, "ROW ", 4);
        p = put_uint(p + 4, row);
        *p++ = ':';
        *p++ = '\n';
        out_.w->commit(static_cast<std::size_t>(p - line));
        return;
    }
    out_.line(d_);
    write_row_line(*out_.w, row, ca, no_data, td_);
    if (ca) s_.sqlca_details(out_, d_ + 2, *ca, td_);
}

void RowPrinter::heading() { out_.line(0); }

void RowPrinter::lob_announced(std::uint64_t row, const Column& c, const ColumnValue& v) {
    std::vector<PendingLob>& q = s_.lobs[side_];
    if (q.size() < kMaxColumns)
        q.push_back(PendingLob{row, static_cast<std::uint32_t>(v.number), c.drda, c.nullable(),
                               column_ccsid(c, td_, engine_.descriptor())});
}

void RowPrinter::stop(std::uint64_t row, std::string_view reason, std::size_t at) {
    TextWriter& w = *out_.w;
    out_.line(d_);
    w.put("ROW ");
    put_num(w, row);
    w.put(": not decoded: ");
    w.put(reason);
    w.put(" (at byte ");
    put_num(w, at);
    w.put(" of this object)\n");
}

}  // namespace drda::rows
