// SPDX-License-Identifier: Apache-2.0
#include "common/text_writer.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <utility>

namespace drda {

OutputError::OutputError(std::string name, int err)
    : std::runtime_error(name + ": " + std::strerror(err)), name_(std::move(name)), err_(err) {}

void FileSink::write(const char* data, std::size_t n) {
    if (n == 0) return;
    errno = 0;
    if (std::fwrite(data, 1, n, f_) != n) throw OutputError(name_, errno ? errno : EIO);
}

void FileSink::flush() {
    errno = 0;
    if (std::fflush(f_) != 0 || std::ferror(f_)) throw OutputError(name_, errno ? errno : EIO);
}

TextWriter::TextWriter(Sink& sink) : sink_(sink), buf_(new char[kFirstBlock]), cap_(kFirstBlock) {}

TextWriter::~TextWriter() = default;

void TextWriter::drain() {
    if (len_ == 0) return;
    const void* nl = nullptr;
    for (std::size_t i = len_; i > 0; --i) {
        if (buf_[i - 1] == '\n') {
            nl = &buf_[i - 1];
            break;
        }
    }
    if (nl) {
        carry_col_ = len_ - (static_cast<const char*>(nl) - buf_.get()) - 1;
    } else {
        carry_col_ += len_;
    }
    std::size_t n = len_;
    if (n >= 2) {
        tail_[0] = buf_[n - 2];
        tail_[1] = buf_[n - 1];
    } else {
        tail_[0] = tail_[1];
        tail_[1] = buf_[0];
    }
    len_ = 0;  // the text counts as handed over even if the sink fails
    sink_.write(buf_.get(), n);
}

void TextWriter::make_room(std::size_t n) {
    if (cap_ < kBlock && len_ + n <= kBlock) {
        // The buffer starts small (most writers of tests and fuzzing runs
        // write little) and grows to a block before it is first drained.
        std::size_t grown = cap_ * 4 < kBlock ? cap_ * 4 : kBlock;
        if (grown < len_ + n) grown = kBlock;
        std::unique_ptr<char[]> bigger(new char[grown]);
        if (len_) std::memcpy(bigger.get(), buf_.get(), len_);
        buf_ = std::move(bigger);
        cap_ = grown;
        return;
    }
    drain();
    if (n > cap_) {
        // One reservation larger than a block: grow once to fit it.
        buf_.reset(new char[n]);
        cap_ = n;
    }
}

void TextWriter::put_long(std::string_view s) {
    std::memcpy(reserve(s.size()), s.data(), s.size());
    len_ += s.size();
}

void TextWriter::flush() {
    drain();
    sink_.flush();
}

void TextWriter::printf(const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
}

void TextWriter::put_udec(std::uint64_t v) {
    char* p = reserve(20);
    len_ += static_cast<std::size_t>(std::to_chars(p, p + 20, v).ptr - p);
}

void TextWriter::put_dec(std::int64_t v) {
    char* p = reserve(20);
    len_ += static_cast<std::size_t>(std::to_chars(p, p + 20, v).ptr - p);
}

void TextWriter::put_hex_long(std::uint64_t v, int digits) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    int n = 1;
    while (n < 16 && (v >> (4 * n)) != 0) ++n;
    if (digits > n) n = digits > 16 ? 16 : digits;
    char* p = reserve(static_cast<std::size_t>(n));
    for (int i = n - 1; i >= 0; --i, v >>= 4) p[i] = kDigits[v & 15];
    len_ += static_cast<std::size_t>(n);
}

namespace {

// The conversions the writer formats itself: integers (d i u x X, with the
// length modifiers hh h l ll z), strings, characters and "%%", with any
// flags, widths and precisions. Anything else (floating point, %n, %p, ...)
// goes to vsnprintf. The text is the same as vsnprintf's; a test compares
// the two over the formats the tool uses and many more.
bool fast_format(const char* f) {
    while ((f = std::strchr(f, '%')) != nullptr) {
        ++f;
        while (*f == '-' || *f == '+' || *f == ' ' || *f == '#' || *f == '0') ++f;
        while ((*f >= '0' && *f <= '9') || *f == '*') ++f;
        if (*f == '.') {
            ++f;
            while ((*f >= '0' && *f <= '9') || *f == '*') ++f;
        }
        while (*f == 'h' || *f == 'l' || *f == 'z') ++f;
        switch (*f) {
            case 'd': case 'i': case 'u': case 'x': case 'X': case 's': case 'c': case '%': ++f; break;
            default: return false;
        }
    }
    return true;
}

// Output position of the formatter in the writer's buffer: text goes
// into reserved room and is committed in one step at the end, or when more
// room is needed.
class Cursor {
public:
    explicit Cursor(TextWriter& w) : w_(w) { grab(kChunk); }
    ~Cursor() { w_.commit(static_cast<std::size_t>(o_ - base_)); }
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    // Room for n more characters at o().
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - o_) < n) {
            w_.commit(static_cast<std::size_t>(o_ - base_));
            grab(n > kChunk ? n : kChunk);
        }
        return o_;
    }
    void advance(std::size_t n) { o_ += n; }
    void copy(const char* s, std::size_t n) {
        char* o = room(n);
        if (n <= 16) {
            for (std::size_t i = 0; i < n; ++i) o[i] = s[i];
        } else {
            std::memcpy(o, s, n);
        }
        o_ += n;
    }
    void fill(char c, int n) {
        if (n <= 0) return;
        char* o = room(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) o[i] = c;
        o_ += n;
    }

private:
    static constexpr std::size_t kChunk = 512;
    void grab(std::size_t n) {
        base_ = o_ = w_.reserve(n);
        end_ = base_ + n;
    }
    TextWriter& w_;
    char* base_ = nullptr;
    char* o_ = nullptr;
    char* end_ = nullptr;
};

int read_count(const char*& f, std::va_list& ap) {
    if (*f == '*') {
        ++f;
        return va_arg(ap, int);
    }
    int n = 0;
    while (*f >= '0' && *f <= '9') {
        if (n < 100000) n = n * 10 + (*f - '0');
        ++f;
    }
    return n;
}

// One conversion from just after its '%'; advances f past it.
void convert(Cursor& w, const char*& f, std::va_list& ap) {
    bool left = false, plus = false, blank = false, alt = false, zero = false;
    for (;; ++f) {
        if (*f == '-') left = true;
        else if (*f == '+') plus = true;
        else if (*f == ' ') blank = true;
        else if (*f == '#') alt = true;
        else if (*f == '0') zero = true;
        else break;
    }
    int width = read_count(f, ap);
    if (width < 0) {
        left = true;
        width = width == -2147483647 - 1 ? 2147483647 : -width;
    }
    int prec = -1;
    if (*f == '.') {
        ++f;
        prec = read_count(f, ap);
        if (prec < 0) prec = -1;
    }
    int hs = 0, ls = 0;
    bool size = false;
    for (;; ++f) {
        if (*f == 'h') ++hs;
        else if (*f == 'l') ++ls;
        else if (*f == 'z') size = true;
        else break;
    }
    const char conv = *f++;
    if (conv == '%') {
        w.copy("%", 1);
        return;
    }
    if (conv == 'c') {
        const char c = static_cast<char>(va_arg(ap, int));
        if (!left) w.fill(' ', width - 1);
        w.copy(&c, 1);
        if (left) w.fill(' ', width - 1);
        return;
    }
    if (conv == 's') {
        const char* s = va_arg(ap, const char*);
        if (!s) s = "(null)";
        std::size_t n = 0;
        if (prec < 0) {
            n = std::strlen(s);
        } else {
            while (n < static_cast<std::size_t>(prec) && s[n]) ++n;
        }
        const int fill = width - static_cast<int>(n < 2147483647u ? n : 2147483647u);
        if (!left) w.fill(' ', fill);
        w.copy(s, n);
        if (left) w.fill(' ', fill);
        return;
    }
    // Integers.
    std::uint64_t mag = 0;
    bool negative = false;
    const bool is_signed = conv == 'd' || conv == 'i';
    if (is_signed) {
        std::int64_t v;
        if (size) v = static_cast<std::int64_t>(va_arg(ap, std::ptrdiff_t));
        else if (ls >= 2) v = va_arg(ap, long long);
        else if (ls == 1) v = va_arg(ap, long);
        else if (hs >= 2) v = static_cast<signed char>(va_arg(ap, int));
        else if (hs == 1) v = static_cast<short>(va_arg(ap, int));
        else v = va_arg(ap, int);
        negative = v < 0;
        mag = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    } else {
        if (size) mag = va_arg(ap, std::size_t);
        else if (ls >= 2) mag = va_arg(ap, unsigned long long);
        else if (ls == 1) mag = va_arg(ap, unsigned long);
        else if (hs >= 2) mag = static_cast<unsigned char>(va_arg(ap, unsigned));
        else if (hs == 1) mag = static_cast<unsigned short>(va_arg(ap, unsigned));
        else mag = va_arg(ap, unsigned);
    }
    char digits[24];
    char* const end = digits + sizeof digits;
    char* d = end;
    if (conv == 'x' || conv == 'X') {
        const char* hex = conv == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
        for (std::uint64_t m = mag; m != 0; m >>= 4) *--d = hex[m & 15];
    } else {
        for (std::uint64_t m = mag; m != 0; m /= 10) *--d = static_cast<char>('0' + m % 10);
    }
    if (mag == 0 && prec != 0) *--d = '0';
    const int ndigits = static_cast<int>(end - d);
    char prefix[2];
    int nprefix = 0;
    if (is_signed) {
        if (negative) prefix[nprefix++] = '-';
        else if (plus) prefix[nprefix++] = '+';
        else if (blank) prefix[nprefix++] = ' ';
    } else if (alt && mag != 0 && (conv == 'x' || conv == 'X')) {
        prefix[nprefix++] = '0';
        prefix[nprefix++] = conv;
    }
    int zeros = prec > ndigits ? prec - ndigits : 0;
    const int body = nprefix + zeros + ndigits;
    int fill = width > body ? width - body : 0;
    if (fill && zero && !left && prec < 0) {
        zeros += fill;
        fill = 0;
    }
    if (!left) w.fill(' ', fill);
    w.copy(prefix, static_cast<std::size_t>(nprefix));
    w.fill('0', zeros);
    w.copy(d, static_cast<std::size_t>(ndigits));
    if (left) w.fill(' ', fill);
}

}  // namespace

void TextWriter::vprintf(const char* fmt, std::va_list ap) {
    if (fast_format(fmt)) {
        std::va_list args;
        va_copy(args, ap);
        {
            Cursor w(*this);
            const char* f = fmt;
            for (;;) {
                const char* pct = std::strchr(f, '%');
                if (!pct) {
                    w.copy(f, std::strlen(f));
                    break;
                }
                w.copy(f, static_cast<std::size_t>(pct - f));
                f = pct + 1;
                convert(w, f, args);
            }
        }
        va_end(args);
        return;
    }
    std::va_list again;
    va_copy(again, ap);
    std::size_t room = cap_ - len_;
    if (room < 256) room = 256;
    char* p = reserve(room);
    int n = std::vsnprintf(p, room, fmt, ap);
    if (n >= 0 && static_cast<std::size_t>(n) >= room) {
        p = reserve(static_cast<std::size_t>(n) + 1);
        n = std::vsnprintf(p, static_cast<std::size_t>(n) + 1, fmt, again);
    }
    va_end(again);
    if (n > 0) len_ += static_cast<std::size_t>(n);
}

bool TextWriter::at_blank_line() const {
    const char last = len_ >= 1 ? buf_[len_ - 1] : tail_[1];
    const char before = len_ >= 2 ? buf_[len_ - 2] : len_ == 1 ? tail_[1] : tail_[0];
    return last == '\n' && before == '\n';
}

std::size_t TextWriter::column() const {
    // Back to the last newline, eight bytes at a time while whole words
    // remain: a byte of x ^ "\n\n.." is zero where the text has a newline.
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    const char* const b = buf_.get();
    std::size_t i = len_;
    while (i >= 8) {
        std::uint64_t x;
        std::memcpy(&x, b + i - 8, 8);
        x ^= kOnes * '\n';
        if ((x - kOnes) & ~x & kHigh) break;  // a newline among these eight
        i -= 8;
    }
    for (; i > 0; --i) {
        if (b[i - 1] == '\n') return len_ - i;
    }
    return carry_col_ + len_;
}

}  // namespace drda
