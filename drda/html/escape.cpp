// SPDX-License-Identifier: Apache-2.0
#include "html/escape.h"

#include "common/text_policy.h"
#include "summary/views.h"

namespace drda::html {
namespace {

// How each ASCII byte is written: nullptr for as it is.
struct Table {
    const char* ref[128] = {};
    char pictures[33][4] = {};
    Table() {
        for (int c = 0; c < 0x20; ++c) {
            // U+2400 + c in UTF-8: E2 90 80+c.
            pictures[c][0] = '\xE2';
            pictures[c][1] = '\x90';
            pictures[c][2] = static_cast<char>(0x80 + c);
            ref[c] = pictures[c];
        }
        pictures[32][0] = '\xE2', pictures[32][1] = '\x90', pictures[32][2] = '\xA1';  // U+2421 for DEL
        ref[0x7F] = pictures[32];
        ref['\t'] = nullptr;
        ref['\n'] = nullptr;
        ref['&'] = "&amp;";
        ref['<'] = "&lt;";
        ref['>'] = "&gt;";
        ref['"'] = "&quot;";
        ref['\''] = "&#39;";
    }
};

const Table& table() {
    static const Table t;
    return t;
}

}  // namespace

void put_escaped(TextWriter& w, std::string_view s) {
    const Table& t = table();
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t j = i;
        while (j < s.size()) {
            const auto c = static_cast<unsigned char>(s[j]);
            if (c < 0x80) {
                if (t.ref[c]) break;
                ++j;
                continue;
            }
            std::uint32_t cp = 0;
            const std::size_t len = text::utf8_char(s, j, cp);
            if (len == 0 || text::hidden(cp)) break;
            j += len;
        }
        if (j > i) {
            w.put(s.substr(i, j - i));
            i = j;
            continue;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            w.put(std::string_view(t.ref[c]));
            ++i;
            continue;
        }
        // Not valid UTF-8, or a character that would reorder or hide text:
        // shown as its escape, so that it is seen and does nothing.
        std::uint32_t cp = 0;
        const std::size_t len = text::utf8_char(s, i, cp);
        constexpr char kHex[] = "0123456789ABCDEF";
        char e[12] = {'\\'};
        std::size_t n = 1;
        if (len == 0) {
            e[n++] = 'x';
            e[n++] = kHex[c >> 4];
            e[n++] = kHex[c & 15];
            i += 1;
        } else {
            const int digits = cp > 0xFFFF ? 8 : 4;
            e[n++] = cp > 0xFFFF ? 'U' : 'u';
            for (int k = digits - 1; k >= 0; --k) e[n++] = kHex[(cp >> (4 * k)) & 15];
            i += len;
        }
        w.put(std::string_view(e, n));
    }
}

void put_escaped_cut(TextWriter& w, std::string_view s, std::size_t max) {
    if (s.size() <= max) return put_escaped(w, s);
    std::size_t n = max;
    // Back to the first byte of a character (never a continuation byte).
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    put_escaped(w, s.substr(0, n));
    w.put("...");
}

void put_printable_escaped(TextWriter& w, std::string_view s, std::size_t max) {
    const bool cut = s.size() > max;
    if (cut) {
        // Back to the first byte of a character, as put_escaped_cut does.
        while (max > 0 && (static_cast<unsigned char>(s[max]) & 0xC0) == 0x80) --max;
    }
    std::string text;
    {
        StringSink sink(text);
        TextWriter p(sink);
        p.set_text_mode(TextMode::utf8);  // the page is UTF-8 whatever the locale
        summary::put_printable(p, cut ? s.substr(0, max) : s);
        p.flush();
    }
    put_escaped(w, text);
    if (cut) w.put("...");
}

std::string escaped(std::string_view s) {
    std::string text;
    StringSink sink(text);
    TextWriter w(sink);
    put_escaped(w, s);
    w.flush();
    return text;
}

}  // namespace drda::html
