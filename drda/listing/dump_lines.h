// SPDX-License-Identifier: Apache-2.0
// Full dump lines (16 bytes each) assembled with vector byte permutes, where
// the processor has them (x86-64 AVX-512 VBMI, checked at run time). The
// hex, ASCII and EBCDIC characters of a line's 16 bytes are made at once in
// one register and then placed, with the blanks and the newline, by a
// shape: the index of each character of the line. The dumps keep their
// portable line writers for every other processor and for lines of a shape
// this does not cover; both give the same text (tests compare them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace drda {

// What a character of a line is: 0 to 31 the hex digits of the 16 bytes
// (two a byte, high nibble first), 32 to 47 their ASCII column, 48 to 63
// their EBCDIC column, or one of these.
inline constexpr std::uint8_t kShapeBlank = 64;
inline constexpr std::uint8_t kShapeNewline = 65;
inline constexpr std::size_t kShapeMaxWidth = 128;

struct DumpShape {
    std::uint8_t index[kShapeMaxWidth] = {};
    std::size_t width = 0;  // characters a line, newline included (at most 128)
    // Where the line's offset within the piece goes as four hex digits
    // (modulo 65536), over blanks of the shape; -1: nowhere.
    int offset_at = -1;
};

// Whether put_dump_lines may be called (the processor has the permutes and
// tests have not switched them off).
bool vector_dump_lines();
// Tests: false makes the dumps take their portable writers; true has no
// effect where the processor lacks the permutes.
void use_vector_dump_lines(bool on);

// Line l (l < lines) of `shape` at dst + l * stride, from the bytes
// src[16 l .. 16 l + 15]; its offset is first_offset + 16 l. Only when
// vector_dump_lines().
void put_dump_lines(char* dst, std::size_t stride, const std::uint8_t* src, std::size_t lines, const DumpShape& shape,
                    std::size_t first_offset);

}  // namespace drda
