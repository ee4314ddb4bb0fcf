// The one rule by which every ASCII and EBCDIC column shows a byte, shared
// by the tables generated from it (display.cpp, ebcdic_table.cpp).
#pragma once

#include <array>
#include <cstdint>

namespace drda::display_rule {

// A character value is shown as itself from 0x20 to 0x7D; the tilde, DEL,
// control characters and everything from 0x80 up show as '.'.
constexpr char shown_as(std::uint8_t v) {
    return v >= 0x20 && v <= 0x7D ? static_cast<char>(v) : '.';
}

}  // namespace drda::display_rule

// Lists the elements 0..255 of a constexpr table, to initialise an exported
// plain array from a table generated at compile time.
#define DRDA_SPREAD_4(t, i) t[(i)], t[(i) + 1], t[(i) + 2], t[(i) + 3]
#define DRDA_SPREAD_16(t, i) \
    DRDA_SPREAD_4(t, i), DRDA_SPREAD_4(t, (i) + 4), DRDA_SPREAD_4(t, (i) + 8), DRDA_SPREAD_4(t, (i) + 12)
#define DRDA_SPREAD_64(t, i)                                                          \
    DRDA_SPREAD_16(t, i), DRDA_SPREAD_16(t, (i) + 16), DRDA_SPREAD_16(t, (i) + 32), \
        DRDA_SPREAD_16(t, (i) + 48)
#define DRDA_SPREAD_256(t) \
    DRDA_SPREAD_64(t, 0), DRDA_SPREAD_64(t, 64), DRDA_SPREAD_64(t, 128), DRDA_SPREAD_64(t, 192)
