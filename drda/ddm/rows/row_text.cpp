// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/row_text.h"

#include <cstring>
#include <string>

#include "ddm/rows/value_format.h"
#include "listing/display.h"

namespace drda::rows {
namespace {

void put_snum(TextWriter& w, std::int64_t v) {
    char buf[24];
    char* e = put_int(buf, v);
    w.put(std::string_view(buf, static_cast<std::size_t>(e - buf)));
}

// Characters of a short SQLCA field in the sender's SBC CCSID when they are
// all printable, else its bytes in upper-case hex.
void put_code_text(TextWriter& w, const std::uint8_t* p, std::size_t n, std::uint32_t sbc) {
    char text[16];
    std::size_t k = 0;
    bool ok = false;
    if (const Charset* cs = find_charset(sbc)) {
        ok = true;
        std::size_t at = 0;
        while (ok && at < n) {
            std::uint32_t cp = 0;
            const int used = decode_char(*cs, p + at, n - at, cp);
            if (used <= 0 || cp < 0x20 || cp > 0x7E || k >= sizeof text) {
                ok = false;
            } else {
                text[k++] = static_cast<char>(cp);
                at += static_cast<std::size_t>(used);
            }
        }
    }
    if (ok) {
        w.put(std::string_view(text, k));
    } else {
        for (std::size_t i = 0; i < n; ++i) put_hex2(w, p[i]);
    }
}

}  // namespace

void put_hex2(TextWriter& w, std::uint8_t b) {
    char buf[2];
    put_hex_pair(buf, b);
    w.put(std::string_view(buf, 2));
}

void put_num(TextWriter& w, std::uint64_t v) {
    char* const p = w.reserve(20);
    w.commit(static_cast<std::size_t>(put_uint(p, v) - p));
}

void write_row_line(TextWriter& w, std::uint64_t row, const Sqlca* ca, bool no_data, const Typdef& td) {
    char* const line = w.reserve(32);
    std::memcpy(line, "ROW ", 4);
    char* p = put_uint(line + 4, row);
    *p++ = ':';
    if (!ca && !no_data) {
        *p++ = '\n';
        w.commit(static_cast<std::size_t>(p - line));
        return;
    }
    w.commit(static_cast<std::size_t>(p - line));
    if (ca) {
        w.put(" SQLCA SQLCODE ");
        put_snum(w, ca->sqlcode);
        w.put(" SQLSTATE ");
        put_code_text(w, ca->sqlstate, sizeof ca->sqlstate, td.sbc);
        w.put(" SQLERRPROC ");
        put_code_text(w, ca->sqlerrproc, sizeof ca->sqlerrproc, td.sbc);
        if (ca->has_errd) {
            w.put(" SQLERRD");
            for (std::int32_t e : ca->sqlerrd) {
                w.put(' ');
                put_snum(w, e);
            }
        }
    }
    if (no_data) w.put(" NO DATA");
    w.put('\n');
}

namespace {

// Appends s at p; returns the new end.
char* put_text(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

// The type as COL lines show it, into p (at most kTypeText characters).
char* format_type(char* p, const Column& c) {
    if (const TypeRow* row = find_type(c.drda)) {
        p = put_text(p, row->name);
    } else {
        p = put_text(p, "TYPE ");
        put_hex_pair(p, c.drda);
        p += 2;
    }
    switch (c.layout) {
        case Layout::kLengthWord:
        case Layout::kPrefix2:
        case Layout::kPrefix1:
            if (c.length != 0) {
                *p++ = '(';
                p = put_uint(p, c.length);
                *p++ = ')';
            }
            break;
        case Layout::kPacked:
        case Layout::kDigits:
            *p++ = '(';
            p = put_uint(p, c.length >> 8);
            *p++ = ',';
            p = put_uint(p, c.length & 0xFFu);
            *p++ = ')';
            break;
        default: break;
    }
    if (c.flags & kOutovr) p = put_text(p, " (OUTOVR)");
    return p;
}

}  // namespace

void write_type(TextWriter& w, const Column& c) {
    char buf[kTypeText];
    w.put(std::string_view(buf, static_cast<std::size_t>(format_type(buf, c) - buf)));
}

std::uint32_t column_ccsid(const Column& c, const Typdef& td, const Descriptor* d) {
    if (c.ccsid_ref != 0 && d && c.ccsid_ref <= d->ccsids.size()) return d->ccsids[c.ccsid_ref - 1u];
    const TypeRow* row = find_type(c.drda);
    return row ? td.ccsid(row->cls) : 0;
}

char* format_label_tail(char* p, const Column& c, std::string_view name) {
    if (!name.empty()) {
        p = put_text(p, name);
        *p++ = ' ';
    }
    p = format_type(p, c);
    *p++ = ':';
    *p++ = ' ';
    return p;
}

bool write_column_value(WrapWriter& ww, const Column& c, const ColumnValue& v, const Typdef& td,
                        const Charset* charset, std::uint32_t ccsid) {
    bool extdta = false;
    if (v.null) {
        if (v.indicator == 0xFF) {
            ww.unit("NULL");
        } else {
            char buf[] = "NULL (indicator XX)";
            put_hex_pair(buf + 16, v.indicator);
            ww.unit(std::string_view(buf, sizeof buf - 1));
        }
        ww.end();
        return false;
    }
    const TypeRow* type = find_type(c.drda);
    const Form form = type ? type->form : Form::kBinary;
    const std::size_t n = v.bytes.size();
    switch (form) {
        case Form::kInteger:
            if (n == 1 || n == 2 || n == 4 || n == 8) {
                write_integer(ww, v.bytes, td.little);
            } else {
                write_binary(ww, v.bytes, v.total);
            }
            break;
        case Form::kFloat:
            if (td.ieee && (n == 4 || n == 8)) {
                write_float(ww, v.bytes, td.little);
            } else {
                write_binary(ww, v.bytes, v.total);
                if (!td.ieee) ww.unit(std::string(" (") + td.name + " floating point)");
            }
            break;
        case Form::kDecimal:
            if (c.layout == Layout::kPacked) {
                write_packed(ww, v.bytes, c.length >> 8, c.length & 0xFF);
            } else {
                write_binary(ww, v.bytes, v.total);
            }
            break;
        case Form::kChars: write_chars(ww, v.bytes, v.total, charset, ccsid); break;
        case Form::kBoolean:
            if (n == 1 && v.bytes.u8(0) <= 1) {
                ww.unit(v.bytes.u8(0) ? "true" : "false");
            } else {
                write_binary(ww, v.bytes, v.total);
            }
            break;
        case Form::kLob: {
            // Length bytes of the placeholder: 0 = empty; high bit = length
            // unknown; else the length the EXTDTA will have.
            std::uint64_t length = 0;
            for (std::size_t i = 0; i < n; ++i) length = (length << 8) | v.bytes.u8(i);
            if (n > 0 && (v.bytes.u8(0) & 0x80)) {
                ww.unit("EXTDTA follows, length unknown");
                extdta = true;
            } else if (length == 0) {
                ww.unit("empty");
            } else {
                char buf[64] = "EXTDTA follows, length field ";
                char* e = put_uint(buf + 29, length);
                ww.unit(std::string_view(buf, static_cast<std::size_t>(e - buf)));
                extdta = true;
            }
            break;
        }
        case Form::kBinary:
        case Form::kRaw: write_binary(ww, v.bytes, v.total); break;
    }
    ww.end();
    return extdta;
}

bool write_column_line(TextWriter& w, int depth, const Column& c, const ColumnValue& v, const Typdef& td,
                       const Descriptor* d, std::string_view name) {
    // The label, written whole into the writer's buffer: "COL c [NAME ]TYPE: ".
    char* const label = w.reserve(label_room(name.size()));
    char* p = put_text(label, "COL ");
    p = put_uint(p, v.number);
    *p++ = ' ';
    p = format_label_tail(p, c, name);
    const std::size_t label_length = static_cast<std::size_t>(p - label);
    w.commit(label_length);
    WrapWriter ww(w, depth, static_cast<std::size_t>(depth > 0 ? depth : 0) + label_length);
    const TypeRow* type = find_type(c.drda);
    std::uint32_t ccsid = 0;
    const Charset* charset = nullptr;
    if (type && type->form == Form::kChars) {
        ccsid = column_ccsid(c, td, d);
        charset = find_charset(ccsid);
    }
    return write_column_value(ww, c, v, td, charset, ccsid);
}

}  // namespace drda::rows
