// SPDX-License-Identifier: Apache-2.0
// Text forms of row values and the unit-aware wrap.
#include <gtest/gtest.h>

#include <algorithm>

#include "ddm/rows/value_format.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using namespace drda;
using namespace drda::rows;
using testsupport::capture;
using testsupport::hex;

namespace {

ByteView view(const std::string& s) { return ByteView(s); }

// The text a writer call produces on a line that begins at `column`
// (`depth` spaces already written when column == depth).
template <class F>
std::string text(F&& f, int depth = 0, std::size_t column = 0) {
    return capture([&](TextWriter& out) {
        out.put(std::string(column, ' '));
        WrapWriter w(out, depth, column);
        f(w);
    });
}

std::string packed(const std::string& hexbytes, int p, int s) {
    const std::string b = hex(hexbytes);
    return text([&](WrapWriter& w) { write_packed(w, view(b), p, s); });
}

// One writer for the many values of the random tests (a writer's block
// is large, and making one per value is most of their time under the
// sanitizers).
std::string packed_to_text(const std::string& b, int p, int s) {
    static testsupport::Rig rig;
    return rig.run([&](TextWriter& out) {
        WrapWriter w(out, 0, 0);
        write_packed(w, view(b), p, s);
    });
}

TEST(Packed, DigitsScaleAndSign) {
    EXPECT_EQ(packed("123456789C", 9, 4), "12345.6789");
    EXPECT_EQ(packed("1D", 1, 10), "-0.0000000001") << "scale above the precision";
    EXPECT_EQ(packed("1D", 1, 0), "-1");
    EXPECT_EQ(packed("05000C", 5, 4), "0.5000");
    EXPECT_EQ(packed("99999C", 5, 0), "99999");
    EXPECT_EQ(packed("00012C", 4, 0), "12") << "even precision: a pad nibble in front";
    EXPECT_EQ(packed("00000C", 4, 2), "0.00");
    EXPECT_EQ(packed("1234567890123456789010123456789C", 31, 10), "123456789012345678901.0123456789");
    EXPECT_EQ(packed("123456789012345678901234567890123C", 33, 33), "0.123456789012345678901234567890123");
    EXPECT_EQ(packed("1B", 1, 0), "-1") << "B is negative";
    for (const char* sign : {"A", "C", "E", "F"}) EXPECT_EQ(packed(std::string("1") + sign, 1, 0), "1") << sign;
}

TEST(Packed, InvalidNibblesShowTheBytes) {
    EXPECT_EQ(packed("1A2C", 3, 0), "invalid packed decimal X'1A2C'") << "digit above 9";
    EXPECT_EQ(packed("0129", 3, 0), "invalid packed decimal X'0129'") << "sign nibble below A";
}

// Packed decimal the plain way, a nibble at a time, for comparison.
std::string packed_reference(const std::string& b, int p, int s) {
    std::string digits;
    const std::size_t nibbles = 2 * b.size();
    for (std::size_t i = (p % 2 == 0) ? 1 : 0; i + 1 < nibbles; ++i) {
        const unsigned c = static_cast<unsigned char>(b[i / 2]);
        const unsigned nib = i % 2 ? c & 15 : c >> 4;
        if (nib > 9 || b.empty()) return "invalid";
        digits += static_cast<char>('0' + nib);
    }
    const unsigned sign = b.empty() ? 0 : static_cast<unsigned char>(b.back()) & 15;
    if (nibbles < 2 || sign < 10) return "invalid";
    const std::size_t sc = s > 0 ? static_cast<std::size_t>(s) : 0;
    while (digits.size() < sc) digits.insert(digits.begin(), '0');  // 0.000ddd
    std::string whole = digits.substr(0, digits.size() - sc);
    while (whole.size() > 1 && whole[0] == '0') whole.erase(0, 1);
    if (whole.empty()) whole = "0";
    std::string out = (sign == 0xB || sign == 0xD ? "-" : "") + whole;
    if (sc > 0) out += "." + digits.substr(digits.size() - sc);
    return out;
}

TEST(Packed, SameAsNibbleByNibbleOnRandomValues) {
    std::uint64_t seed = 15;
    const auto next = [&] {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        return static_cast<unsigned>(seed >> 33);
    };
    for (int round = 0; round < 20000; ++round) {
        const int p = 1 + static_cast<int>(next() % 40);
        const int sc = static_cast<int>(next() % 45);
        std::string b(static_cast<std::size_t>(next() % 4 == 0 ? next() % 24 : p / 2 + 1), '\0');
        for (char& c : b) {
            // Mostly valid digits, sometimes a nibble above 9.
            const unsigned hi = next() % 12 == 0 ? 10 + next() % 6 : next() % 10;
            const unsigned lo = next() % 12 == 0 ? 10 + next() % 6 : next() % 10;
            c = static_cast<char>(hi << 4 | lo);
        }
        if (!b.empty() && next() % 8) b.back() = static_cast<char>((b.back() & 0xF0) | (0xA + next() % 6));
        const std::string got = packed_to_text(b, p, sc);
        const std::string want = packed_reference(b, p, sc);
        if (want == "invalid") {
            ASSERT_EQ(got.rfind("invalid packed decimal X'", 0), 0u) << got;
        } else {
            ASSERT_EQ(got, want) << "p " << p << " s " << sc;
        }
    }
}

TEST(Numbers, IntegersInBothByteOrders) {
    const std::string b = hex("FFFFFF85");
    EXPECT_EQ(text([&](WrapWriter& w) { write_integer(w, view(b), false); }), "-123");
    EXPECT_EQ(text([&](WrapWriter& w) { write_integer(w, view(b), true); }), "-2046820353");
    const std::string le = hex("3930");
    EXPECT_EQ(text([&](WrapWriter& w) { write_integer(w, view(le), true); }), "12345");
    const std::string min = hex("8000000000000000");
    EXPECT_EQ(text([&](WrapWriter& w) { write_integer(w, view(min), false); }), "-9223372036854775808");
    const std::string one = hex("FF");
    EXPECT_EQ(text([&](WrapWriter& w) { write_integer(w, view(one), false); }), "-1");
}

TEST(Numbers, FloatsShortestRoundTrip) {
    const auto f8 = [](const std::string& h, bool little = false) {
        const std::string b = hex(h);
        return text([&](WrapWriter& w) { write_float(w, view(b), little); });
    };
    EXPECT_EQ(f8("400921FB54442D18"), "3.141592653589793");
    EXPECT_EQ(f8("01A56E1FC2F8F359"), "1e-300");
    EXPECT_EQ(f8("FFEFFFFFFFFFFFFF"), "-1.7976931348623157e+308");
    EXPECT_EQ(f8("0000000000000000"), "0");
    EXPECT_EQ(f8("4000000000000000"), "2");
    EXPECT_EQ(f8("44DFE185CA57C517"), "6.02214076e+23");
    EXPECT_EQ(f8("7FF0000000000000"), "inf");
    EXPECT_EQ(f8("182D4454FB210940", true), "3.141592653589793") << "little-endian";
    EXPECT_EQ(f8("40200000"), "2.5");
    EXPECT_EQ(f8("00000001"), "1e-45");
    EXPECT_EQ(f8("3FC00000"), "1.5");
}

std::string chars(const std::string& bytes, std::uint32_t ccsid, std::size_t total = std::string::npos) {
    return text([&](WrapWriter& w) {
        write_chars(w, view(bytes), total == std::string::npos ? bytes.size() : total, find_charset(ccsid), ccsid);
    });
}

TEST(Chars, EscapesAndCharsets) {
    EXPECT_EQ(chars("Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\x83 \xE6\x97\xA5", 1208), "\"Gr\\xFC\\xDFe \\u2603 \\u65E5\"");
    EXPECT_EQ(chars("a\"b\\c\x7F\x01", 1208), "\"a\\\"b\\\\c\\x7F\\x01\"");
    EXPECT_EQ(chars("\xF0\x9F\x98\x80", 1208), "\"\\U0001F600\"");
    EXPECT_EQ(chars("\xC1\xC2\x40\x5A", 37), "\"AB !\"");
    EXPECT_EQ(chars(std::string("\x00\xC4\x00\x41", 4), 1200), "\"\\xC4A\"");
    EXPECT_EQ(chars("", 1208), "\"\"");
}

TEST(Chars, PlainTextCheckFindsAnEscapeAnywhere) {
    // The word-at-a-time check of plain text: one byte that needs an escape
    // at every place of strings of 1 to 24 bytes, in the ASCII charsets.
    const std::pair<char, std::string> special[] = {
        {'"', "\\\""}, {'\\', "\\\\"}, {'\x7F', "\\x7F"}, {'\x1F', "\\x1F"}, {'\x00', "\\x00"}};
    for (std::size_t n = 1; n <= 24; ++n) {
        EXPECT_EQ(chars(std::string(n, '~'), 1208), "\"" + std::string(n, '~') + "\"");
        EXPECT_EQ(chars(std::string(n, ' '), 819), "\"" + std::string(n, ' ') + "\"");
        for (std::size_t at = 0; at < n; ++at) {
            for (const auto& [c, escape] : special) {
                std::string in(n, 'q');
                in[at] = c;
                const std::string want = "\"" + std::string(at, 'q') + escape + std::string(n - at - 1, 'q') + "\"";
                ASSERT_EQ(chars(in, 1208), want) << n << " " << at;
            }
        }
    }
}

TEST(Chars, UnknownUnsupportedOrInvalidShowBytes) {
    EXPECT_EQ(chars("AB", 0), "X'4142' (CCSID unknown)");
    EXPECT_EQ(chars("AB", 943), "X'4142' (CCSID 943)");
    EXPECT_EQ(chars("A\xFF", 1208), "X'41FF' (CCSID 1208)");
    EXPECT_EQ(chars("A\xE2\x98", 1208), "X'41E298' (CCSID 1208)") << "the value ends inside a character";
    EXPECT_EQ(chars("\x81", 1252), "X'81' (CCSID 1252)");
}

TEST(Chars, LimitsAndLengthNote) {
    // 300 characters: 256 shown, then the note.
    std::string t = text([&](WrapWriter& w) {
        const std::string s(300, 'x');
        write_chars(w, view(s), s.size(), find_charset(1208), 1208);
    }, 0, 0);
    t.erase(std::remove(t.begin(), t.end(), '\n'), t.end());
    EXPECT_EQ(t, "\"" + std::string(256, 'x') + "\"...(300 bytes)");
    // Only the first 1,024 bytes are looked at: 2-byte characters give 512
    // bytes for 256 characters; 3-byte ones cut at byte 1,024 drop the cut one.
    std::string three;
    for (int i = 0; i < 400; ++i) three += "\xE2\x98\x83";
    std::string u = text([&](WrapWriter& w) { write_chars(w, view(three), three.size(), find_charset(1208), 1208); });
    u.erase(std::remove(u.begin(), u.end(), '\n'), u.end());
    std::string expect = "\"";
    for (int i = 0; i < 256; ++i) expect += "\\u2603";
    EXPECT_EQ(u, expect + "\"...(1200 bytes)");
    // A value longer than what was kept: a character cut at the end of the
    // kept bytes is dropped, not taken as invalid.
    std::string kept = std::string(1023, 'a') + "\xC3";
    std::string v = text([&](WrapWriter& w) { write_chars(w, view(kept), 2000, find_charset(1208), 1208); });
    EXPECT_NE(v.find("...(2000 bytes)"), std::string::npos);
    EXPECT_EQ(v.find("CCSID"), std::string::npos);
}

TEST(Binary, At128BytesWithNote) {
    const std::string b(200, '\xAB');
    std::string t = text([&](WrapWriter& w) { write_binary(w, view(b), b.size()); });
    t.erase(std::remove(t.begin(), t.end(), '\n'), t.end());
    std::string expect = "X'";
    for (int i = 0; i < 128; ++i) expect += "AB";
    EXPECT_EQ(t, expect + "'...(200 bytes)");
    EXPECT_EQ(text([&](WrapWriter& w) { write_binary(w, ByteView(), 0); }), "X''");
}

TEST(Wrap, BreaksOnlyBetweenUnits) {
    // The EXTDTA example: depth 8, "VALUE: " on the line; 3000 zero bytes.
    const std::string zeros(3000, '\0');
    const std::string t = capture([&](TextWriter& out) {
        out.spaces(8);
        out.put("VALUE: ");
        WrapWriter w(out, 8, out.column());
        write_binary(w, view(zeros), zeros.size());
        w.end();
    });
    EXPECT_EQ(t,
              "        VALUE: X'000000000000000000000000000000000000000000000000000000000000\n"
              "        0000000000000000000000000000000000000000000000000000000000000000000000\n"
              "        0000000000000000000000000000000000000000000000000000000000000000000000\n"
              "        00000000000000000000000000000000000000000000000000000000'\n"
              "        ...(3000 bytes)\n");
}

TEST(Wrap, EscapesStayWholeAndLongUnitsGoWhole) {
    const std::string t = capture([&](TextWriter& out) {
        out.spaces(10);
        out.put("COL 12 LONG VARCHAR MIXED(32767): ");
        WrapWriter w(out, 10, out.column());
        const std::string s = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\x83 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xC3\xA9\xC3\xA8";
        write_chars(w, view(s), s.size(), find_charset(1208), 1208);
        w.end();
    });
    EXPECT_EQ(t,
              "          COL 12 LONG VARCHAR MIXED(32767): \"Gr\\xFC\\xDFe \\u2603 \\u65E5\\u672C\n"
              "          \\u8A9E \\xE9\\xE8\"\n");
    // A unit longer than a whole line is written whole on a fresh line.
    const std::string u = capture([&](TextWriter& out) {
        out.put("LABEL: ");
        WrapWriter w(out, 2, out.column());
        w.unit("a");
        w.unit(std::string(80, 'b'));
        w.unit("c");
        w.end();
    });
    EXPECT_EQ(u, "LABEL: a\n  " + std::string(80, 'b') + "\n  c\n");
}

}  // namespace

// put_uint and put_int write two digits at a time below 10,000: the same
// text as std::to_chars for every number up to past that and the extremes.
TEST(Numbers, DecimalTextSameAsToChars) {
    const auto same = [](std::int64_t v) {
        char a[24], b[24];
        const std::string got(a, static_cast<std::size_t>(put_int(a, v) - a));
        const std::string want(b, static_cast<std::size_t>(std::to_chars(b, b + sizeof b, v).ptr - b));
        if (got != want) return false;
        if (v < 0) return true;
        char c[24];
        return std::string(c, static_cast<std::size_t>(put_uint(c, static_cast<std::uint64_t>(v)) - c)) == want;
    };
    for (std::int64_t v = -20000; v <= 120000; ++v) ASSERT_TRUE(same(v)) << v;
    for (std::int64_t v : {INT64_MIN, INT64_MIN + 1, INT64_MAX, std::int64_t{1} << 40, -(std::int64_t{1} << 40)})
        ASSERT_TRUE(same(v)) << v;
    char c[24];
    EXPECT_EQ(std::string(c, static_cast<std::size_t>(put_uint(c, UINT64_MAX) - c)), "18446744073709551615");
}
