// SPDX-License-Identifier: Apache-2.0
// The SQLCA and SQLDA lines of the row decoder: the SQLCA of an SQLCARD,
// SQLDARD or row, the SQLDA of an SQLDARD or SQLCINRD with one line per
// column or parameter, and the column names an SQLDA gives the rows of the
// queries it describes.
#include <cstring>
#include <memory>
#include <string>

#include "ddm/rows/ccsid_tables.h"
#include "ddm/rows/conversation_state.h"
#include "ddm/rows/row_text.h"
#include "ddm/rows/sqlca_reader.h"
#include "ddm/rows/sqlda_reader.h"
#include "ddm/rows/value_format.h"

namespace drda::rows {
namespace {

// A line written whole: no wrap within any line this file writes whole.
constexpr int kNoWrap = 4096;

void put_snum(TextWriter& w, std::int64_t v) {
    char buf[24];
    char* e = put_int(buf, v);
    w.put(std::string_view(buf, static_cast<std::size_t>(e - buf)));
}

void put_hex(TextWriter& w, const std::uint8_t* p, std::size_t n) {
    w.put("X'");
    for (std::size_t i = 0; i < n; ++i) put_hex2(w, p[i]);
    w.put('\'');
}

// SQLSTATE or SQLERRPROC: bare when every character is printable ASCII
// other than blank, '"' and '\'; else quoted and escaped; X'..' when the
// bytes do not decode.
void put_code(TextWriter& w, const std::uint8_t* p, std::size_t n, std::uint32_t ccsid) {
    const Charset* cs = find_charset(ccsid);
    // The common case first: a charset in which ASCII stands for itself and
    // bytes that are all bare ASCII characters.
    if (cs && (cs->encoding == Encoding::kUtf8 ||
               (cs->encoding == Encoding::kSingleByte && cs->table[0x41] == 0x41))) {
        bool plain = true;
        for (std::size_t i = 0; plain && i < n; ++i) {
            const std::uint8_t b = p[i];
            plain = b > 0x20 && b < 0x7F && b != '"' && b != '\\' && (cs->encoding == Encoding::kUtf8 || cs->table[b] == b);
        }
        if (plain) {
            w.put(std::string_view(reinterpret_cast<const char*>(p), n));
            return;
        }
    }
    bool bare = cs != nullptr;
    for (std::size_t at = 0; cs && at < n;) {
        std::uint32_t cp = 0;
        const int k = decode_char(*cs, p + at, n - at, cp);
        if (k <= 0) return put_hex(w, p, n);
        if (cp <= 0x20 || cp >= 0x7F || cp == '"' || cp == '\\') bare = false;
        at += static_cast<std::size_t>(k);
    }
    if (!cs) return put_hex(w, p, n);
    if (bare) {
        // Printable ASCII decoded one byte a character in every charset that
        // gets here except UTF-16, which never leaves `bare` set for 5 bytes.
        for (std::size_t at = 0; at < n;) {
            std::uint32_t cp = 0;
            at += static_cast<std::size_t>(decode_char(*cs, p + at, n - at, cp));
            w.put(static_cast<char>(cp));
        }
        return;
    }
    WrapWriter ww(w, kNoWrap, 0);
    write_chars(ww, ByteView(p, n), n, cs, ccsid);
}

bool identifier(ByteView b, const Charset* cs) {
    if (!cs || b.empty()) return false;
    std::size_t chars = 0;
    for (std::size_t at = 0; at < b.size();) {
        std::uint32_t cp = 0;
        const int k = decode_char(*cs, b.data() + at, b.size() - at, cp);
        if (k <= 0) return false;
        const bool alpha = (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || cp == '_' || cp == '$' ||
                           cp == '#' || cp == '@';
        const bool digit = cp >= '0' && cp <= '9';
        if (!(alpha || (digit && chars > 0))) return false;
        ++chars;
        at += static_cast<std::size_t>(k);
    }
    return chars <= kNameChars;
}

// A name as COL lines show it.
void put_name(TextWriter& w, ByteView b, std::uint32_t ccsid) {
    const Charset* cs = find_charset(ccsid);
    if (identifier(b, cs)) {
        for (std::size_t at = 0; at < b.size();) {
            std::uint32_t cp = 0;
            at += static_cast<std::size_t>(decode_char(*cs, b.data() + at, b.size() - at, cp));
            w.put(static_cast<char>(cp));
        }
        return;
    }
    WrapWriter ww(w, kNoWrap, 0);
    write_chars(ww, b, b.size(), cs, ccsid, kNameChars);
}

// " KEY "value"" as a value written behind what the line holds.
void value_field(TextWriter& w, int depth, const char* key, ByteView b, std::size_t total, std::uint32_t ccsid) {
    w.put(key);
    WrapWriter ww(w, depth, w.column());
    write_chars(ww, b, total, find_charset(ccsid), ccsid);
    ww.end();
}

std::uint32_t text_ccsid(const SqldaText& t, const Typdef& td) { return t.mixed ? td.mbc : td.sbc; }

}  // namespace

Typdef Conversation::State::sqlca_typdef(std::uint16_t corr) {
    Request* r = find_request(corr);
    Typdef td = r && r->has_reply_typdef ? r->reply_typdef : srv_typdef;
    // Before ACCRDBRM the server's character data is in its UNICODEMGR CCSID.
    if (!accrdbrm_seen && unicodemgr) {
        if (!td.sbc) td.sbc = unicodemgr;
        if (!td.mbc) td.mbc = unicodemgr;
    }
    return td;
}

// The lines under an SQLCA line (or a ROW line that shows one), at d.
void Conversation::State::sqlca_details(Out& g, int d, const Sqlca& ca, const Typdef& td) {
    TextWriter& w = *out;
    if (ca.null || !ca.has_errd) return;
    if (ca.sqlam <= 6) {
        bool blank = true;
        for (std::uint8_t b : ca.rdbnme) blank = blank && (b == 0x20 || b == 0x40 || b == 0);
        if (!blank) {
            g.line(d);
            value_field(w, d, "SQLRDBNME: ", ByteView(ca.rdbnme, sizeof ca.rdbnme), sizeof ca.rdbnme, td.sbc);
        }
    }
    // SQLWARN0..A: a flag is set when it is neither blank nor NUL.
    const Charset* sbc = find_charset(td.sbc);
    bool any = false;
    for (int i = 0; i < 11; ++i) {
        const std::uint8_t b = ca.sqlwarn[i];
        std::uint32_t cp = 0;
        const bool decoded = sbc && decode_char(*sbc, &b, 1, cp) == 1;
        if (b == 0 || (decoded && (cp == ' ' || cp == 0)) || (!sbc && (b == 0x20 || b == 0x40))) continue;
        if (!any) {
            g.line(d);
            w.put("SQLWARN:");
            any = true;
        }
        w.put(' ');
        w.put("0123456789A"[i]);
        w.put('=');
        if (decoded && cp > 0x20 && cp < 0x7F) {
            w.put(static_cast<char>(cp));
        } else {
            put_hex(w, &b, 1);
        }
    }
    if (any) w.put('\n');
    if (ca.sqlam >= 7 && ca.rdbname.total) {
        g.line(d);
        value_field(w, d, "SQLRDBNAME: ", ca.rdbname.view(), ca.rdbname.total, td.sbc);
    }
    const SqlcaText& msg = ca.message_field();
    if (msg.total) {
        const bool mixed = ca.message_is_mixed();
        const std::uint32_t ccsid = mixed ? td.mbc : td.sbc;
        Token tok[kMaxTokens];
        bool valid = false;
        const std::size_t n = split_tokens(msg.view(), ccsid, tok, kMaxTokens, valid);
        g.line(d);
        w.put(mixed ? "SQLERRMC: " : "SQLERRMC (SQLERRMSG_s): ");
        WrapWriter ww(w, d, w.column());
        if (!valid) {
            write_binary(ww, msg.view(), msg.total);
            char note[32] = " (CCSID ";
            char* e = put_uint(note + 8, ccsid);
            *e++ = ')';
            ww.unit(std::string_view(note, static_cast<std::size_t>(e - note)));
        } else {
            char head[32];
            char* e = put_uint(head, n);
            const std::string_view tail = n == 1 ? " token:" : " tokens:";
            std::memcpy(e, tail.data(), tail.size());
            ww.unit(std::string_view(head, static_cast<std::size_t>(e - head) + tail.size()));
            const Charset* cs = find_charset(ccsid);
            for (std::size_t i = 0; i < n && i < kMaxTokens; ++i) {
                ww.unit(" ");
                const ByteView t = msg.view().sub(tok[i].offset, tok[i].length);
                write_chars(ww, t, t.size(), cs, ccsid);
            }
            if (n > kMaxTokens) {
                char more[48] = " ...(";
                char* m = put_uint(more + 5, n);
                std::memcpy(m, " tokens)", 8);
                ww.unit(std::string_view(more, static_cast<std::size_t>(m + 8 - more)));
            }
            if (msg.total > msg.kept) {
                char more[48] = " ...(";
                char* m = put_uint(more + 5, msg.total);
                std::memcpy(m, " bytes)", 7);
                ww.unit(std::string_view(more, static_cast<std::size_t>(m + 7 - more)));
            }
        }
        ww.end();
    }
}

// The SQLCA line (the write position is at its depth) and its detail lines.
void Conversation::State::sqlca_line(Out& g, int d, const Sqlca& ca, const Typdef& td) {
    TextWriter& w = *out;
    w.put("SQLCA: ");
    if (ca.null) {
        w.put("null\n");
        return;
    }
    w.put("SQLCODE ");
    put_snum(w, ca.sqlcode);
    w.put(" SQLSTATE ");
    put_code(w, ca.sqlstate, 5, td.sbc);
    w.put(" SQLERRPROC ");
    put_code(w, ca.sqlerrproc, 8, td.sbc);
    if (ca.has_errd) {
        w.put(" SQLERRD");
        for (std::int32_t e : ca.sqlerrd) {
            w.put(' ');
            put_snum(w, e);
        }
    }
    w.put('\n');
    sqlca_details(g, d + 2, ca, td);
}

void Conversation::State::on_sqlcard(const Obj& o, DssCtx& ctx, int depth) {
    int d = depth + 2;
    Out g = open(ctx, o, "SQLCARD", d, "SQLCA");
    TextWriter& w = *out;
    const Typdef td = sqlca_typdef(ctx.corr);
    Sqlca ca;
    const SqlcaRead r = read_sqlca(o.value, SqlcaFormat{td.little, sqlam}, ca);
    g.line(d);
    if (!r.complete) {
        w.put("SQLCA: not decoded: object ends in ");
        w.put(r.ends_in);
        w.put(" (at byte ");
        put_num(w, r.end);
        w.put(" of this object)\n");
        return;
    }
    sqlca_line(g, d, ca, td);
    if (ca.diag) {
        // In an SQLCARD the SQLCA is the whole object: the SQLDIAGGRP runs
        // from its indicator to the end.
        g.line(d + 2);
        w.put("SQLDIAGGRP: ");
        put_num(w, o.value.size() - (r.end - 1));
        w.put(" bytes, not decoded\n");
    }
    if (!ca.null && ca.sqlcode != 0) {
        const Request* req = find_request(ctx.corr);
        if (req && (req->has_text || req->has_pkg)) sql_line(g, d + 2, request_text(*req));
    }
    if (!ca.diag && r.end < o.value.size()) {
        g.line(d);
        w.put("SQLCA: ");
        put_num(w, o.value.size() - r.end);
        w.put(" bytes after the SQLCA, not decoded\n");
    }
}

namespace {

void put_names(TextWriter& w, std::initializer_list<const SqldaText*> parts, const Typdef& td) {
    bool first = true;
    for (const SqldaText* t : parts) {
        if (t->empty()) continue;
        if (!first) w.put('.');
        put_name(w, t->bytes, text_ccsid(*t, td));
        first = false;
    }
}

void quoted_field(TextWriter& w, const char* key, const SqldaText& t, const Typdef& td) {
    if (t.empty()) return;
    w.put(key);
    const std::uint32_t ccsid = text_ccsid(t, td);
    WrapWriter ww(w, kNoWrap, 0);
    write_chars(ww, t.bytes, t.bytes.size(), find_charset(ccsid), ccsid);
}

void put_i2_field(TextWriter& w, const char* key, std::int64_t v) {
    w.put(key);
    put_snum(w, v);
}

// "COL i NAME: ..." or "PARAM i: ..." of one SQLDAGRP, after the indentation.
void write_sqlda_line(TextWriter& w, int i, const SqldaColumn& c, bool param, const std::string& name,
                      const Typdef& td) {
    w.put(param ? "PARAM " : "COL ");
    put_num(w, static_cast<std::uint64_t>(i));
    if (!param && !name.empty()) {
        w.put(' ');
        w.put(name);
    }
    w.put(": ");
    w.put(sqltype_name(c.sqltype));
    if (c.sqltype & 1) w.put(" NULLABLE");
    w.put(" (");
    put_snum(w, c.sqltype);
    put_i2_field(w, ") LENGTH ", c.length);
    put_i2_field(w, " PRECISION ", c.precision);
    put_i2_field(w, " SCALE ", c.scale);
    if (c.ccsid) put_i2_field(w, " CCSID ", c.ccsid);
    if (c.unnamed) w.put(" UNNAMED");
    quoted_field(w, " LABEL ", c.label, td);
    quoted_field(w, " COMMENT ", c.comments, td);
    if (c.has_udt) {
        w.put(" UDT ");
        const std::uint32_t ccsid = text_ccsid(c.udt_name, td);
        WrapWriter ww(w, kNoWrap, 0);
        write_chars(ww, c.udt_name.bytes, c.udt_name.bytes.size(), find_charset(ccsid), ccsid);
        quoted_field(w, " CLASS ", c.udt_class, td);
    }
    if (c.has_dx) {
        if (!c.basename.empty()) {
            w.put(" BASE ");
            put_names(w, {&c.schema, &c.basename, &c.xname}, td);
        }
        if (!c.corname.empty()) {
            w.put(" CORRELATION ");
            put_names(w, {&c.corname}, td);
        }
        if (!c.rdbnam.empty()) {
            w.put(" RDB ");
            WrapWriter ww(w, kNoWrap, 0);
            write_chars(ww, c.rdbnam.bytes, c.rdbnam.bytes.size(), find_charset(td.sbc), td.sbc);
        }
        if (c.keymem) w.put(" KEY");
        if (c.updatable) w.put(" UPDATABLE");
        if (c.generated) put_i2_field(w, " GENERATED ", c.generated);
        if (c.parmmode) {
            w.put(" MODE ");
            switch (c.parmmode) {
                case 1: w.put("IN"); break;
                case 2: w.put("INOUT"); break;
                case 4: w.put("OUT"); break;
                default: put_snum(w, c.parmmode); break;
            }
        }
    }
    w.put('\n');
}

}  // namespace

void Conversation::State::on_sqlda(const Obj& o, DssCtx& ctx, int depth, bool cinrd) {
    int d = depth + 2;
    Out g = open(ctx, o, cinrd ? "SQLCINRD" : "SQLDARD", d, "SQLDA");
    TextWriter& w = *out;
    const Typdef td = sqlca_typdef(ctx.corr);
    std::size_t off = 0;
    bool failed = false;
    if (!cinrd) {
        Sqlca ca;
        const SqlcaRead r = read_sqlca(o.value, SqlcaFormat{td.little, sqlam}, ca);
        g.line(d);
        if (!r.complete || ca.diag) {
            w.put("SQLCA: not decoded: ");
            if (ca.diag) {
                w.put("SQLDIAGGRP present\n");
                return;
            }
            w.put("object ends in ");
            w.put(r.ends_in);
            w.put(" (at byte ");
            put_num(w, r.end);
            w.put(" of this object)\n");
            return;
        }
        sqlca_line(g, d, ca, td);
        failed = !ca.null && ca.sqlcode < 0;
        off = r.end;
    }
    Request* req = find_request(ctx.corr);
    const bool described = req && (req->cp == kCpPrpsqlstt || req->cp == kCpDscsqlstt);
    const bool params = !cinrd && described && (req->typsqlda & 1);
    SqldaReader rd(o.value, off, td.little, sqlam, cinrd);
    SqldaHeader h;
    g.line(d);
    if (!rd.header(h)) {
        w.put("SQLDA: not decoded: ");
        w.put(rd.error());
        w.put('\n');
        return;
    }
    w.put("SQLDA: ");
    put_num(w, static_cast<std::uint64_t>(h.count));
    w.put(params ? (h.count == 1 ? " parameter\n" : " parameters\n") : (h.count == 1 ? " column\n" : " columns\n"));
    if (!cinrd && req && (req->has_text || req->has_pkg)) sql_line(g, d + 2, request_text(*req));
    if (h.has_dh) {
        g.line(d + 2);
        w.put("SQLDH: HOLD ");
        put_snum(w, h.dh[0]);
        put_i2_field(w, " RETURN ", h.dh[1]);
        put_i2_field(w, " SCROLL ", h.dh[2]);
        put_i2_field(w, " SENSITIVE ", h.dh[3]);
        put_i2_field(w, " FCODE ", h.dh[4]);
        put_i2_field(w, " KEYTYPE ", h.dh[5]);
        if (!h.rdbnam.empty()) {
            w.put(" RDBNAM ");
            WrapWriter ww(w, kNoWrap, 0);
            write_chars(ww, h.rdbnam.bytes, h.rdbnam.bytes.size(), find_charset(td.sbc), td.sbc);
        }
        quoted_field(w, " SCHEMA ", h.schema, td);
        w.put('\n');
    }
    // The names as COL lines show them, formatted once.
    auto names = std::make_shared<Names>();
    names->record = record;
    names->from = cinrd ? "SQLCINRD" : "SQLDARD";
    std::string name;
    StringSink sink(name);
    TextWriter nw(sink);
    nw.set_text_mode(w.text_mode());
    SqldaColumn c;
    int i = 0;
    while (rd.next(c)) {
        ++i;
        name.clear();
        if (!params && !c.name.empty()) {
            put_name(nw, c.name.bytes, text_ccsid(c.name, td));
            nw.flush();
        }
        g.line(d + 2);
        write_sqlda_line(w, i, c, params, name, td);
        if (!params && names->bytes <= kMaxNameBytes) {
            names->bytes += name.size() + sizeof(std::string);
            names->text.push_back(name);
        }
    }
    if (!rd.error().empty()) {
        g.line(d);
        w.put("SQLDA: not decoded: ");
        w.put(rd.error());
        w.put('\n');
        return;
    }
    if (rd.offset() < o.value.size()) {
        g.line(d);
        w.put("SQLDA: ");
        put_num(w, o.value.size() - rd.offset());
        w.put(" bytes after the last SQLDAGRP, not decoded\n");
        return;
    }
    // Which rows these names describe (none beyond the bound on names).
    if (params || failed || names->bytes > kMaxNameBytes) return;
    std::shared_ptr<const Names> keep = std::move(names);
    if (cinrd) {
        if (Query* q = current_query(ctx.corr)) q->names = keep;
        return;
    }
    if (!req) return;
    if (Section* s = section_of(*req)) set_section_names(*s, keep);
    if (req->cp == kCpOpnqry) {
        if (Query* q = current_query(ctx.corr)) {
            q->names = keep;
            q->names_checked = false;
        }
    }
}

}  // namespace drda::rows
