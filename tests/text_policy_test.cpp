// SPDX-License-Identifier: Apache-2.0
// Text as characters: what each locale and mode shows of names, statements
// and values, on a real conversation with German, Polish, Greek and
// Japanese data, and that no character that drives or reorders a terminal
// or a page ever reaches the output raw.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "common/text_policy.h"
#include "html/escape.h"
#include "summary/views.h"
#include "support/trace_builder.h"

namespace {

using namespace testsupport;
using drda::TextMode;
using drda::text::hidden;

std::string intl_path() { return data_path("intl/intl.pcap"); }

std::string written(TextMode mode, const std::string& s, void (*put)(drda::TextWriter&, std::string_view)) {
    std::string out;
    drda::StringSink sink(out);
    drda::TextWriter w(sink);
    w.set_text_mode(mode);
    put(w, s);
    w.flush();
    return out;
}

void visible(drda::TextWriter& w, std::string_view s) { drda::text::put_visible(w, s); }
void json(drda::TextWriter& w, std::string_view s) { drda::summary::put_json_string(w, s); }
void page(drda::TextWriter& w, std::string_view s) { drda::html::put_escaped(w, s); }

std::string utf8(std::uint32_t cp) {
    char b[4];
    return std::string(b, drda::text::put_utf8(cp, b));
}

// Random text: ASCII, characters of every plane (hidden ones among them),
// combining marks, wide characters and bytes that are not UTF-8.
std::string random_text(std::mt19937& rng) {
    static const std::uint32_t kPicks[] = {0x1B,   0x07,   0x85,   0x9B,   0xAD,   0xFC,    0x301,   0x61C,
                                           0x200B, 0x200E, 0x2028, 0x202A, 0x202E, 0x2066,  0x2069,  0xFEFF,
                                           0x3000, 0x6771, 0xAC00, 0xFF21, 0xE0001, 0x1F600, 0x10FFFF, '"',
                                           '\\',   '\t',   '\n'};
    std::string s;
    const int n = static_cast<int>(rng() % 24);
    for (int i = 0; i < n; ++i) {
        switch (rng() % 5) {
            case 0: s += static_cast<char>(0x20 + rng() % 0x5F); break;
            case 1: s += utf8(kPicks[rng() % (sizeof kPicks / sizeof kPicks[0])]); break;
            case 2: {
                std::uint32_t cp = 0x80 + rng() % 0x10FF80;
                if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x4E00;
                s += utf8(cp);
                break;
            }
            case 3: s += static_cast<char>(0x80 + rng() % 0x80); break;  // a stray byte
            default: s += utf8(0x300 + rng() % 0x70); break;             // a combining mark
        }
    }
    return s;
}

// Whether `s` is valid UTF-8 throughout and holds no hidden character.
::testing::AssertionResult clean(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        std::uint32_t cp = 0;
        const std::size_t len = drda::text::utf8_char(s, i, cp);
        if (len == 0) return ::testing::AssertionFailure() << "byte " << i << " is not UTF-8 in " << s;
        if (hidden(cp) && cp != '\n' && cp != '\t')
            return ::testing::AssertionFailure() << "U+" << std::hex << cp << " raw at " << std::dec << i << " in " << s;
        i += len;
    }
    return ::testing::AssertionSuccess();
}

// The raw bytes that must never reach the output or the page: ESC, the
// bidirectional embeddings and overrides (U+202A..U+202E), the isolates
// (U+2066..U+2069) and the zero-width space.
std::size_t raw_hostile(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0; };
        if (b(0) == 0x1B) return i;
        if (b(0) == 0xE2 && b(1) == 0x80 && ((b(2) >= 0xAA && b(2) <= 0xAE) || b(2) == 0x8B)) return i;
        if (b(0) == 0xE2 && b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9) return i;
    }
    return std::string::npos;
}

}  // namespace

// --- the writers ------------------------------------------------------------------

TEST(TextPolicy, Utf8ModeEscapesExactlyWhatAsciiModeEscapesOfHiddenCharactersAndStrayBytes) {
    // In utf8 mode every character beyond ASCII that is not hidden is
    // written as it is; the rest is written as ascii mode writes it. So
    // writing each such character of the utf8 text as its escape gives
    // the ascii text, byte for byte.
    std::mt19937 rng(30);
    for (int round = 0; round < 3000; ++round) {
        const std::string s = random_text(rng);
        const std::string a = written(TextMode::ascii, s, visible);
        const std::string u = written(TextMode::utf8, s, visible);
        for (char c : a) ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << a;
        ASSERT_TRUE(clean(u));
        std::string back;
        for (std::size_t i = 0; i < u.size();) {
            std::uint32_t cp = 0;
            const std::size_t len = drda::text::utf8_char(u, i, cp);
            if (cp < 0x80) {
                back += u[i];
            } else {
                char e[12];
                std::snprintf(e, sizeof e, cp > 0xFFFF ? "\\U%08x" : "\\u%04x", cp);
                back += e;
            }
            i += len;
        }
        ASSERT_EQ(back, a) << s;
    }
}

TEST(TextPolicy, JsonAndPageKeepTheTextButNeverAHiddenCharacter) {
    // -j: valid UTF-8 reads back as the same string (hidden characters as
    // \uXXXX, past the first plane as a surrogate pair); the page: valid
    // UTF-8 without markup, hidden characters and stray bytes as escapes.
    std::mt19937 rng(31);
    for (int round = 0; round < 3000; ++round) {
        const std::string s = random_text(rng);
        const std::string j = written(TextMode::ascii, s, json);
        ASSERT_TRUE(clean(j)) << s;
        const std::string p = written(TextMode::ascii, s, page);
        ASSERT_TRUE(clean(p)) << s;
        ASSERT_EQ(p.find_first_of("<>\""), std::string::npos) << p;
        // Decode the JSON string and compare where the input was valid.
        bool valid = true;
        for (std::size_t i = 0; i < s.size();) {
            std::uint32_t cp = 0;
            const std::size_t len = drda::text::utf8_char(s, i, cp);
            if (len == 0) {
                valid = false;
                break;
            }
            i += len;
        }
        if (!valid) continue;
        std::string back;
        for (std::size_t i = 1; i + 1 < j.size();) {
            if (j[i] != '\\') {
                back += j[i++];
                continue;
            }
            const char k = j[i + 1];
            if (k != 'u') {
                back += k;
                i += 2;
                continue;
            }
            std::uint32_t cp = static_cast<std::uint32_t>(std::stoul(j.substr(i + 2, 4), nullptr, 16));
            i += 6;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                const auto lo = static_cast<std::uint32_t>(std::stoul(j.substr(i + 2, 4), nullptr, 16));
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                i += 6;
            }
            back += utf8(cp);
        }
        ASSERT_EQ(back, s) << j;
    }
    EXPECT_EQ(written(TextMode::ascii, "a" + utf8(0x202E) + utf8(0xE0041) + "b", json), "\"a\\u202e\\udb40\\udc41b\"");
    EXPECT_EQ(written(TextMode::ascii, "x" + utf8(0x2067) + "\xFF", page), "x\\u2067\\xFF");
}

TEST(TextPolicy, WidthsAgreeWithTheCLibraryOnTheScriptsNamesAreWrittenIn) {
    // The generated table against glibc's wcwidth in C.UTF-8, over Latin,
    // Greek, Cyrillic, the combining marks, CJK, kana, Hangul and the
    // fullwidth forms. (glibc counts U+3248..U+324F and the hexagrams
    // U+4DC0..U+4DFF, which Unicode does not call wide, as two columns.)
    locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (!loc) GTEST_SKIP() << "no C.UTF-8 locale";
    const locale_t old = uselocale(loc);
    const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {0x20, 0x3247}, {0x3250, 0x4DBF}, {0x4E00, 0xD7A3}, {0xF900, 0xFFEF}, {0x20000, 0x2A6DF}};
    int compared = 0;
    for (const auto& [first, last] : ranges) {
        for (std::uint32_t cp = first; cp <= last; ++cp) {
            if (hidden(cp) || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
            const int w = wcwidth(static_cast<wchar_t>(cp));
            if (w < 0) continue;
            ++compared;
            ASSERT_EQ(drda::text::char_width(cp), w) << std::hex << cp;
        }
    }
    uselocale(old);
    freelocale(loc);
    EXPECT_GT(compared, 90000);
    EXPECT_EQ(drda::text::display_width("東京 Ab" + utf8(0x301)), 7u);
    EXPECT_EQ(drda::text::display_width("\xFF" "a"), 2u);
}

TEST(TextPolicy, SummaryTablesAlignByDisplayWidth) {
    // Wide names, combining marks and plain ASCII in one table: each
    // column starts at the same display column on every line, in utf8
    // mode; ascii mode writes the escapes and aligns those.
    for (const TextMode mode : {TextMode::utf8, TextMode::ascii}) {
        std::string text;
        drda::StringSink sink(text);
        drda::TextWriter w(sink);
        w.set_text_mode(mode);
        drda::summary::TextReport report(w, false);
        const std::vector<std::string> users = {"山田太郎", "Jürgen", "x", "e" + utf8(0x301) + "e", "Ｆｕｌｌ"};
        for (std::uint32_t i = 0; i < users.size(); ++i) {
            drda::summary::ConnectionInfo c;
            c.has_conn = true;
            c.conn = i + 1;
            c.client = "127.0.0.1:4150" + std::to_string(i);
            c.server = "127.0.0.1:41537";
            c.user = users[i];
            c.database = i % 2 ? "東京" : "db";
            c.client_product = "CLIENT";
            report.connection(c);
        }
        report.finish(drda::summary::Totals());
        w.flush();
        const std::size_t head = text.find("\nconn ");
        ASSERT_NE(head, std::string::npos) << text;
        std::vector<std::string> lines;
        for (std::size_t at = head + 1; at < text.size() && text[at] != '\n';) {
            const std::size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        ASSERT_EQ(lines.size(), users.size() + 1) << text;
        const auto column_of = [](const std::string& line, const std::string& what) {
            const std::size_t at = line.find(what);
            return at == std::string::npos ? std::string::npos : drda::text::display_width(line.substr(0, at));
        };
        const std::size_t product = column_of(lines[0], "client product");
        const std::size_t database = column_of(lines[0], "database");
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_EQ(column_of(lines[i], "CLIENT"), product) << lines[i];
            EXPECT_EQ(column_of(lines[i], i % 2 ? "db" : (mode == TextMode::utf8 ? "東京" : "\\u6771")), database)
                << lines[i];
        }
        if (mode == TextMode::utf8) EXPECT_NE(text.find("山田太郎"), std::string::npos);
        else EXPECT_EQ(text.find("山田太郎"), std::string::npos);
    }
}

// --- the tool on a real conversation -----------------------------------------------

TEST(TextPolicyRun, RowsAndSummaryShowTheCharactersInAUtf8LocaleAndTodaysEscapesElsewhere) {
    const RunResult r_utf8 = run_dssview({"-r", intl_path()}, DSSVIEW_BIN, "C.UTF-8");
    const RunResult r_c = run_dssview({"-r", intl_path()});
    ASSERT_EQ(r_utf8.status, 0);
    ASSERT_EQ(r_c.status, 0);
    for (const char* line : {"COL 2 Name VARCHAR(60): \"Jürgen Żółkiewski\"\n",
                             "COL 3 \"Straße\" VARCHAR(60): \"Grüne Straße 3\"\n",
                             "COL 2 \"Województwo\" VARCHAR(40): \"łódzkie\"\n",
                             "COL 1 \"Όνομα\" VARCHAR(40): \"Σωκράτης Παπαδόπουλος\"\n",
                             "COL 2 \"都市\" VARCHAR(40): \"東京\"\n",
                             "COL 1 \"氏名\": VARCHAR NULLABLE (449) LENGTH 40 PRECISION 31 SCALE 0 CCSID 1208 BASE "
                             "APP.\"顧客\".\"氏名\"\n"})
        EXPECT_NE(r_utf8.out.find(line), std::string::npos) << line;
    EXPECT_NE(r_c.out.find("COL 2 Name VARCHAR(60): \"J\\xFCrgen \\u017B\\xF3\\u0142kiewski\"\n"), std::string::npos);
    EXPECT_NE(r_c.out.find("COL 2 \"\\u90FD\\u5E02\" VARCHAR(40): \"\\u6771\\u4EAC\"\n"), std::string::npos);
    EXPECT_EQ(r_utf8.out.find("\\u6771"), std::string::npos);

    // -s -x: the reviewed text of each locale; --ascii in a UTF-8 locale
    // is the C locale's, and so is a UTF-8 LANG under LC_ALL=C.
    const RunResult s_c = run_dssview({"-s", "-x", intl_path()});
    const RunResult s_utf8 = run_dssview({"-s", "-x", intl_path()}, DSSVIEW_BIN, "C.UTF-8");
    const RunResult s_ascii = run_dssview({"--ascii", "-s", "-x", intl_path()}, DSSVIEW_BIN, "C.UTF-8");
    EXPECT_EQ(s_c.out, read_file(data_path("intl/intl.s-x.C.txt")));
    EXPECT_EQ(s_utf8.out, read_file(data_path("intl/intl.s-x.UTF-8.txt")));
    EXPECT_EQ(s_ascii.out, s_c.out);
    EXPECT_NE(s_utf8.out.find(" -20001 42X05          50 \"Müllabfuhr\" \"42X05\"\n"), std::string::npos);
    const RunResult r_ascii = run_dssview({"--ascii", "-r", intl_path()}, DSSVIEW_BIN, "C.UTF-8");
    EXPECT_EQ(r_ascii.out, r_c.out);
    // -j is the same in every locale.
    EXPECT_EQ(run_dssview({"-j", intl_path()}, DSSVIEW_BIN, "C.UTF-8").out, run_dssview({"-j", intl_path()}).out);

    // The locale as LC_ALL, LC_CTYPE and LANG name it, the first set first;
    // one that is not installed is C.
    const char* lang = std::getenv("LANG");
    const std::string saved = lang ? lang : "";
    setenv("LANG", "C.UTF-8", 1);
    unsetenv("LC_CTYPE");
    EXPECT_EQ(run_dssview({"-s", "-x", intl_path()}, DSSVIEW_BIN, "").out, s_utf8.out);
    setenv("LC_CTYPE", "C", 1);
    EXPECT_EQ(run_dssview({"-s", "-x", intl_path()}, DSSVIEW_BIN, "").out, s_c.out);
    unsetenv("LC_CTYPE");
    EXPECT_EQ(run_dssview({"-s", "-x", intl_path()}, DSSVIEW_BIN, "xx_NOWHERE.UTF-8").out, s_c.out);
    if (lang) setenv("LANG", saved.c_str(), 1);
    else unsetenv("LANG");
}

TEST(TextPolicyRun, HostileTextNeverReachesTheOutputOrThePageRaw) {
    // The conversation with three names rewritten in place (same lengths,
    // so every length field still holds): a right-to-left override, the
    // ANSI sequences that clear the screen and set the window title, the
    // isolates and zero-width space. Every mode, in both locales, with and
    // without --ascii, writes them as escapes.
    std::string cap = read_file(intl_path());
    const std::pair<std::string, std::string> rewrites[] = {
        {"Müllabfuhr", utf8(0x202E) + "\x1B[2J" + utf8(0x2066) + "x"},
        {"Nachname", utf8(0x200B) + utf8(0x202E) + "ab"},
        {"Województwo", "\x1B]0;pwn\x07" + utf8(0x2069) + "!"},
    };
    for (const auto& [from, to] : rewrites) {
        ASSERT_EQ(from.size(), to.size());
        ASSERT_NE(cap.find(from), std::string::npos) << from;
        for (std::size_t at; (at = cap.find(from)) != std::string::npos;) cap.replace(at, from.size(), to);
    }
    const std::string path = temp_path("hostile_intl.pcap");
    const std::string html = temp_path("hostile_intl.html");
    write_file(path, cap);
    const std::vector<std::vector<std::string>> modes = {{}, {"-f"}, {"-r"}, {"-s"}, {"-s", "-x"}, {"-j"}};
    for (const char* locale : {"C", "C.UTF-8"}) {
        for (const bool ascii : {false, true}) {
            for (std::vector<std::string> args : modes) {
                if (ascii) args.insert(args.begin(), "--ascii");
                args.insert(args.end(), {"--html", html, path});
                const RunResult r = run_dssview(args, DSSVIEW_BIN, locale);
                const std::string what = std::string(locale) + " " + args[0];
                ASSERT_EQ(r.status, 0) << what;
                EXPECT_EQ(raw_hostile(r.out), std::string::npos) << what;
                EXPECT_EQ(raw_hostile(r.err), std::string::npos) << what;
                const std::string p = read_file(html);
                EXPECT_EQ(raw_hostile(p), std::string::npos) << what << " page";
                EXPECT_NE(p.find("\\u202e\\u001b[2J\\u2066x"), std::string::npos) << what << " page";
            }
        }
    }
    const RunResult s = run_dssview({"-s", path}, DSSVIEW_BIN, "C.UTF-8");
    EXPECT_NE(s.out.find("SELECT * FROM \"\\u202e\\u001b[2J\\u2066x\""), std::string::npos) << s.out;
    const RunResult j = run_dssview({"-j", path}, DSSVIEW_BIN, "C.UTF-8");
    EXPECT_NE(j.out.find("\\u001b]0;pwn\\u0007\\u2069!"), std::string::npos);
    std::remove(path.c_str());
    std::remove(html.c_str());
}
