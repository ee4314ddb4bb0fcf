// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/conversation.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ddm/rows/ccsid_tables.h"
#include "ddm/rows/conversation_state.h"
#include "ddm/rows/row_engine_feed.h"
#include "ddm/rows/row_text.h"
#include "ddm/rows/value_format.h"
#include "common/record.h"

namespace drda::rows {

// --- walk ------------------------------------------------------------------

void Conversation::State::begin(TextWriter& w, int direction, ByteView rec, ByteView carried) {
    ++record;
    out = &w;
    const std::uint8_t role = rec.u8(0);
    const bool sent = direction == kDirectionSend;
    side = (sent && role == 1) || (!sent && role != 1) ? kRequester : kServer;
    buf = rec.sub(1);
    next = 0;
    walk_done = false;
    in_dss = false;
    hook = Hook();

    DssAssembler& a = cut[side];
    if (!a.active()) return;
    const ByteView held = a.header();
    if (held.size() < 6 && held.size() == carried.size() &&
        (held.empty() || std::memcmp(held.data(), carried.data(), held.size()) == 0)) {
        // Only the header was cut off, and the -f decoder completes it from
        // this buffer itself: read the DSS in place when it ends here.
        const std::size_t n = held.size();
        std::uint8_t h[6];
        for (std::size_t i = 0; i < 6; ++i) h[i] = i < n ? held.u8(i) : buf.u8(i - n);
        const ByteView hv(h, 6);
        const std::uint16_t ll = hv.be16(0);
        if (buf.size() >= 6 - n && hv.u8(2) == 0xD0 && !(ll & 0x8000u) && ll >= 6 && ll - n <= buf.size()) {
            dss = DssCtx();
            dss.type = hv.u8(3) & 0x0F;
            dss.corr = hv.be16(4);
            dss.origin = DssCtx::kCut;
            dss.record = a.record();
            dss.lazy = true;
            body = buf.sub(6 - n, ll - 6u);
            body_off = 0;
            in_dss = true;
            next = ll - n;
            a.reset();
            return;
        }
    }
    next = a.feed(buf);
    DssCtx ctx;
    ctx.origin = DssCtx::kCut;
    ctx.record = a.record();
    if (a.malformed()) {
        walk_done = true;
        a.reset();
    } else if (a.complete()) {
        process_joined(a, ctx);
        a.reset();
    } else if (a.dropped()) {
        report_dropped(a, side);
    }
}

void Conversation::State::report_dropped(DssAssembler& a, Side s) {
    if (dropped_reported[s]) return;
    dropped_reported[s] = true;
    out->spaces(4);
    out->put("ROWS: not decoded: DSS longer than 1 MiB\n");
    // The query whose reply this was can no longer find its row boundaries.
    const ByteView h = a.header();
    if (s == kServer && h.size() >= 6) {
        if (Query* q = current_query(h.be16(4))) q->failure = "DSS longer than 1 MiB";
    }
}

void Conversation::State::process_joined(DssAssembler& a, DssCtx ctx) {
    if (a.dropped()) {
        report_dropped(a, side);
        return;
    }
    const ByteView j = a.joined();
    ctx.type = j.u8(3) & 0x0F;
    ctx.corr = j.be16(4);
    ctx.lazy = false;
    const ByteView payload = j.sub(6);
    Obj o;
    for (std::size_t off = 0; object_at(payload, off, o); off += o.whole.size()) handle(o, ctx, 4);
}

void Conversation::State::advance(std::size_t limit) {
    while (!walk_done) {
        if (in_dss) {
            Obj o;
            if (!object_at(body, body_off, o)) {
                in_dss = false;
                continue;
            }
            if (offset_of(o.whole.data()) > limit) return;
            body_off += o.whole.size();
            handle(o, dss, 4);
            continue;
        }
        if (next >= buf.size()) {
            walk_done = true;
            return;
        }
        if (next > limit) return;
        const ByteView rest = buf.sub(next);
        const std::uint16_t ll = rest.be16(0);
        if (rest.size() >= 6) {
            if (rest.u8(2) != 0xD0) {
                walk_done = true;  // no DSS here: the rest of the buffer is not read
                return;
            }
            if (!(ll & 0x8000u) && ll <= rest.size()) {
                if (ll < 6) {
                    walk_done = true;
                    return;
                }
                dss = DssCtx();
                dss.type = rest.u8(3) & 0x0F;
                dss.corr = rest.be16(4);
                dss.byte = next;
                dss.lazy = true;
                body = rest.sub(6, ll - 6u);
                body_off = 0;
                in_dss = true;
                next += ll;
                continue;
            }
        }
        // A continued DSS, or one that runs past the end of the buffer.
        DssAssembler& a = cut[side];
        a.start(record);
        dropped_reported[side] = false;
        DssCtx ctx;
        ctx.byte = next;
        ctx.origin = (ll & 0x8000u) ? DssCtx::kContinued : DssCtx::kPlain;
        next += a.feed(rest);
        if (a.malformed()) {
            walk_done = true;  // its lengths frame nothing: the rest is not read
            a.reset();
        } else if (a.complete()) {
            process_joined(a, ctx);
            a.reset();
        } else if (a.dropped()) {
            report_dropped(a, side);
        }
    }
}

// --- dispatch ----------------------------------------------------------------

void Conversation::State::handle(const Obj& o, DssCtx& ctx, int depth) {
    if (side == kRequester && (ctx.type == 1 || ctx.type == 5)) new_request(ctx.corr, o);
    switch (o.cp) {
        case kCpAccrdb: on_accrdb(o, req_typdef, true); break;
        case kCpAccrdbrm: on_accrdb(o, srv_typdef, false); break;
        case kCpExcsatrd: on_excsatrd(o); break;
        case kCpOpnqryrm: on_opnqryrm(o, ctx, depth); break;
        case kCpEndqryrm: on_endqryrm(o, ctx, depth); break;
        case kCpRslsetrm: on_rslsetrm(o, ctx); break;
        case kCpQrydsc: on_qrydsc(o, ctx); break;
        case kCpQrydta: on_qrydta(o, ctx, depth); break;
        case kCpSqldta: on_fdo(o, ctx, depth, false); break;
        case kCpSqldtard: on_fdo(o, ctx, depth, true); break;
        case kCpExtdta: on_extdta(o, ctx, depth); break;
        case kCpOutovr: on_outovr(o, ctx); break;
        case kCpSqlstt: on_sqlstt(o, ctx); break;
        case kCpTypdefnam:
        case kCpTypdefovr: on_typdef(o, ctx); break;
        case kCpSqlcard: on_sqlcard(o, ctx, depth); break;
        case kCpSqldard: on_sqlda(o, ctx, depth, false); break;
        case kCpSqlcinrd: on_sqlda(o, ctx, depth, true); break;
        default: break;
    }
}

void Conversation::State::apply_layout(Query& q) {
    q.current = q.has_ovr ? apply_override(q.base, q.ovr) : q.base;
    q.typdef = q.desc_typdef;
    q.dirty = false;
    const std::size_t empty = empty_columns(q.current);
    if (empty > kMaxEmptyColumns && q.failure.empty())
        q.failure = "descriptor: " + std::to_string(empty) + " columns take no bytes";
    if (!q.started) {
        q.engine.start(&q.current, q.typdef.little, sqlam);
        q.started = true;
    } else {
        q.engine.set_descriptor(&q.current);
        q.engine.set_little_endian(q.typdef.little);
    }
}

void Conversation::State::on_qrydsc(const Obj& o, const DssCtx& ctx) {
    Query* q = current_query(ctx.corr);
    if (!q) return;
    if (q->builder.failed() || q->builder.complete()) q->builder.reset();
    if (!q->builder.add(o.value) || !q->builder.complete()) return;
    Request* r = find_request(ctx.corr);
    q->desc_typdef = r && r->has_reply_typdef ? r->reply_typdef : srv_typdef;
    q->base = q->builder.take();
    q->have_desc = true;
    q->dirty = true;
    if (!q->started || q->engine.at_boundary()) apply_layout(*q);
}

void Conversation::State::on_qrydta(const Obj& o, DssCtx& ctx, int depth) {
    int d = depth + 2;
    Out g = open(ctx, o, "QRYDTA", d);
    Query* q = current_query(ctx.corr);
    const auto not_decoded = [&](std::string_view why) {
        g.line(d);
        out->put("ROWS: not decoded: ");
        out->put(why);
        out->put('\n');
    };
    if (!q) return not_decoded("no QRYDSC seen for this query");
    if (!q->failure.empty()) return not_decoded(q->failure);
    if (!q->have_desc) {
        if (q->builder.failed()) return not_decoded("descriptor: " + q->builder.error());
        if (q->builder.started()) return not_decoded("descriptor: no row layout (RLO)");
        return not_decoded("no QRYDSC seen for this query");
    }
    clear_lobs(kServer);
    rows_line(g, d, nullptr, q, q->current.columns.size(), q->typdef);
    sql_line(g, d, section_text(q->pkg));
    if (!q->names_checked) {
        // Names are matched to columns by position: a count that differs
        // leaves the rows without names.
        q->names_checked = true;
        if (q->names && q->names->text.size() != q->current.columns.size()) {
            g.line(d);
            out->put("ROWS: names from the ");
            out->put(q->names->from);
            out->put(" of record ");
            put_num(*out, q->names->record);
            out->put(" not used: ");
            put_num(*out, q->names->text.size());
            out->put(" names, ");
            put_num(*out, q->current.columns.size());
            out->put(" columns\n");
            q->names.reset();
        }
    }
    RowEngine& e = q->engine;
    if (e.mid_row()) {
        g.line(d);
        out->put("ROW ");
        put_num(*out, e.row());
        out->put(", continued:\n");
    }
    RowPrinter printer(*this, g, d, q->typdef, e, q, kServer);
    e.begin_object();
    e.feed_as(o.value, printer);
    if (e.stopped()) {
        if (q->failure.empty())
            q->failure = "query " + std::to_string(q->number) + " stopped at ROW " + std::to_string(e.row());
    } else if (e.mid_row()) {
        g.line(d);
        out->put("ROW ");
        put_num(*out, e.row());
        out->put(": continued in the next QRYDTA (column ");
        put_num(*out, e.column_in_progress());
        out->put(")\n");
    }
}

void Conversation::State::on_fdo(const Obj& o, DssCtx& ctx, int depth, bool reply) {
    // SQLDTA (request, input parameters) or SQLDTARD (reply, output
    // parameters or a singleton row): FDODSC, then FDODTA, one row.
    Request& r = request(ctx.corr);
    Typdef td = reply ? (r.has_reply_typdef ? r.reply_typdef : srv_typdef) : (r.has_typdef ? r.typdef : req_typdef);
    const Side s = reply ? kServer : kRequester;
    const char* what = reply ? "SQLDTARD" : "SQLDTA";
    bool have_fdodsc = false;
    fdo_builder.reset();
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp == kCpTypdefnam) td.set_name(m.value);
        if (m.cp == kCpTypdefovr) td.set_ccsids(m.value);
        if (m.cp == kCpFdodsc) {
            have_fdodsc = true;
            fdo_builder.reset();
            fdo_builder.add(m.value);
        }
        if (m.cp != kCpFdodta) return;
        int d = depth + 4;
        Out g = open(ctx, m, what, d);
        const auto not_decoded = [&](std::string_view why) {
            g.line(d);
            out->put("ROWS: not decoded: ");
            out->put(why);
            out->put('\n');
        };
        if (!have_fdodsc) return not_decoded("no FDODSC seen for this FDODTA");
        if (fdo_builder.failed()) return not_decoded("descriptor: " + fdo_builder.error());
        if (!fdo_builder.complete()) return not_decoded("descriptor: no row layout (RLO)");
        fdo_builder.take_into(fdo_desc);
        clear_lobs(s);
        rows_line(g, d, what, nullptr, fdo_desc.columns.size(), td);
        const Statement* text = r.has_text || r.has_pkg ? request_text(r) : nullptr;
        sql_line(g, d, text);
        RowPrinter printer(*this, g, d, td, fdo_engine, nullptr, s);
        fdo_engine.start(&fdo_desc, td.little, sqlam);
        fdo_engine.feed_as(m.value, printer);
        if (fdo_engine.mid_row()) {
            g.line(d);
            out->put("ROW ");
            put_num(*out, fdo_engine.row());
            out->put(": not decoded: FDODTA ends in column ");
            put_num(*out, fdo_engine.column_in_progress());
            out->put('\n');
        }
        // The next FDODTA of the object, if any, needs its own FDODSC.
        have_fdodsc = false;
    });
}

void Conversation::State::on_extdta(const Obj& o, DssCtx& ctx, int depth) {
    int d = depth + 2;
    Out g = open(ctx, o, "EXTDTA", d);
    std::vector<PendingLob>& q = lobs[side];
    if (lob_next[side] >= q.size()) {
        g.line(d);
        out->put("EXTDTA: no LOB value of an earlier row waits for it\n");
        return;
    }
    const PendingLob lob = q[lob_next[side]++];
    const ByteView v = o.value;
    const bool has_ind = lob.nullable && sqlam >= 7 && !v.empty();
    const std::size_t first = has_ind ? 1 : 0;
    const bool has_status = side == kRequester && derby_status_byte && v.size() > first;
    const ByteView data = v.sub(first, v.size() - first - (has_status ? 1 : 0));
    const TypeRow* type = find_type(lob.drda);
    TextWriter& w = *out;
    g.line(d);
    w.put("EXTDTA: ROW ");
    put_num(w, lob.row);
    w.put(" COL ");
    put_num(w, lob.column);
    w.put(' ');
    if (type) {
        w.put(type->name);
    } else {
        w.put("TYPE ");
        put_hex2(w, lob.drda);
    }
    if (has_ind) {
        w.put(", null indicator ");
        put_hex2(w, v.u8(0));
    }
    w.put(", length ");
    put_num(w, data.size());
    if (has_status) {
        w.put(", status byte ");
        put_hex2(w, v.u8(v.size() - 1));
    }
    w.put('\n');
    g.line(d + 2);
    w.put("VALUE: ");
    WrapWriter ww(w, d + 2, w.column());
    if (has_ind && v.u8(0) >= 0x80) {
        ww.unit("NULL");
    } else if (type && type->cls != CharClass::kNone) {
        write_chars(ww, data, data.size(), find_charset(lob.ccsid), lob.ccsid);
    } else {
        write_binary(ww, data, data.size());
    }
    ww.end();
}

// --- the observer --------------------------------------------------------------

Conversation::Conversation() : s_(std::make_unique<State>()) {}
Conversation::~Conversation() = default;

void Conversation::buffer_begin(TextWriter& out, int direction, ByteView record, ByteView carried) {
    s_->begin(out, direction, record, carried);
}

void Conversation::continued_dss(TextWriter& out, ByteView dss) {
    State& s = *s_;
    if (!s.in_buffer(dss.data())) return;
    s.out = &out;
    s.hook = State::Hook();
    s.hook.kind = State::Hook::kContinued;
    s.hook.offset = s.offset_of(dss.data());
    s.advance(s.hook.offset);
    s.hook = State::Hook();
}

void Conversation::object_done(TextWriter& out, std::uint16_t cp, ByteView object, ByteView value, int value_depth) {
    switch (cp) {
        case kCpQrydta:
        case kCpFdodta:
        case kCpExtdta:
        case kCpOpnqryrm:
        case kCpEndqryrm:
        case kCpSqlcard:
        case kCpSqldard:
        case kCpSqlcinrd: break;
        default: return;
    }
    State& s = *s_;
    if (!s.in_buffer(object.data())) return;
    s.out = &out;
    s.hook = State::Hook();
    s.hook.kind = State::Hook::kObject;
    s.hook.offset = s.offset_of(object.data());
    s.hook.size = value.size();
    s.hook.cp = cp;
    s.hook.depth = value_depth;
    s.advance(s.hook.offset);
    s.hook = State::Hook();
}

void Conversation::buffer_end(TextWriter& out) {
    State& s = *s_;
    s.out = &out;
    s.hook = State::Hook();
    s.advance(SIZE_MAX);
}

void Conversation::bytes_missing(bool server_side) {
    const Side s = server_side ? kServer : kRequester;
    s_->cut[s].reset();
    s_->clear_lobs(s);
    for (Query& q : s_->queries)
        if (server_side && q.used && q.failure.empty()) q.failure = "bytes missing from the capture";
}

}  // namespace drda::rows
