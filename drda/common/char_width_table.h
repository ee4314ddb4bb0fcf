// SPDX-License-Identifier: Apache-2.0
// The columns a character takes on a terminal, as sorted, disjoint ranges
// of code points (generated; see scripts/gen-char-width.py).
#pragma once

#include <cstddef>
#include <cstdint>

namespace drda::text {

struct CharRange {
    std::uint32_t first, last;
};

// East Asian wide and fullwidth characters: two columns.
extern const CharRange kWideRanges[];
extern const std::size_t kWideRangeCount;
// Combining marks, format characters and joining Hangul jamo: none.
extern const CharRange kZeroWidthRanges[];
extern const std::size_t kZeroWidthRangeCount;

}  // namespace drda::text
