// SPDX-License-Identifier: Apache-2.0
#include "common/text_writer.h"

#include <cerrno>
#include <cstring>

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

TextWriter::TextWriter(Sink& sink) : sink_(sink), buf_(new char[kBlock]), cap_(kBlock) {}

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
    len_ = 0;  // the text counts as handed over even if the sink fails
    sink_.write(buf_.get(), n);
}

void TextWriter::make_room(std::size_t n) {
    drain();
    if (n > cap_) {
        // One reservation larger than a block: grow once to fit it.
        buf_.reset(new char[n]);
        cap_ = n;
    }
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

void TextWriter::vprintf(const char* fmt, std::va_list ap) {
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

std::size_t TextWriter::column() const {
    for (std::size_t i = len_; i > 0; --i) {
        if (buf_[i - 1] == '\n') return len_ - i;
    }
    return carry_col_ + len_;
}

}  // namespace drda
