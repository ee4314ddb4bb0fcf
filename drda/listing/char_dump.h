// SPDX-License-Identifier: Apache-2.0
// The 16-bytes-a-line dump of one piece of a traced buffer, under its
// heading: offset, hex area, ASCII column, EBCDIC column.
#pragma once

#include <string_view>

#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

// Dumps `piece` under `heading` (padded with blanks to 45 characters; a
// longer heading is kept whole).
void print_char_dump(TextWriter& out, ByteView piece, std::string_view heading);

}  // namespace drda
