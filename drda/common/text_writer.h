// SPDX-License-Identifier: Apache-2.0
// The one buffered writer through which all listing and decoded text flows.
//
// Text is assembled in a large block and handed to a sink when the block
// fills, so a record's text may be of any size. The writer knows the column
// of its write position (the wrapped text writer of the decoder needs it)
// and lets hot paths format whole lines in place through reserve/commit.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/copy_short.h"

namespace drda {

// A failed write of the output: carries the errno and the stream's name.
class OutputError : public std::runtime_error {
public:
    OutputError(std::string name, int err);
    const std::string& name() const noexcept { return name_; }
    int error_number() const noexcept { return err_; }

private:
    std::string name_;
    int err_;
};

// Where finished blocks of text go.
class Sink {
public:
    virtual ~Sink() = default;
    // Writes all n bytes or throws OutputError.
    virtual void write(const char* data, std::size_t n) = 0;
    // Pushes everything written so far to its destination; throws on error.
    virtual void flush() {}
};

// Writes to a stdio stream (standard output or the -o file).
class FileSink final : public Sink {
public:
    FileSink(std::FILE* f, std::string name) : f_(f), name_(std::move(name)) {}
    void write(const char* data, std::size_t n) override;
    void flush() override;

private:
    std::FILE* f_;
    std::string name_;
};

// Appends to a string (tests, in-memory runs).
class StringSink final : public Sink {
public:
    explicit StringSink(std::string& s) : s_(s) {}
    void write(const char* data, std::size_t n) override { s_.append(data, n); }

private:
    std::string& s_;
};

// Discards the text but counts it (benchmarks, fuzzing).
class NullSink final : public Sink {
public:
    void write(const char*, std::size_t n) override { bytes += n; }
    std::size_t bytes = 0;
};

// How text taken from the input may be written: `ascii` escapes every
// character beyond ASCII (the C locale, --ascii); `utf8` writes printable
// characters as UTF-8 (a UTF-8 locale, the page). Control characters,
// bidirectional controls and invisible format characters are escaped in
// both (see common/text_policy.h).
enum class TextMode : std::uint8_t { ascii, utf8 };

class TextWriter {
public:
    static constexpr std::size_t kBlock = std::size_t{1} << 20;
    // The buffer's first size; it grows to kBlock as text comes.
    static constexpr std::size_t kFirstBlock = std::size_t{1} << 14;

    explicit TextWriter(Sink& sink);
    ~TextWriter();
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    void put(char c) {
        if (len_ == cap_) make_room(1);
        buf_[len_++] = c;
    }
    void put(std::string_view s) {
        // Most text put is short (names, fields, values): copied inline.
        const std::size_t n = s.size();
        if (n > 64) return put_long(s);
        copy_short(reserve(n), s.data(), n);
        len_ += n;
    }
    void spaces(int n) {
        if (n <= 0) return;
        if (n <= 32) {
            // Indentation: 32 blanks stored as four words, n of them kept.
            char* p = reserve(32);
            constexpr std::uint64_t kBlanks = 0x2020202020202020u;
            for (int i = 0; i < 4; ++i) std::memcpy(p + 8 * i, &kBlanks, 8);
            len_ += static_cast<std::size_t>(n);
            return;
        }
        char* p = reserve(static_cast<std::size_t>(n));
        std::memset(p, ' ', static_cast<std::size_t>(n));
        len_ += static_cast<std::size_t>(n);
    }
    // Numbers without formatted printing. put_dec is "%d" / "%ld"; put_hex
    // is "%0NX": upper-case, at least `digits` digits; put_hex_alt is
    // "%#N.0NX": "0X" and at least `digits` digits, only the zeros for 0.
    void put_dec(std::int64_t v);
    void put_udec(std::uint64_t v);
    void put_hex(std::uint64_t v, int digits) {
        // Two and four digits (bytes, code points, lengths) inline.
        if ((digits == 2 && v <= 0xFF) || (digits == 4 && v <= 0xFFFF)) {
            constexpr char kDigits[] = "0123456789ABCDEF";
            char* p = reserve(4);
            const int n = digits;
            for (int i = n - 1; i >= 0; --i, v >>= 4) p[i] = kDigits[v & 15];
            len_ += static_cast<std::size_t>(n);
            return;
        }
        put_hex_long(v, digits);
    }
    void put_hex_alt(std::uint64_t v, int digits) {
        if (v != 0) put("0X");
        put_hex(v, digits);
    }

    // printf-style text at the write position.
    void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void vprintf(const char* fmt, std::va_list ap);

    // Room for n characters at the write position; write into it and then
    // call commit with the number actually written (at most n).
    char* reserve(std::size_t n) {
        if (cap_ - len_ < n) make_room(n);
        return buf_.get() + len_;
    }
    void commit(std::size_t n) { len_ += n; }

    // Characters already on the current output line.
    std::size_t column() const;
    // Whether the write position is at the start of a line (column() == 0),
    // without looking back along the line.
    bool at_line_start() const { return len_ > 0 ? buf_[len_ - 1] == '\n' : carry_col_ == 0; }

    // Whether nothing has been written yet or the text ends with an empty
    // line ("\n\n"), so that a block set apart by empty lines needs no
    // other one before it.
    bool at_blank_line() const;

    // Hands the buffered text to the sink and flushes it.
    void flush();

    // How text taken from the input is written here; ascii unless set.
    TextMode text_mode() const { return mode_; }
    void set_text_mode(TextMode m) { mode_ = m; }

private:
    void put_hex_long(std::uint64_t v, int digits);
    void make_room(std::size_t n);
    void put_long(std::string_view s);
    void drain();

    Sink& sink_;
    std::unique_ptr<char[]> buf_;
    std::size_t cap_ = 0;
    std::size_t len_ = 0;
    std::size_t carry_col_ = 0;  // column at the start of buf_
    // The last two characters handed to the sink ('\n' before any), for
    // at_blank_line once the buffer has been drained.
    char tail_[2] = {'\n', '\n'};
    TextMode mode_ = TextMode::ascii;
};

}  // namespace drda
