// SPDX-License-Identifier: Apache-2.0
#include "common/text_policy.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <string>

#include "common/char_width_table.h"

namespace drda::text {

bool environment_is_utf8() {
    const char* now = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = now ? now : "C";
    bool utf8 = false;
    if (std::setlocale(LC_CTYPE, "")) {
        const char* cs = nl_langinfo(CODESET);
        utf8 = cs && (std::strcmp(cs, "UTF-8") == 0 || std::strcmp(cs, "utf8") == 0);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    return utf8;
}

TextMode output_mode(bool ascii) { return !ascii && environment_is_utf8() ? TextMode::utf8 : TextMode::ascii; }

std::size_t utf8_char(std::string_view s, std::size_t i, std::uint32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t len;
    std::uint32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::size_t put_utf8(std::uint32_t cp, char* s) {
    if (cp < 0x80) {
        s[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        s[0] = static_cast<char>(0xC0 | (cp >> 6));
        s[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        s[0] = static_cast<char>(0xE0 | (cp >> 12));
        s[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    s[0] = static_cast<char>(0xF0 | (cp >> 18));
    s[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

bool hidden(std::uint32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return true;
    if (cp < 0x61C) return false;
    return cp == 0x61C || (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB) ||
           (cp >= 0xE0000 && cp <= 0xE007F);
}

namespace {

bool in(const CharRange* r, std::size_t n, std::uint32_t cp) {
    std::size_t lo = 0, hi = n;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (cp < r[mid].first) hi = mid;
        else if (cp > r[mid].last) lo = mid + 1;
        else return true;
    }
    return false;
}

constexpr char kHex[] = "0123456789abcdef";

void put_u(TextWriter& w, const char* prefix, std::uint32_t v, int digits) {
    w.put(prefix);
    for (int k = digits - 1; k >= 0; --k) w.put(kHex[(v >> (4 * k)) & 0xF]);
}

}  // namespace

int char_width(std::uint32_t cp) {
    if (cp < 0x300) return 1;
    if (in(kZeroWidthRanges, kZeroWidthRangeCount, cp)) return 0;
    if (cp >= 0x1100 && in(kWideRanges, kWideRangeCount, cp)) return 2;
    return 1;
}

std::size_t display_width(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
    if (i == s.size()) return i;
    std::size_t width = i;
    while (i < s.size()) {
        std::uint32_t cp = 0;
        const std::size_t len = utf8_char(s, i, cp);
        if (len == 0) {
            ++width;
            ++i;
            continue;
        }
        width += static_cast<std::size_t>(char_width(cp));
        i += len;
    }
    return width;
}

void put_visible(TextWriter& w, std::string_view s, bool quoted) {
    const bool utf8 = w.text_mode() == TextMode::utf8;
    std::size_t i = 0;
    while (i < s.size()) {
        // Plain runs are copied whole.
        std::size_t j = i;
        while (j < s.size() && s[j] >= 0x20 && s[j] <= 0x7E && s[j] != '\\' && !(quoted && s[j] == '"')) ++j;
        if (j > i) {
            w.put(s.substr(i, j - i));
            i = j;
            continue;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\' || c == '"') {
            w.put('\\');
            w.put(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c == '\t' || c == '\n' || c == '\r') {
            w.put(c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r");
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t len = utf8_char(s, i, cp);
        if (len == 0) {
            put_u(w, "\\x", c, 2);
            ++i;
        } else if (utf8 && !hidden(cp)) {
            w.put(s.substr(i, len));
            i += len;
        } else {
            if (cp > 0xFFFF) put_u(w, "\\U", cp, 8);
            else put_u(w, "\\u", cp, 4);
            i += len;
        }
    }
}

}  // namespace drda::text
