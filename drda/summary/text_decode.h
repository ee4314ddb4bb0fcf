// SPDX-License-Identifier: Apache-2.0
// Character data of the input as UTF-8 for the summary views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/byte_view.h"

namespace drda::summary {

// Appends `bytes` read in `ccsid` as UTF-8, at most `limit` bytes of
// output (a character that does not fit is left out). A CCSID without a
// known charset (0 among them) takes the bytes as they stand; a byte that
// is no character of the charset is kept as it stands when 0x80 or above
// (the JSON writer escapes it), else becomes U+FFFD.
void append_decoded(std::string& out, ByteView bytes, std::uint32_t ccsid, std::size_t limit);

}  // namespace drda::summary
