// Tables of the hot dump path, generated at compile time: the character an
// ASCII column shows for each byte, and the two hex digits of each byte.
// (The EBCDIC column's table is generated beside its source table, in
// ebcdic_table.cpp.)
#include "listing/display.h"

#include <array>
#include <cstddef>

#include "listing/display_rule.h"

namespace drda {
namespace {

constexpr std::array<char, 256> make_ascii_display() {
    std::array<char, 256> t{};
    for (std::size_t b = 0; b < 256; ++b) t[b] = display_rule::shown_as(static_cast<std::uint8_t>(b));
    return t;
}

constexpr std::array<char, 512> make_hex_pairs() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<char, 512> t{};
    for (std::size_t b = 0; b < 256; ++b) {
        t[2 * b] = kDigits[b >> 4];
        t[2 * b + 1] = kDigits[b & 0xF];
    }
    return t;
}

constexpr std::array<char, 256> kAscii = make_ascii_display();
constexpr std::array<char, 512> kPairs = make_hex_pairs();

}  // namespace

extern constexpr char kAsciiDisplay[256] = {DRDA_SPREAD_256(kAscii)};
extern constexpr char kHexPairs[512] = {DRDA_SPREAD_256(kPairs),
                                         DRDA_SPREAD_256((kPairs.data() + 256))};

}  // namespace drda
