// SPDX-License-Identifier: Apache-2.0
// The dump of one piece, 16 bytes a line:
//
//   "  OOOO  HHHHHHHHHHHHHHHH HHHHHHHHHHHHHHHH   AAAAAAAAAAAAAAAA  EEEEEEEEEEEEEEEE\n"
//
// Offset at column 2, hex area at 8 (34 characters), ASCII column at 44
// (16 characters), EBCDIC column at 62 (only as long as the line's bytes).
// This is the bulk of the tool's output, so whole lines are assembled in the
// writer's buffer from tables, many lines per reservation, and the columns of
// full lines are stored eight characters at a time (or whole lines are made
// by vector permutes where the processor has them: dump_lines.h).
#include "listing/char_dump.h"

#include <cstdint>
#include <cstring>

#include "listing/display.h"
#include "listing/dump_lines.h"

namespace drda {
namespace {

constexpr std::size_t kHeadingWidth = 45;
constexpr std::string_view kTitles = "(ASCII)           (EBCDIC)\n";
constexpr std::string_view kColumnHeader =
    "         0 1 2 3 4 5 6 7  8 9 A B C D E F   0123456789ABCDEF  0123456789ABCDEF\n";

constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kHexAt = 8;
constexpr std::size_t kHexWidth = 34;
constexpr std::size_t kAsciiAt = 44;
constexpr std::size_t kEbcdicAt = 62;
constexpr std::size_t kFullLine = kEbcdicAt + kBytesPerLine + 1;  // 79 with the newline
// Full lines written per reservation (about 40 KiB of text).
constexpr std::size_t kLinesPerBatch = 512;

// "  OOOO  ": the offset within the piece, modulo 65536.
inline void put_offset(char* o, std::size_t offset) {
    o[0] = ' ';
    o[1] = ' ';
    put_hex_pair(o + 2, static_cast<std::uint8_t>(offset >> 8));
    put_hex_pair(o + 4, static_cast<std::uint8_t>(offset));
    o[6] = ' ';
    o[7] = ' ';
}

// One line of 16 bytes; `o` has room for kFullLine characters.
inline void put_full_line(char* o, const std::uint8_t* p, std::size_t offset) {
    put_offset(o, offset);
    char* hex = o + kHexAt;
    put_hex_ascii_sixteen(hex, hex + 17, o + kAsciiAt, p);
    hex[16] = ' ';
    hex[33] = ' ';
    o[kAsciiAt - 2] = ' ';
    o[kAsciiAt - 1] = ' ';
    o[kEbcdicAt - 2] = ' ';
    o[kEbcdicAt - 1] = ' ';
    put_ebcdic_eight(o + kEbcdicAt, p);
    put_ebcdic_eight(o + kEbcdicAt + 8, p + 8);
    o[kFullLine - 1] = '\n';
}

// The last line of a piece, with 1 to 15 bytes. A complete first group of
// eight is followed by a blank and the second group; an incomplete group
// gets no blank. Returns the number of characters written.
std::size_t put_short_line(char* o, const std::uint8_t* p, std::size_t k, std::size_t offset) {
    put_offset(o, offset);
    char* hex = o + kHexAt;
    std::size_t h = 0;
    for (std::size_t j = 0; j < k && j < 8; ++j, h += 2) put_hex_pair(hex + h, p[j]);
    if (k >= 8) {
        hex[h++] = ' ';
        for (std::size_t j = 8; j < k; ++j, h += 2) put_hex_pair(hex + h, p[j]);
    }
    std::memset(hex + h, ' ', kHexWidth - h + 2);
    char* ascii = o + kAsciiAt;
    for (std::size_t j = 0; j < k; ++j) ascii[j] = ascii_display(p[j]);
    std::memset(ascii + k, ' ', kBytesPerLine - k + 2);
    char* ebcdic = o + kEbcdicAt;
    for (std::size_t j = 0; j < k; ++j) ebcdic[j] = ebcdic_display(p[j]);
    ebcdic[k] = '\n';
    return kEbcdicAt + k + 1;
}

// The full line as a shape for the vector line writer.
constexpr DumpShape full_line_shape() {
    DumpShape s;
    for (std::size_t i = 0; i < kFullLine; ++i) s.index[i] = kShapeBlank;
    for (std::uint8_t j = 0; j < 16; ++j) {
        s.index[kHexAt + j] = j;
        s.index[kHexAt + 17 + j] = static_cast<std::uint8_t>(16 + j);
        s.index[kAsciiAt + j] = static_cast<std::uint8_t>(32 + j);
        s.index[kEbcdicAt + j] = static_cast<std::uint8_t>(48 + j);
    }
    s.index[kFullLine - 1] = kShapeNewline;
    s.width = kFullLine;
    s.offset_at = 2;
    return s;
}
constexpr DumpShape kFullLineShape = full_line_shape();

}  // namespace

void print_char_dump(TextWriter& out, ByteView piece, std::string_view heading) {
    out.put('\n');
    out.put(heading);
    if (heading.size() < kHeadingWidth) out.spaces(static_cast<int>(kHeadingWidth - heading.size()));
    out.put(kTitles);
    out.put(kColumnHeader);

    const std::uint8_t* p = piece.data();
    const std::size_t n = piece.size();
    std::size_t i = 0;
    while (n - i >= kBytesPerLine) {
        std::size_t lines = (n - i) / kBytesPerLine;
        if (lines > kLinesPerBatch) lines = kLinesPerBatch;
        char* o = out.reserve(lines * kFullLine);
        if (vector_dump_lines()) {
            put_dump_lines(o, kFullLine, p + i, lines, kFullLineShape, i);
            i += lines * kBytesPerLine;
        } else {
            for (std::size_t l = 0; l < lines; ++l, o += kFullLine, i += kBytesPerLine) {
                put_full_line(o, p + i, i);
            }
        }
        out.commit(lines * kFullLine);
    }
    if (i < n) {
        char* o = out.reserve(kFullLine);
        out.commit(put_short_line(o, p + i, n - i, i));
    }
}

}  // namespace drda
