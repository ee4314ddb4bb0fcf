// SPDX-License-Identifier: Apache-2.0
// The vector line writer of the dumps against their portable writers: the
// same text for the piece dump and the value dump at every depth, for
// random bytes and every byte value in every place of a line, across batch
// boundaries and the offset wrap. Skipped where the processor lacks it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ddm/printers.h"
#include "listing/char_dump.h"
#include "listing/dump_lines.h"
#include "support/capture.h"

using testsupport::capture;

namespace {

// Runs `print` with the vector writer and with the portable one.
template <class F>
std::pair<std::string, std::string> both(F print) {
    drda::use_vector_dump_lines(true);
    const std::string vector = capture(print);
    drda::use_vector_dump_lines(false);
    const std::string portable = capture(print);
    drda::use_vector_dump_lines(true);
    return {vector, portable};
}

std::string random_bytes(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

class DumpLines : public ::testing::Test {
protected:
    void SetUp() override {
        if (!drda::vector_dump_lines()) GTEST_SKIP() << "no vector line writer on this processor";
    }
};

TEST_F(DumpLines, EveryByteValueInEveryPlace) {
    // 256 lines: line k holds the bytes k, k+1, ..., k+15, so each value
    // stands once in each of the 16 places.
    std::string bytes;
    for (int k = 0; k < 256; ++k)
        for (int j = 0; j < 16; ++j) bytes.push_back(static_cast<char>((k + j) & 0xFF));
    const auto [piece_v, piece_p] = both([&](drda::TextWriter& w) { drda::print_char_dump(w, drda::ByteView(bytes), "H"); });
    EXPECT_EQ(piece_v, piece_p);
    for (int depth : {0, 1, 7, 32, 33, 59}) {
        const auto [value_v, value_p] = both([&](drda::TextWriter& w) { drda::print_data_dump(w, depth, drda::ByteView(bytes)); });
        EXPECT_EQ(value_v, value_p) << "depth " << depth;
    }
}

TEST_F(DumpLines, RandomPiecesAcrossBatchesAndTheOffsetWrap) {
    std::mt19937 rng(20261209);
    // Lengths around a line, a batch of 512 lines and 65536 bytes.
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 8191u, 8192u, 8193u, 8208u, 65535u,
                          65536u, 65537u, 65552u, 70001u}) {
        const std::string bytes = random_bytes(rng, n);
        const auto [v, p] = both([&](drda::TextWriter& w) { drda::print_char_dump(w, drda::ByteView(bytes), "HEADING"); });
        ASSERT_EQ(v, p) << "length " << n;
    }
}

TEST_F(DumpLines, RandomValuesAtEveryDepth) {
    std::mt19937 rng(7);
    // Depths beyond the vector writer's widest line (59) take the portable
    // writer either way; lengths cross the value dump's batches.
    for (int depth = -2; depth <= 70; ++depth) {
        for (std::size_t n : {5u, 16u, 48u, 250u}) {
            const std::string bytes = random_bytes(rng, n);
            const auto [v, p] = both([&](drda::TextWriter& w) { drda::print_data_dump(w, depth, drda::ByteView(bytes)); });
            ASSERT_EQ(v, p) << "depth " << depth << " length " << n;
        }
    }
    const std::string big = random_bytes(rng, 40000);
    for (int depth : {0, 4, 40}) {
        const auto [v, p] = both([&](drda::TextWriter& w) { drda::print_data_dump(w, depth, drda::ByteView(big)); });
        ASSERT_EQ(v, p) << "depth " << depth;
    }
}

}  // namespace
