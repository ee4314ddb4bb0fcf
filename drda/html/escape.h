// SPDX-License-Identifier: Apache-2.0
// The one way text taken from the input reaches the HTML page: escaped
// where it is written, so that it is only ever character data or the value
// of a quoted attribute, never markup, script, a URL or an attribute name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/text_writer.h"

namespace drda::html {

// `text` with & < > " ' as character references; control characters other
// than tab and newline as the visible symbols of the Control Pictures block
// (U+2400 + code, U+2421 for DEL), so that they show and do nothing.
// Valid UTF-8 passes unchanged (the page is UTF-8) except the characters
// text::hidden() names (C1 controls, bidirectional controls, invisible
// format characters), written as \uXXXX; a byte that is not part of a
// valid sequence is written as \xNN.
void put_escaped(TextWriter& w, std::string_view text);

// At most `max` bytes of `text` (cut back to the start of a UTF-8
// character), escaped, then "..." when it was cut: the cut comes before
// the escaping, so no character reference is ever split.
void put_escaped_cut(TextWriter& w, std::string_view text, std::size_t max);

// Text as the -s view prints it in a UTF-8 locale (put_printable in utf8
// mode), cut to `max` bytes of the original, then escaped.
void put_printable_escaped(TextWriter& w, std::string_view text, std::size_t max = std::string_view::npos);

// The same into a string (titles, attribute values).
std::string escaped(std::string_view text);

}  // namespace drda::html
