// SPDX-License-Identifier: Apache-2.0
#include "listing/dump_lines.h"

#include <cstring>

#include "listing/display.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DSSVIEW_VBMI_LINES 1
#endif

namespace drda {
namespace {

using LinesFn = void (*)(char*, std::size_t, const std::uint8_t*, std::size_t, const DumpShape&, std::size_t);

#if defined(DSSVIEW_VBMI_LINES)
#define DSSVIEW_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Built for AVX-512 (F, BW, VBMI); runs only after the run-time check.
//
// Per line: the 16 bytes are spread over the 64 character slots (slot j < 32
// holds byte j / 2, slots 32 to 47 and 48 to 63 bytes 0 to 15); the hex
// slots take their nibble and look it up among the 16 digits; the ASCII
// slots keep bytes 0x20 to 0x7D and show '.' for the rest; the EBCDIC slots
// look the byte up in kEbcdicDisplay (four registers: one permute finds the
// low seven bits in the first 128 entries, another in the last 128, the top
// bit picks). Then the shape's indices take each character of the line from
// these 64 or from the blank and the newline, at most 128 characters in two
// masked stores, which write nothing outside the line.
DSSVIEW_VBMI void vbmi_lines(char* dst, std::size_t stride, const std::uint8_t* src, std::size_t lines,
                             const DumpShape& shape, std::size_t first_offset) {
    alignas(64) static constexpr std::uint8_t kSpread[64] = {
        0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
        11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
        12, 13, 14, 15, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15};
    alignas(64) static constexpr char kDigits[64] = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDE";
    alignas(64) static constexpr char kFill[64] = {' ', '\n'};
    const __m512i spread = _mm512_load_si512(kSpread);
    const __m512i digits = _mm512_load_si512(kDigits);
    const __m512i fill = _mm512_load_si512(kFill);
    const __m512i t0 = _mm512_loadu_si512(kEbcdicDisplay);
    const __m512i t1 = _mm512_loadu_si512(kEbcdicDisplay + 64);
    const __m512i t2 = _mm512_loadu_si512(kEbcdicDisplay + 128);
    const __m512i t3 = _mm512_loadu_si512(kEbcdicDisplay + 192);
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i low_bound = _mm512_set1_epi8(0x1F);
    const __m512i high_bound = _mm512_set1_epi8(0x7E);
    const __m512i dot = _mm512_set1_epi8('.');
    constexpr __mmask64 kHighNibble = 0x0000000055555555ull;  // even hex slots
    constexpr __mmask64 kHexSlots = 0x00000000FFFFFFFFull;
    constexpr __mmask64 kAsciiSlots = 0x0000FFFF00000000ull;
    const __m512i first_index = _mm512_loadu_si512(shape.index);
    const __m512i second_index = _mm512_loadu_si512(shape.index + 64);
    const std::size_t width = shape.width;
    const __mmask64 first_part = width >= 64 ? ~__mmask64{0} : (__mmask64{1} << width) - 1;
    const __mmask64 second_part = width > 64 ? (width >= 128 ? ~__mmask64{0} : (__mmask64{1} << (width - 64)) - 1) : 0;
    const int offset_at = shape.offset_at;  // kept in a register: the stores may alias `shape`
    for (std::size_t l = 0; l < lines; ++l, src += 16, dst += stride) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m512i x = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, spread, _mm512_zextsi128_si512(bytes));
        const __m512i nibbles = _mm512_mask_blend_epi8(kHighNibble, _mm512_and_si512(x, nibble),
                                                       _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble));
        const __m512i hex = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, nibbles, digits);
        const __mmask64 shown = _mm512_cmpgt_epi8_mask(x, low_bound) & _mm512_cmplt_epi8_mask(x, high_bound);
        const __m512i ascii = _mm512_mask_blend_epi8(shown, dot, x);
        const __m512i ebcdic = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), _mm512_permutex2var_epi8(t0, x, t1),
                                                      _mm512_permutex2var_epi8(t2, x, t3));
        const __m512i chars =
            _mm512_mask_blend_epi8(kHexSlots, _mm512_mask_blend_epi8(kAsciiSlots, ebcdic, ascii), hex);
        _mm512_mask_storeu_epi8(dst, first_part, _mm512_permutex2var_epi8(chars, first_index, fill));
        if (second_part) _mm512_mask_storeu_epi8(dst + 64, second_part, _mm512_permutex2var_epi8(chars, second_index, fill));
        if (offset_at >= 0) {
            const std::size_t offset = first_offset + 16 * l;
            char* o = dst + offset_at;
            put_hex_pair(o, static_cast<std::uint8_t>(offset >> 8));
            put_hex_pair(o + 2, static_cast<std::uint8_t>(offset));
        }
    }
}

bool cpu_has_vbmi() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

LinesFn best_lines() { return cpu_has_vbmi() ? vbmi_lines : nullptr; }
#else
LinesFn best_lines() { return nullptr; }
#endif

LinesFn g_lines = best_lines();

}  // namespace

bool vector_dump_lines() { return g_lines != nullptr; }

void use_vector_dump_lines(bool on) { g_lines = on ? best_lines() : nullptr; }

void put_dump_lines(char* dst, std::size_t stride, const std::uint8_t* src, std::size_t lines, const DumpShape& shape,
                    std::size_t first_offset) {
    g_lines(dst, stride, src, lines, shape, first_offset);
}

}  // namespace drda
