// SPDX-License-Identifier: Apache-2.0
#include "ddm/printers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "listing/display.h"
#include "listing/dump_lines.h"

namespace drda {
namespace {

// Appends h hex pairs of `bytes` at p; returns the new end.
inline char* put_hex(char* p, const std::uint8_t* bytes, std::size_t h) {
    for (std::size_t i = 0; i < h; ++i, p += 2) put_hex_pair(p, bytes[i]);
    return p;
}

inline char* put_blanks(char* p, std::size_t n) {
    std::memset(p, ' ', n);
    return p + n;
}

int clamp_depth(int depth) { return depth > 0 ? depth : 0; }

}  // namespace

void write_indent(TextWriter& out, int depth) { out.spaces(depth); }

void write_wrapped(TextWriter& out, int depth, std::string_view text) { write_wrapped_at(out, depth, text, out.column()); }

void write_wrapped_at(TextWriter& out, int depth, std::string_view text, std::size_t column) {
    const long long on_line = static_cast<long long>(column);
    const long long room = static_cast<long long>(depth) + 70 - on_line;
    std::size_t pos = 0;
    if (room > 0) {
        pos = std::min<std::size_t>(text.size(), static_cast<std::size_t>(room));
        out.put(text.substr(0, pos));
    }
    out.put('\n');
    while (pos < text.size()) {
        std::size_t n = std::min<std::size_t>(70, text.size() - pos);
        out.spaces(depth);
        out.put(text.substr(pos, n));
        out.put('\n');
        pos += n;
    }
}

void print_data_dump(TextWriter& out, int depth, ByteView value) {
    const std::size_t d = static_cast<std::size_t>(clamp_depth(depth));
    out.spaces(depth);
    out.put("DATA:                              (ASCII)          (EBCDIC)\n");
    const std::uint8_t* bytes = value.data();
    const std::size_t n = value.size();
    // Full lines of 16 bytes, many per reservation:
    // "HHHHHHHHHHHHHHHH HHHHHHHHHHHHHHHH  AAAAAAAAAAAAAAAA EEEEEEEEEEEEEEEE\n".
    const std::size_t line = d + 69;
    constexpr std::size_t kBatchBytes = 32 * 1024;
    const std::size_t per_batch = kBatchBytes / line > 0 ? kBatchBytes / line : 1;
    std::size_t off = 0;
    // The vector line writer takes lines of up to 128 characters.
    DumpShape shape;
    const bool vector = n >= 16 && line <= kShapeMaxWidth && vector_dump_lines();
    if (vector) {
        std::memset(shape.index, kShapeBlank, line);
        for (std::uint8_t j = 0; j < 16; ++j) {
            shape.index[d + j] = j;
            shape.index[d + 17 + j] = static_cast<std::uint8_t>(16 + j);
            shape.index[d + 35 + j] = static_cast<std::uint8_t>(32 + j);
            shape.index[d + 52 + j] = static_cast<std::uint8_t>(48 + j);
        }
        shape.index[line - 1] = kShapeNewline;
        shape.width = line;
    }
    while (n - off >= 16) {
        std::size_t lines = (n - off) / 16;
        if (lines > per_batch) lines = per_batch;
        char* p = out.reserve(lines * line);
        if (vector) {
            put_dump_lines(p, line, bytes + off, lines, shape, 0);
            out.commit(lines * line);
            off += lines * 16;
            continue;
        }
        for (std::size_t l = 0; l < lines; ++l, off += 16) {
            const std::uint8_t* row = bytes + off;
            if (d <= 32) {
                // Indentation as 32 blanks of fixed size (the line is longer),
                // the depth's worth kept.
                std::memset(p, ' ', 32);
                p += d;
            } else {
                p = put_blanks(p, d);
            }
            put_hex_ascii_sixteen(p, p + 17, p + 35, row);
            p[16] = ' ';
            p[33] = ' ';
            p[34] = ' ';
            p[51] = ' ';
            put_ebcdic_eight(p + 52, row);
            put_ebcdic_eight(p + 60, row + 8);
            p[68] = '\n';
            p += 69;
        }
        out.commit(lines * line);
    }
    if (off < n) {
        // The last, short line.
        const std::size_t r = n - off;
        const std::size_t h1 = std::min<std::size_t>(8, r);
        const std::size_t h2 = r - h1;
        const std::uint8_t* row = bytes + off;
        char* const start = out.reserve(d + 70);
        char* p = put_blanks(start, d);
        p = put_hex(p, row, h1);
        p = put_blanks(p, 17 - 2 * h1);
        p = put_hex(p, row + h1, h2);
        p = put_blanks(p, 2 * (9 - h2));
        for (std::size_t i = 0; i < r; ++i) *p++ = ascii_display(row[i]);
        p = put_blanks(p, 17 - r);
        for (std::size_t i = 0; i < r; ++i) *p++ = ebcdic_display(row[i]);
        *p++ = '\n';
        out.commit(static_cast<std::size_t>(p - start));
    }
}

void print_hex_string(TextWriter& out, int depth, ByteView value) {
    const std::size_t d = static_cast<std::size_t>(clamp_depth(depth));
    out.spaces(depth);
    out.put("DATA: ");
    if (value.empty()) {
        out.put('\n');
        return;
    }
    const std::uint8_t* bytes = value.data();
    for (std::size_t off = 0; off < value.size(); off += 16) {
        const std::size_t r = std::min<std::size_t>(16, value.size() - off);
        const std::size_t h1 = std::min<std::size_t>(8, r);
        const std::size_t h2 = r - h1;
        char* const start = out.reserve(d + 6 + 40);
        char* p = start;
        if (off != 0) p = put_blanks(p, d + 6);
        p = put_hex(p, bytes + off, h1);
        p = put_blanks(p, 17 - 2 * h1);
        p = put_hex(p, bytes + off + h1, h2);
        *p++ = '\n';
        out.commit(static_cast<std::size_t>(p - start));
    }
}

void print_char_string(TextWriter& out, int depth, ByteView value) {
    // Short values (nearly all) are shown from room on the stack.
    char small[256];
    std::string large;
    char* text = small;
    if (value.size() > sizeof small) {
        large.resize(value.size());
        text = large.data();
    }
    const std::string_view shown(text, value.size());
    // Both lines begin at a line start but for the first when the caller
    // left text on the line; then the column is looked up.
    const std::size_t indent = static_cast<std::size_t>(clamp_depth(depth));
    const bool fresh = out.at_line_start();
    const std::size_t first_column = fresh ? 0 : out.column();
    out.spaces(depth);
    out.put("ASCII: ");
    for (std::size_t i = 0; i < value.size(); ++i) text[i] = ascii_display(value.u8(i));
    write_wrapped_at(out, depth, shown, first_column + indent + 7);
    out.spaces(depth);
    out.put("EBCDIC: ");
    for (std::size_t i = 0; i < value.size(); ++i) text[i] = ebcdic_display(value.u8(i));
    write_wrapped_at(out, depth, shown, indent + 8);
}

namespace {

// "DECIMAL:     d" and "HEXADECIMAL: h" (hex of at least `digits` digits).
void decimal_and_hex(TextWriter& out, int depth, std::int64_t v, std::uint64_t hex, int digits) {
    out.spaces(depth);
    out.put("DECIMAL:     ");
    out.put_dec(v);
    out.put('\n');
    out.spaces(depth);
    out.put("HEXADECIMAL: ");
    out.put_hex(hex, digits);
    out.put('\n');
}

}  // namespace

void print_binary_number(TextWriter& out, int depth, ByteView value) {
    switch (value.size()) {
        case 1: {
            const int v = static_cast<std::int8_t>(value.u8(0));
            decimal_and_hex(out, depth, v, static_cast<unsigned>(v), 2);
            break;
        }
        case 2: {
            const int v = value.sbe16(0);
            decimal_and_hex(out, depth, v, static_cast<unsigned>(v), 4);
            break;
        }
        case 4: {
            const std::int32_t v = value.sbe32(0);
            decimal_and_hex(out, depth, v, static_cast<unsigned>(v), 8);
            break;
        }
        case 8: {
            const std::uint64_t v = value.be64(0);
            out.spaces(depth);
            out.put("DECIMAL:     ");
            out.put_udec(v);
            out.put('\n');
            out.spaces(depth);
            out.put("HEXADECIMAL: ");
            out.put_hex(v, 16);
            out.put('\n');
            break;
        }
        default:
            print_data_dump(out, depth, value);
    }
}

void print_boolean(TextWriter& out, int depth, ByteView value) {
    if (value.empty()) {
        print_data_dump(out, depth, value);
        return;
    }
    out.spaces(depth);
    switch (value.u8(0)) {
        case 0xF0: out.put("BOOLEAN: FALSE\n"); break;
        case 0xF1: out.put("BOOLEAN: TRUE\n"); break;
        default: out.put("BOOLEAN: ????\n"); break;
    }
}

void print_byte_reversed_int(TextWriter& out, int depth, ByteView value) {
    const std::uint32_t b0 = value.u8(0), b1 = value.u8(1), b2 = value.u8(2), b3 = value.u8(3);
    const auto low_first = static_cast<std::int32_t>(b0 | (b1 << 8) | (b2 << 16) | (b3 << 24));
    const auto high_first = static_cast<std::int32_t>((b0 << 24) | (b1 << 16) | (b2 << 8) | b3);
    out.spaces(depth);
    out.put("DECIMAL:     ");
    out.put_dec(low_first);
    out.put("     (if byte-reversed: ");
    out.put_dec(high_first);
    out.put(") \n");
    out.spaces(depth);
    out.put("HEXADECIMAL: ");
    out.put_hex(static_cast<unsigned>(low_first), 8);
    out.put(" (if byte-reversed: ");
    out.put_hex(static_cast<unsigned>(high_first), 8);
    out.put(")\n");
}

void print_ipaddr(TextWriter& out, int depth, ByteView value) {
    if (value.size() != 6) {
        print_data_dump(out, depth, value);
        return;
    }
    out.spaces(depth);
    out.printf("TCPADDR = %i.%i.%i.%i\n", value.u8(0), value.u8(1), value.u8(2), value.u8(3));
    out.spaces(depth);
    out.printf("TCPPORT = %hi\n", value.sbe16(4));
}

void print_tcpporthost(TextWriter& out, int depth, ByteView value) {
    if (value.size() < 2) {
        print_data_dump(out, depth, value);
        return;
    }
    out.spaces(depth);
    out.printf("TCPPORT = %hi\n", value.sbe16(0));
    out.spaces(depth);
    out.put("TCPHOST = \n");
    print_char_string(out, depth + 2, value.sub(2));
}

void print_uowid(TextWriter& out, int depth, ByteView value) {
    if (value.size() != 25) {
        print_data_dump(out, depth, value);
        return;
    }
    out.spaces(depth);
    out.put("* NETNAME:\n");
    print_char_string(out, depth, value.sub(0, 17));
    out.spaces(depth);
    out.put("* INSTANCE:\n");
    print_data_dump(out, depth, value.sub(17, 6));
    out.spaces(depth);
    out.put("* SEQUENCE:\n");
    print_binary_number(out, depth, value.sub(23, 2));
}

void print_rlsconv(TextWriter& out, int depth, ByteView value) {
    if (value.empty()) {
        print_data_dump(out, depth, value);
        return;
    }
    out.spaces(depth);
    switch (value.u8(0)) {
        case 0xF0: out.put("RLSCONV NO\n"); break;
        case 0xF1: out.put("RLSCONV TERMINATE\n"); break;
        case 0xF2: out.put("RLSCONV REUSE\n"); break;
        default: out.put("RLSCONV UNKNOWN\n"); break;
    }
}

}  // namespace drda
