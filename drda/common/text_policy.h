// SPDX-License-Identifier: Apache-2.0
// How text taken from the input is shown: which output may carry
// characters beyond ASCII, which characters are never written raw, and
// how many columns a character takes on a terminal.
//
// Whatever the output, a character that could drive a terminal or make
// text read differently from what it is never reaches it raw: control
// characters (C0, DEL, C1), the bidirectional embeddings, overrides and
// isolates, and the invisible format characters. They are written as
// escapes in every mode, as are bytes that are not valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/text_writer.h"

namespace drda::text {

// Whether the environment's locale has UTF-8 as its character set,
// decided as ls and grep decide: the first of LC_ALL, LC_CTYPE and LANG
// that is set and not empty names the locale, and the C library says
// its character set (a locale that is not installed counts as C). The
// program's own locale is left as it was.
bool environment_is_utf8();

// The mode of output that goes to a terminal or file: utf8 when the
// locale is UTF-8 and `ascii` (--ascii) is not asked for.
TextMode output_mode(bool ascii);

// Length of the valid UTF-8 character at s[i] and its code point in `cp`;
// 0 when the bytes there are not one (overlong forms, surrogates and cut
// sequences included).
std::size_t utf8_char(std::string_view s, std::size_t i, std::uint32_t& cp);

// Writes `cp` as UTF-8 at `out` (room for 4); returns the bytes written.
std::size_t put_utf8(std::uint32_t cp, char* out);

// Whether a character is never written raw: C0 and C1 controls and DEL,
// U+061C, U+200B..U+200F, U+2028..U+202E, U+2060..U+206F, U+FEFF,
// U+FFF9..U+FFFB and the tags U+E0000..U+E007F.
bool hidden(std::uint32_t cp);

// Columns a printable character takes: 2 for East Asian wide and
// fullwidth characters, 0 for combining marks, 1 for the others.
int char_width(std::uint32_t cp);

// Columns `s` takes when written as it is: its characters' widths, one
// for each byte that is not valid UTF-8. Equal to s.size() for ASCII.
std::size_t display_width(std::string_view s);

// Text as a line of the -s view shows it. Printable ASCII as it is, the
// backslash doubled and, with `quoted`, '"' as \"; tab, newline and
// carriage return as \t \n \r; bytes that are not valid UTF-8 as \xNN.
// Other characters: in ascii mode, and in utf8 mode when hidden(), as
// \uXXXX (\UXXXXXXXX past the first plane, other control characters
// \u00NN); in utf8 mode the rest as UTF-8. The mode is the writer's.
void put_visible(TextWriter& w, std::string_view text, bool quoted = false);

}  // namespace drda::text
