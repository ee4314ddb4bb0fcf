// SPDX-License-Identifier: Apache-2.0
// Generic value printers and the line primitives every printer shares.
//
// Each printer writes whole lines that begin with `depth` spaces. A printer
// that cannot read its form from the value it is given (too short, wrong
// length) shows the whole value through the data dump instead.
#pragma once

#include <string_view>

#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

// Signature shared by every value printer reached by code point.
using ValuePrinter = void (*)(TextWriter& out, int depth, ByteView value);

// `depth` spaces; nothing for depth < 1.
void write_indent(TextWriter& out, int depth);

// `text` behind what already stands on the current line, wrapped so that no
// line passes depth + 70 characters; continuation lines begin with depth
// spaces and hold up to 70 characters. Always ends the line.
void write_wrapped(TextWriter& out, int depth, std::string_view text);
// The same when the caller knows the column the text starts at.
void write_wrapped_at(TextWriter& out, int depth, std::string_view text, std::size_t column);

// "DATA:" heading and 16-byte rows of hex, ASCII and EBCDIC.
void print_data_dump(TextWriter& out, int depth, ByteView value);
// "DATA: " and 16-byte rows of hex only.
void print_hex_string(TextWriter& out, int depth, ByteView value);
// "ASCII: " and "EBCDIC: " renderings, wrapped.
void print_char_string(TextWriter& out, int depth, ByteView value);
// DECIMAL/HEXADECIMAL lines of a 1-, 2-, 4- or 8-byte integer.
void print_binary_number(TextWriter& out, int depth, ByteView value);
// "BOOLEAN: " line from the first byte.
void print_boolean(TextWriter& out, int depth, ByteView value);
// A 4-byte integer read in both byte orders (the first 4 bytes of value).
void print_byte_reversed_int(TextWriter& out, int depth, ByteView value);

// Special printers of single code points.
void print_ipaddr(TextWriter& out, int depth, ByteView value);
void print_tcpporthost(TextWriter& out, int depth, ByteView value);
void print_uowid(TextWriter& out, int depth, ByteView value);
void print_rlsconv(TextWriter& out, int depth, ByteView value);

}  // namespace drda
