// SPDX-License-Identifier: Apache-2.0
#include "trace/trace_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

namespace drda {
namespace {

constexpr char kMagic[7] = {'D', 'R', 'D', 'A', 'D', 'B', 'G'};

// Data buffers grow in steps of at least this much while the bytes of a
// record actually arrive, so a byte count that claims more than the file
// holds never allocates what is not there.
constexpr std::size_t kGrowStep = std::size_t{1} << 20;

// Bytes a regular file is read ahead by.
constexpr std::size_t kChunk = std::size_t{1} << 20;

bool regular_file(std::FILE* in) {
    const int fd = fileno(in);
    struct stat st;
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Bytes between the read position and the end of `in`, when the stream can
// seek (a file on disk, a stream in memory); false for a pipe.
bool bytes_remaining(std::FILE* in, std::uint64_t& left) {
    const off_t here = ftello(in);
    if (here < 0) return false;
    if (fseeko(in, 0, SEEK_END) != 0) {
        std::clearerr(in);
        return false;
    }
    const off_t end = ftello(in);
    if (fseeko(in, here, SEEK_SET) != 0 || end < here) {
        std::clearerr(in);
        return false;
    }
    left = static_cast<std::uint64_t>(end - here);
    return true;
}

}  // namespace

TraceFile::TraceFile(std::FILE* in, const std::string& input_name, std::FILE* err)
    : in_(in), name_(input_name), err_(err), ahead_(regular_file(in)) {}

TraceFile::TraceFile(StreamInput& live, const std::string& input_name, std::FILE* err)
    : live_(&live), name_(input_name), err_(err) {}

// A regular file is read in chunks into one buffer and each record's bytes
// are used where they lie, instead of being copied out of the stream's own
// buffer. (A pipe is read as the bytes are needed, so that a trace still
// being written is shown as it comes.)
bool TraceFile::ensure(std::size_t n) {
    if (end_ - at_ >= n) return true;
    if (at_ > 0) {
        std::memmove(buf_.data(), buf_.data() + at_, end_ - at_);
        end_ -= at_;
        at_ = 0;
    }
    while (end_ < n) {
        if (end_ == buf_.size()) {
            // Grown step by step as the bytes arrive, to n at most.
            const std::size_t most = n > kChunk ? n : kChunk;
            std::size_t next = buf_.size() * 2 > kChunk ? buf_.size() * 2 : kChunk;
            if (next > most) next = most;
            buf_.resize(next);
        }
        errno = 0;
        const std::size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, in_);
        end_ += got;
        if (got == 0) return false;
    }
    return true;
}

void TraceFile::report_short_read() {
    if (live_) {
        if (live_->stopped()) return;
        if (live_->error()) std::fprintf(err_, "%s: %s\n", name_.c_str(), std::strerror(live_->error()));
        else std::fprintf(err_, "%s: unexpected end of file\n", name_.c_str());
        return;
    }
    if (std::ferror(in_)) {
        int e = errno ? errno : EIO;
        std::fprintf(err_, "%s: %s\n", name_.c_str(), std::strerror(e));
    } else {
        std::fprintf(err_, "%s: unexpected end of file\n", name_.c_str());
    }
}

bool TraceFile::read_exact(void* p, std::size_t n) {
    if (live_) {
        if (live_->read_full(static_cast<std::uint8_t*>(p), n) == n) return true;
        report_short_read();
        return false;
    }
    if (ahead_) {
        if (!ensure(n)) {
            report_short_read();
            return false;
        }
        std::memcpy(p, buf_.data() + at_, n);
        at_ += n;
        return true;
    }
    errno = 0;
    if (std::fread(p, 1, n, in_) == n) return true;
    report_short_read();
    return false;
}

bool TraceFile::read_be32(std::int32_t& v) {
    std::uint8_t b[4];
    if (!read_exact(b, 4)) return false;
    v = ByteView(b, 4).sbe32(0);
    return true;
}

bool TraceFile::read_data(std::size_t count) {
    if (ahead_) {
        if (count > buf_.size()) {
            // As below: a count that claims more than the file holds is an
            // end of file found without allocating it; otherwise the buffer
            // is made the record's size at once.
            std::uint64_t left = 0;
            if (bytes_remaining(in_, left)) {
                if (left + (end_ - at_) < count) {
                    report_short_read();
                    return false;
                }
                std::vector<std::uint8_t> bigger(count);
                std::memcpy(bigger.data(), buf_.data() + at_, end_ - at_);
                end_ -= at_;
                at_ = 0;
                buf_.swap(bigger);
            }
        }
        if (!ensure(count)) {
            report_short_read();
            return false;
        }
        data_at_ = buf_.data() + at_;
        at_ += count;
        return true;
    }
    if (count > data_.size()) {
        // Where the size of what is left can be known, a byte count that
        // claims more is an end of file found without allocating it, and a
        // buffer is allocated once at exactly the record's size (the old one
        // released first), so memory stays at the largest record.
        std::uint64_t left = 0;
        if (!live_ && bytes_remaining(in_, left)) {
            if (left < count) {
                report_short_read();
                return false;
            }
            data_.clear();
            data_.shrink_to_fit();
            data_.resize(count);
        }
    }
    std::size_t have = 0;
    while (have < count) {
        if (have == data_.size()) {
            std::size_t next = data_.size() * 2;
            if (next < kGrowStep) next = kGrowStep;
            if (next > count) next = count;
            data_.resize(next);
        }
        std::size_t want = (count < data_.size() ? count : data_.size()) - have;
        errno = 0;
        std::size_t got = live_ ? live_->read_full(data_.data() + have, want)
                                : std::fread(data_.data() + have, 1, want, in_);
        have += got;
        if (got < want) {
            report_short_read();
            return false;
        }
    }
    return true;
}

bool TraceFile::read_time(const std::uint8_t bytes[8], double& time) {
    time_len_ = 0;
    time_shown_ = false;
    std::uint64_t bits = ByteView(bytes, 8).be64(0);
    double t;
    std::memcpy(&t, &bits, sizeof t);
    bool ok = std::isfinite(t) && !(t < 0) && t < 9.0e18;
    std::int64_t s = 0;
    std::tm tmv{};
    bool cached = false;
    if (ok) {
        s = static_cast<std::int64_t>(t);
        cached = s == date_second_;
        if (!cached) {
            std::time_t tt = static_cast<std::time_t>(s);
            ok = localtime_r(&tt, &tmv) != nullptr;
        }
    }
    if (warned_) {
        // After the first bad time no time line is shown, but a valid time
        // is still the record's.
        if (ok) time = t;
        return ok;
    }
    if (!ok) {
        std::fputs("Warning: invalid timestamp.\n", err_);
        std::fputs("\t No timestamp will be generated in the output file.\n", err_);
        warned_ = true;
        return false;
    }
    if (!cached) {
        date_length_ = std::strftime(date_, sizeof date_, "%Y-%m-%d %H:%M:%S", &tmv);
        date_second_ = s;
    }
    time = t;
    time_ = t;
    time_shown_ = true;
    return true;
}

std::string_view TraceFile::time_text() {
    if (!time_shown_ || stage_ != Stage::time) return {};
    if (time_len_ == 0) {
        // The fraction to five places, rounded exactly as "%.5f" rounds it:
        // "0.xxxxx", or "1.00000" when it rounds up; the text from the point on.
        char frac[16];
        const auto r = std::to_chars(frac, frac + sizeof frac, time_ - static_cast<double>(date_second_),
                                     std::chars_format::fixed, 5);
        std::memcpy(time_text_, date_, date_length_);
        const std::size_t fl = static_cast<std::size_t>(r.ptr - frac) - 1;
        std::memcpy(time_text_ + date_length_, frac + 1, fl);
        time_len_ = date_length_ + fl;
    }
    return std::string_view(time_text_, time_len_);
}

bool TraceFile::read_header(ByteView head) {
    if (head.size() < sizeof kMagic) {
        report_short_read();
        return false;
    }
    if (std::memcmp(head.data(), kMagic, sizeof kMagic) != 0) {
        invalid("ERROR: Invalid file format.");
        return false;
    }
    std::int32_t version;
    if (!read_be32(version)) return false;
    version_ = version;
    return true;
}

void TraceFile::print_header(TextWriter& out) const { out.printf("DRDADBG Version %d\n\n", version_); }

void TraceFile::print_error(TextWriter& out) const {
    if (*error_ == '\0') return;
    out.put('\n');
    out.put(error_);
    out.put('\n');
}

void TraceFile::print_record(TextWriter& out) {
    if (stage_ == Stage::none) return;
    out.put_dec(record_);
    out.put("\tdata ZEV DRDA Communication Manager\n");
    if (stage_ == Stage::number) return;
    // A zero byte ends the name; other unprintable bytes are masked so
    // a damaged trace cannot drive the terminal.
    out.put("\tfunction  ");
    for (int i = 0; i < function_len_ && function_[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(function_[i]);
        out.put(c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.');
    }
    out.put("()\n");
    if (stage_ == Stage::function) return;
    out.put("\tbytes ");
    out.put_dec(count_);
    out.put('\n');
    const std::string_view t = time_text();
    if (t.empty()) return;
    char* line = out.reserve(8 + t.size());
    std::memcpy(line, "\ttime  ", 7);
    std::memcpy(line + 7, t.data(), t.size());
    line[7 + t.size()] = '\n';
    out.commit(8 + t.size());
}

TraceFile::Next TraceFile::next(Record& rec) {
    stage_ = Stage::none;
    time_shown_ = false;
    errno = 0;
    int type;
    if (live_) {
        std::uint8_t b = 0;
        type = live_->read_full(&b, 1) == 1 ? b : EOF;
    } else if (ahead_) {
        type = ensure(1) ? buf_[at_++] : EOF;
    } else {
        type = std::fgetc(in_);
    }
    if (type == EOF) {
        // A read error behind a whole record is a failure; the end of the
        // file there is the end of the trace.
        if (record_ > 0 && (live_ ? live_->error() != 0 : std::ferror(in_) != 0)) {
            report_short_read();
            return Next::failed;
        }
        return Next::end;
    }
    type_ = type;
    ++record_;
    stage_ = Stage::number;
    if (type_ != 'R' && type_ != 'W') return invalid("ERROR: Invalid file format: bad type");
    const int direction = type_ == 'W' ? kDirectionSend : kDirectionReceive;

    std::int32_t name_len;
    if (!read_be32(name_len)) return cut();
    if (name_len < 1 || name_len > kMaxFunctionName) return invalid("ERROR: Invalid file format: bad func length");
    if (!read_exact(function_, static_cast<std::size_t>(name_len))) return cut();
    function_len_ = name_len;
    stage_ = Stage::function;

    if (!read_be32(count_)) return cut();
    if (count_ < 1) return invalid("ERROR: Invalid file format: bad record length");
    stage_ = Stage::bytes;

    std::uint8_t stamp[8];
    if (!read_exact(stamp, sizeof stamp)) return cut();
    rec.has_time = read_time(stamp, rec.time);
    stage_ = Stage::time;

    if (!read_data(static_cast<std::size_t>(count_))) return cut();
    rec.number = record_;
    rec.direction = direction;
    rec.data = ByteView(ahead_ ? data_at_ : data_.data(), static_cast<std::size_t>(count_));
    rec.connection = 0;
    return Next::record;
}

}  // namespace drda
