// SPDX-License-Identifier: Apache-2.0
// The writer's own formatting of printf-style text must be exactly what
// the C library writes: the formats the tool uses and random combinations
// of flags, widths, precisions and length modifiers, over edge values.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "common/text_writer.h"
#include "support/capture.h"

namespace {

std::string lib(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string lib(const char* fmt, ...) {
    static char buf[4096];
    std::va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return "vsnprintf failed: " + std::string(fmt);
    return std::string(buf, static_cast<std::size_t>(n));
}

class Writer {
public:
    Writer() : sink_(text_), w_(sink_) {}
    drda::TextWriter& operator*() { return w_; }
    std::string text() {
        w_.flush();
        return text_;
    }

private:
    std::string text_;
    drda::StringSink sink_;
    drda::TextWriter w_;
};

#define SAME(...)                                        \
    do {                                                 \
        Writer w;                                        \
        (*w).printf(__VA_ARGS__);                        \
        EXPECT_EQ(w.text(), lib(__VA_ARGS__)) << #__VA_ARGS__; \
    } while (0)

const std::int64_t kValues[] = {0, 1, 7, 9, 10, 15, 16, 99, 100, 127, 128, 255, 256, 4095, 65535, 65536,
                                2147483647LL, -1, -2, -9, -10, -128, -129, -32768, -32769, -2147483647LL - 1,
                                4294967295LL, 1234567890123LL, INT64_MAX, INT64_MIN};

TEST(TextWriterPrintf, FormatsOfTheDecoderAndRecordLines) {
    for (std::int64_t v : kValues) {
        const int i = static_cast<int>(v);
        const unsigned u = static_cast<unsigned>(v);
        SAME("  LL: %i  CORR: %4.04X  ", i, u);
        SAME("LL: %4.04X    CP: %4.04X   \n", u, u >> 3);
        SAME("Extended Length: %i   ", i);
        SAME("*MDD: Len: %2.02X Type: %2.02X ID: %2.02X\n", u & 0xFF, u, u >> 8);
        SAME("      CCSID: %#8.08X CharSize: %2.02X Mode: %2.02X Length: %#4.04X\n", u, u & 0xFF, 0u, u);
        SAME("Var[%.02d] Type: %#2.02X Len: %#4.04hX\n", i, u & 0xFF, static_cast<unsigned short>(v));
        SAME("Footer: Length: %ld\n", static_cast<long>(v));
        SAME("DECIMAL:     %lu\n", static_cast<unsigned long>(v));
        SAME("HEXADECIMAL: %16.016lX\n", static_cast<unsigned long>(v));
        SAME("TCPPORT = %hi\n", static_cast<short>(v));
        SAME("FLAGS: %8.8X\n", u);
        SAME("FLAG: %#2.02X", u);
        SAME("%d\tdata ZEV DRDA Communication Manager\n", i);
        SAME("* %s: %s\n", "SQLSTATE", "02000");
        SAME("%s Len: %2.02X", "N-GDA", u);
    }
}

TEST(TextWriterPrintf, RandomSpecifications) {
    std::mt19937_64 rng(15);
    testsupport::Rig rig;  // one writer for all rounds
    const char* const convs[] = {"d", "i", "u", "x", "X", "hd", "hu", "hhd", "hhX", "ld", "lX", "llu", "zu", "zd"};
    for (int round = 0; round < 20000; ++round) {
        std::string fmt = "<%";
        for (char f : std::string_view("-+ #0"))
            if (rng() % 4 == 0) fmt += f;
        if (rng() % 2) fmt += std::to_string(rng() % 25);
        if (rng() % 2) fmt += "." + std::to_string(rng() % 22);
        const std::string conv = convs[rng() % (sizeof convs / sizeof convs[0])];
        fmt += conv + ">";
        const std::int64_t v = rng() % 3 ? kValues[rng() % (sizeof kValues / sizeof kValues[0])]
                                         : static_cast<std::int64_t>(rng());
        std::string want, got;
        // Arguments as the C rules pass them: int-sized unless l, ll or z.
        if (conv.find('l') != std::string::npos || conv.find('z') != std::string::npos) {
            got = rig.run([&](drda::TextWriter& w) { w.printf(fmt.c_str(), v); });  // NOLINT: runtime format
            want = lib(fmt.c_str(), v);
        } else {
            got = rig.run([&](drda::TextWriter& w) { w.printf(fmt.c_str(), static_cast<int>(v)); });
            want = lib(fmt.c_str(), static_cast<int>(v));
        }
        ASSERT_EQ(got, want) << fmt << " with " << v;
    }
}

TEST(TextWriterPrintf, StarsStringsCharactersAndFallback) {
    SAME("[%*d|%-*d|%.*d]", 6, 42, 6, 42, 4, 7);
    SAME("[%*d]", -6, 42);
    SAME("[%.*d]", -3, 42);
    SAME("[%10s|%-10s|%.2s|%5.1s]", "abc", "abc", "abc", "abc");
    SAME("[%c|%3c|%-3c]", 'x', 'y', 'z');
    SAME("100%% done %s", "");
    SAME("%.5f and %g and %e", 0.123456789, 1e300, -2.5);  // floating point: the C library's own
    SAME("%d %s %.3f", 5, "mixed", 1.0 / 3);
    const std::string longer(2000, 'q');
    SAME("%s|%d", longer.c_str(), 12);
}

}  // namespace

// at_blank_line answers from the buffer and, once the buffer has gone to the
// sink, from the last characters handed over: the same answer whether or not
// a block boundary falls between the two line ends.
TEST(TextWriterBlankLine, SameAnswerAcrossDrains) {
    std::string text;
    drda::StringSink sink(text);
    drda::TextWriter w(sink);
    EXPECT_TRUE(w.at_blank_line());  // nothing written yet
    w.put("a\n");
    EXPECT_FALSE(w.at_blank_line());
    w.put('\n');
    EXPECT_TRUE(w.at_blank_line());
    w.flush();
    EXPECT_TRUE(w.at_blank_line());
    w.put("b\n");
    w.flush();
    EXPECT_FALSE(w.at_blank_line());
    w.put('\n');  // one character in the buffer, the other already drained
    EXPECT_TRUE(w.at_blank_line());
    w.flush();
    w.put('x');
    EXPECT_FALSE(w.at_blank_line());
    // A text exactly as long as a block ends in "\n\n" when drained by the next write.
    std::string big(drda::TextWriter::kBlock - 2, 'y');
    big += "\n\n";
    w.put(big);
    w.put("");
    EXPECT_TRUE(w.at_blank_line());
}

// column() looks back for the last newline a word at a time: the same
// answer as counting from the text handed out, for lines of every length
// up to past a few words, with the newline at every place of a word, and
// for a line that began before a drain.
TEST(TextWriterColumn, SameAsCountingFromTheText) {
    std::string text;
    drda::StringSink sink(text);
    drda::TextWriter w(sink);
    std::string all;
    const auto expect = [&](const std::string& where) {
        const std::size_t nl = all.rfind('\n');
        const std::size_t want = nl == std::string::npos ? all.size() : all.size() - nl - 1;
        ASSERT_EQ(w.column(), want) << where;
    };
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string piece(rng() % 40, 'a');
        if (!piece.empty() && rng() % 3 != 0) piece[rng() % piece.size()] = '\n';
        w.put(piece);
        all += piece;
        expect("round " + std::to_string(round));
        if (round % 500 == 499) {
            w.flush();
            expect("after a drain, round " + std::to_string(round));
        }
    }
}

// The numbers the decoder writes without printf: put_hex is "%0NX" and
// put_dec "%lld", for every width and values at the edges of each.
TEST(TextWriterNumbers, SameAsPrintf) {
    for (int digits = 1; digits <= 16; ++digits) {
        for (std::int64_t s : kValues) {
            const auto v = static_cast<std::uint64_t>(s);
            Writer w;
            (*w).put_hex(v, digits);
            (*w).put(' ');
            (*w).put_dec(s);
            ASSERT_EQ(w.text(), lib("%0*llX %lld", digits, static_cast<unsigned long long>(v), static_cast<long long>(s)))
                << digits << " " << s;
        }
    }
}
