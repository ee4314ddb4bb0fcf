// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/value_format.h"

#include <bit>
#include <charconv>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text_policy.h"
#include "listing/display.h"

namespace drda::rows {

void WrapWriter::fresh_line() {
    out_.put('\n');
    out_.spaces(depth_);
    col_ = static_cast<std::size_t>(depth_);
}

// The unit of n characters at the write position (in reserved room) moves
// to a continuation line.
void WrapWriter::wrap_unit(std::size_t n) {
    const std::size_t d = static_cast<std::size_t>(depth_);
    char* p = out_.reserve(n + 1 + d);
    std::memmove(p + 1 + d, p, n);
    p[0] = '\n';
    std::memset(p + 1, ' ', d);
    out_.commit(n + 1 + d);
    col_ = d + n;
}

void WrapWriter::chars(const char* s, std::size_t n) {
    while (n > 0) {
        if (col_ >= max_) fresh_line();
        std::size_t k = max_ - col_;
        if (k > n) k = n;
        out_.put(std::string_view(s, k));
        col_ += k;
        s += k;
        n -= k;
    }
}

void WrapWriter::hex(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        if (col_ + 2 > max_) {
            if (col_ > static_cast<std::size_t>(depth_)) fresh_line();
        }
        std::size_t k = col_ + 2 <= max_ ? (max_ - col_) / 2 : 1;
        if (k > n) k = n;
        char* dst = out_.reserve(2 * k);
        for (std::size_t i = 0; i < k; ++i) put_hex_pair(dst + 2 * i, p[i]);
        out_.commit(2 * k);
        col_ += 2 * k;
        p += k;
        n -= k;
    }
}


std::int64_t read_int(ByteView v, bool little) {
    const std::size_t n = v.size();
    if (n == 4) {  // the most common width, without the loop
        std::uint32_t u = v.be32(0);
        if (little) u = (u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24);
        return static_cast<std::int32_t>(u);
    }
    std::uint64_t u = 0;
    for (std::size_t i = 0; i < n && i < 8; ++i) {
        const std::size_t at = little ? n - 1 - i : i;
        u = (u << 8) | v.u8(at);
    }
    // Sign-extend from n bytes.
    if (n > 0 && n < 8) {
        const unsigned bits = static_cast<unsigned>(8 * n);
        const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
        if (u & sign) u |= ~((sign << 1) - 1);
    }
    return static_cast<std::int64_t>(u);
}

void write_integer(WrapWriter& w, ByteView v, bool little) {
    char* p = w.unit_room(24);
    w.commit_unit(static_cast<std::size_t>(put_int(p, read_int(v, little)) - p));
}

void write_float(WrapWriter& w, ByteView v, bool little) {
    std::uint64_t bits = 0;
    const std::size_t n = v.size();
    for (std::size_t i = 0; i < n; ++i) bits = (bits << 8) | v.u8(little ? n - 1 - i : i);
    constexpr std::size_t kRoom = 40;
    char* buf = w.unit_room(kRoom);
    std::to_chars_result r;
    if (n == 4) {
        const auto b32 = static_cast<std::uint32_t>(bits);
        float f;
        std::memcpy(&f, &b32, sizeof f);
        r = std::to_chars(buf, buf + kRoom, f);
    } else {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        r = std::to_chars(buf, buf + kRoom, d);
    }
    w.commit_unit(static_cast<std::size_t>(r.ptr - buf));
}

namespace {

#if defined(__SSE2__)
// format_packed for values of 1 to 16 bytes: all nibbles at once. The
// digit nibbles are first .. 2n - 2 (first = 1 when a pad nibble leads).
std::size_t format_packed_short(char* text, ByteView v, std::size_t first, std::size_t sc) {
    const std::size_t n = v.size();
    alignas(16) std::uint8_t bytes[16] = {};
    copy_short(reinterpret_cast<char*>(bytes), v.data(), n);
    const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(x, 4), low);
    const __m128i lo = _mm_and_si128(x, low);
    const __m128i nib0 = _mm_unpacklo_epi8(hi, lo);  // nibbles 0 .. 15
    const __m128i nib1 = _mm_unpackhi_epi8(hi, lo);  // nibbles 16 .. 31
    const __m128i nine = _mm_set1_epi8(9);
    const std::uint32_t above9 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(nib0, nine))) |
                                 static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(nib1, nine))) << 16;
    const __m128i zero_char = _mm_set1_epi8('0');
    alignas(16) char digits[32];
    _mm_store_si128(reinterpret_cast<__m128i*>(digits), _mm_add_epi8(nib0, zero_char));
    _mm_store_si128(reinterpret_cast<__m128i*>(digits + 16), _mm_add_epi8(nib1, zero_char));
    const std::size_t last = 2 * n - 1;  // the sign nibble
    const std::size_t from = first < last ? first : last;
    const std::size_t nd = last - from;  // digits
    // Bits from .. last - 1: the digit nibbles.
    const std::uint32_t digit_bits = static_cast<std::uint32_t>(((std::uint64_t{1} << nd) - 1) << from);
    const unsigned sign = bytes[n - 1] & 0x0F;
    if ((above9 & digit_bits) || sign < 0x0A) return kInvalidPacked;
    std::size_t t = 0;
    if (sign == 0x0B || sign == 0x0D) text[t++] = '-';
    const std::size_t int_digits = nd > sc ? nd - sc : 0;
    if (int_digits == 0) {
        text[t++] = '0';
    } else {
        // Leading zeros of the integer part, keeping its last digit.
        const std::uint32_t zeros =
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(nib0, _mm_setzero_si128()))) |
            static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(nib1, _mm_setzero_si128()))) << 16;
        const std::uint32_t lead_bits = ~(zeros >> from) & ((std::uint32_t{1} << (int_digits - 1)) - 1);
        const std::size_t lead =
            lead_bits ? static_cast<std::size_t>(std::countr_zero(lead_bits)) : int_digits - 1;
        copy_short(text + t, digits + from + lead, int_digits - lead);
        t += int_digits - lead;
    }
    if (sc > 0) {
        text[t++] = '.';
        for (std::size_t i = nd; i < sc; ++i) text[t++] = '0';
        copy_short(text + t, digits + from + int_digits, nd - int_digits);
        t += nd - int_digits;
    }
    return t;
}
#endif

}  // namespace

std::size_t format_packed(char* text, ByteView v, int precision, int scale) {
#if defined(__SSE2__)
    if (!v.empty() && v.size() <= 16 && scale < 200)
        return format_packed_short(text, v, precision % 2 == 0 ? 1 : 0, scale > 0 ? static_cast<std::size_t>(scale) : 0);
#endif
    // Nibbles: a pad nibble first when the precision is even, then the
    // digits, then the sign.
    const std::uint8_t* b = v.data();
    const std::size_t nibbles = 2 * v.size();
    const std::size_t first = (precision % 2 == 0) ? 1 : 0;
    constexpr std::size_t kMaxDigits = (kPackedRoom - 2) / 2;
    char digits[kMaxDigits];
    std::size_t nd = 0;
    unsigned bad = 0;  // any digit nibble above 9
    // Nibbles first .. nibbles - 2 are digits (at most kMaxDigits of them):
    // a byte at a time, the high nibble of the first byte only when no pad.
    const std::size_t last = nibbles >= 2 ? nibbles - 1 : 0;  // the sign nibble
    std::size_t at = first;
    if (at % 2 == 1 && at < last && nd < kMaxDigits) {
        const unsigned nib = b[at / 2] & 0x0F;
        bad |= nib + 6;  // bit 4 set from 10 up
        digits[nd++] = static_cast<char>('0' + nib);
        ++at;
    }
    // Whole bytes of two digits: a digit nibble's hex digit is its decimal
    // digit, so the pair comes from the hex table.
    std::size_t pairs = at + 1 < last ? (last - at) / 2 : 0;
    if (pairs > (kMaxDigits - nd) / 2) pairs = (kMaxDigits - nd) / 2;
    for (const std::uint8_t* q = b + at / 2; pairs > 0; --pairs, ++q, at += 2) {
        const unsigned byte = *q;
        bad |= ((byte >> 4) + 6) | ((byte & 0x0F) + 6);
        std::memcpy(digits + nd, kHexPairs + 2 * byte, 2);
        nd += 2;
    }
    if (at < last && nd < kMaxDigits) {
        const unsigned nib = b[at / 2] >> 4;  // the digit in front of the sign
        bad |= nib + 6;
        digits[nd++] = static_cast<char>('0' + nib);
    }
    const unsigned sign = nibbles >= 2 ? (b[v.size() - 1] & 0x0F) : 0;
    if (nibbles < 2 || (bad & 0x10) || sign < 0x0A) return kInvalidPacked;
    const bool negative = sign == 0x0B || sign == 0x0D;
    // digits[0..nd) is the unscaled number; place the point `scale` digits
    // from the right, padding with zeros when the scale exceeds the digits.
    std::size_t t = 0;
    if (negative) text[t++] = '-';
    const std::size_t sc = scale > 0 ? static_cast<std::size_t>(scale) : 0;
    std::size_t lead = 0;  // leading zeros of the integer part to skip
    const std::size_t int_digits = nd > sc ? nd - sc : 0;
    // Leading zeros eight at a time: the first byte of a word that is not
    // '0' tells how many to skip.
    while (lead + 8 < int_digits) {
        std::uint64_t x;
        std::memcpy(&x, digits + lead, 8);
        x ^= 0x3030303030303030u;
        if (x != 0) {
            lead += static_cast<std::size_t>(std::endian::native == std::endian::little ? std::countr_zero(x)
                                                                                         : std::countl_zero(x)) /
                    8;
            break;
        }
        lead += 8;
    }
    while (lead + 1 < int_digits && digits[lead] == '0') ++lead;
    if (int_digits == 0) {
        text[t++] = '0';
    } else {
        copy_short(text + t, digits + lead, int_digits - lead);
        t += int_digits - lead;
    }
    if (sc > 0) {
        text[t++] = '.';
        for (std::size_t i = nd; i < sc && t < kPackedRoom; ++i) text[t++] = '0';
        // The fraction digits; room is left for them (at most the digits
        // and the zeros in front of them, below kPackedRoom).
        const std::size_t frac = nd - int_digits;
        const std::size_t fit = frac < kPackedRoom - t ? frac : kPackedRoom - t;
        copy_short(text + t, digits + int_digits, fit);
        t += fit;
    }
    return t;
}

void write_packed(WrapWriter& w, ByteView v, int precision, int scale) {
    char* const text = w.unit_room(kPackedRoom);
    const std::size_t t = format_packed(text, v, precision, scale);
    if (t == kInvalidPacked) {
        w.unit("invalid packed decimal ");
        w.unit("X'");
        w.hex(v.data(), v.size());
        w.unit("'");
        return;
    }
    w.commit_unit(t);
}

namespace {

void length_note(WrapWriter& w, std::size_t total) {
    char buf[48] = "...(";
    char* e = put_uint(buf + 4, total);
    std::memcpy(e, " bytes)", 7);
    w.unit(std::string_view(buf, static_cast<std::size_t>(e + 7 - buf)));
}

void ccsid_note(WrapWriter& w, std::uint32_t ccsid) {
    if (ccsid == 0) {
        w.unit(" (CCSID unknown)");
        return;
    }
    char buf[40] = " (CCSID ";
    char* e = put_uint(buf + 8, ccsid);
    *e++ = ')';
    w.unit(std::string_view(buf, static_cast<std::size_t>(e - buf)));
}

// Printable ASCII that stands for itself inside quotes.
inline bool plain(std::uint32_t cp) { return cp >= 0x20 && cp <= 0x7E && cp != '"' && cp != '\\'; }

}  // namespace

bool all_plain(const std::uint8_t* p, std::size_t n) {
#if defined(__SSE2__)
    // Sixteen at a time: a byte passes when, taken as signed, it lies in
    // 0x20..0x7E and is neither '"' nor '\'. Shorter runs are loaded as
    // overlapping halves, so that one test covers them too.
    const auto bad = [](__m128i x) {
        const __m128i in = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x1F)), _mm_cmplt_epi8(x, _mm_set1_epi8(0x7F)));
        const __m128i odd = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('"')), _mm_cmpeq_epi8(x, _mm_set1_epi8('\\')));
        return _mm_movemask_epi8(_mm_andnot_si128(odd, in)) != 0xFFFF;
    };
    const auto load16 = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    const auto load8 = [](const std::uint8_t* q) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)); };
    if (n >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16)
            if (bad(load16(p + i))) return false;
        return i == n || !bad(load16(p + n - 16));  // the last sixteen, overlapping
    }
    if (n >= 8) return !bad(_mm_unpacklo_epi64(load8(p), load8(p + n - 8)));
    if (n >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        // The upper lanes hold 'A's, which pass.
        return !bad(_mm_set_epi32(0x41414141, 0x41414141, static_cast<int>(b), static_cast<int>(a)));
    }
    for (std::size_t i = 0; i < n; ++i)
        if (!plain(p[i])) return false;
    return true;
#else
    std::size_t i = 0;
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    const auto differs = [](std::uint64_t x, std::uint8_t c) {
        const std::uint64_t t = x ^ (kOnes * c);
        return ((t & kLow7) + kLow7) | t;  // top bit set where the byte is not c
    };
    // Eight at a time by word arithmetic: in each byte of a word, the top
    // bit of each term is set when the byte passes that test.
    const auto good8 = [&](const std::uint8_t* q) {
        std::uint64_t x;
        std::memcpy(&x, q, 8);
        const std::uint64_t lo = x & kLow7;
        const std::uint64_t good = ~x                     // below 0x80
                                   & (lo + kOnes * 0x60)  // 0x20 and up
                                   & ~(lo + kOnes * 0x01) // not 0x7F
                                   & differs(x, '"') & differs(x, '\\');
        return (good & kHigh) == kHigh;
    };
    for (; i + 8 <= n; i += 8)
        if (!good8(p + i)) return false;
    if (i == n) return true;
    if (n >= 8) return good8(p + n - 8);  // the last eight, overlapping
    for (; i < n; ++i)
        if (!plain(p[i])) return false;
    return true;
#endif
}

namespace {

void write_escape(WrapWriter& w, std::uint32_t cp) {
    char buf[10];
    buf[0] = '\\';
    std::size_t n;
    if (cp == '"' || cp == '\\') {
        buf[1] = static_cast<char>(cp);
        n = 2;
    } else if (cp < 0x100) {
        buf[1] = 'x';
        put_hex_pair(buf + 2, static_cast<std::uint8_t>(cp));
        n = 4;
    } else if (cp < 0x10000) {
        buf[1] = 'u';
        put_hex_pair(buf + 2, static_cast<std::uint8_t>(cp >> 8));
        put_hex_pair(buf + 4, static_cast<std::uint8_t>(cp));
        n = 6;
    } else {
        buf[1] = 'U';
        for (int i = 0; i < 4; ++i) put_hex_pair(buf + 2 + 2 * i, static_cast<std::uint8_t>(cp >> (24 - 8 * i)));
        n = 10;
    }
    w.unit(std::string_view(buf, n));
}

}  // namespace

void write_binary(WrapWriter& w, ByteView shown, std::size_t total) {
    const std::size_t n = shown.size() < kMaxBinaryBytes ? shown.size() : kMaxBinaryBytes;
    w.unit("X'");
    w.hex(shown.data(), n);
    w.unit("'");
    if (total > n) length_note(w, total);
}

void write_chars(WrapWriter& w, ByteView shown, std::size_t total, const Charset* charset, std::uint32_t ccsid,
                 std::size_t max_chars, bool note) {
    if (max_chars > kMaxChars) max_chars = kMaxChars;
    const std::size_t avail = shown.size() < kMaxCharBytes ? shown.size() : kMaxCharBytes;
    // Most text is plain ASCII in a charset that keeps ASCII as it is: write
    // it straight through.
    if (charset && charset->encoding != Encoding::kUtf16Be && charset->encoding != Encoding::kUtf16Le &&
        (charset->encoding == Encoding::kUtf8 || charset->table[0x41] == 0x41)) {
        const std::size_t n = avail < max_chars ? avail : max_chars;
        const std::uint8_t* p = shown.data();
        if (all_plain(p, n)) {
            if (n + 2 <= w.room()) {
                // The quotes and the text on the current line, at once.
                char* o = w.unit_room(n + 2);
                o[0] = '"';
                if (n) std::memcpy(o + 1, p, n);
                o[n + 1] = '"';
                w.commit_unit(n + 2);
            } else {
                w.unit("\"");
                w.chars(reinterpret_cast<const char*>(p), n);
                w.unit("\"");
            }
            if (note && n < total) length_note(w, total);
            return;
        }
    }
    std::uint32_t cps[kMaxChars];
    std::size_t count = 0;
    std::size_t used = 0;
    bool valid = charset != nullptr;
    while (valid && count < max_chars && used < avail) {
        std::uint32_t cp = 0;
        const int k = decode_char(*charset, shown.data() + used, avail - used, cp);
        if (k < 0) {
            valid = false;
        } else if (k == 0) {
            // Cut off: dropped where the bytes looked at stop short of the
            // value, a fault where the value itself ends there.
            if (avail >= total) valid = false;
            break;
        } else {
            cps[count++] = cp;
            used += static_cast<std::size_t>(k);
        }
    }
    if (!valid) {
        write_binary(w, shown, total);
        ccsid_note(w, charset ? charset->ccsid : ccsid);
        return;
    }
    w.unit("\"");
    char run[kMaxChars];
    std::size_t i = 0;
    const bool utf8 = w.utf8();
    while (i < count) {
        std::size_t r = 0;
        while (i < count && plain(cps[i])) run[r++] = static_cast<char>(cps[i++]);
        if (r) w.chars(run, r);
        if (i == count) break;
        const std::uint32_t cp = cps[i++];
        if (!utf8 || cp < 0x80 || text::hidden(cp)) {
            write_escape(w, cp);
            continue;
        }
        // A character as it is, with the combining marks on it (so that no
        // line starts with a mark cut from its letter).
        char bytes[64];
        std::size_t n = text::put_utf8(cp, bytes);
        const std::size_t width = static_cast<std::size_t>(text::char_width(cp));
        while (i < count && n + 4 <= sizeof bytes && cps[i] >= 0x300 && !text::hidden(cps[i]) &&
               text::char_width(cps[i]) == 0)
            n += text::put_utf8(cps[i++], bytes + n);
        w.text_unit(std::string_view(bytes, n), width);
    }
    w.unit("\"");
    if (note && used < total) length_note(w, total);
}

}  // namespace drda::rows
