#include "trace/trace_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/types.h>
#include <vector>

#include "ddm/dss_layer.h"
#include "ddm/rows/conversation.h"
#include "listing/buffer_listing.h"
#include "trace/byte_view.h"

namespace drda {
namespace {

constexpr char kMagic[7] = {'D', 'R', 'D', 'A', 'D', 'B', 'G'};

// Data buffers grow in steps of at least this much while the bytes of a
// record actually arrive, so a byte count that claims more than the file
// holds never allocates what is not there.
constexpr std::size_t kGrowStep = std::size_t{1} << 20;

class Reader {
public:
    Reader(std::FILE* in, const std::string& input_name, TextWriter& out, std::FILE* err,
           const TraceOptions& options)
        : in_(in), name_(input_name), out_(out), err_(err), options_(options) {
        if (options_.rows) {
            options_.format = true;
            rows_ = std::make_unique<rows::Conversation>();
            decoder_.set_observer(rows_.get());
        }
    }

    int run();

private:
    // Reads exactly n bytes; on a short read reports it and returns false.
    bool read_exact(void* p, std::size_t n);
    bool read_be32(std::int32_t& v);
    bool read_data(std::size_t count);
    void report_short_read();
    void print_time_line(const std::uint8_t bytes[8]);
    void invalid(const char* what) { out_.put(what); }

    std::FILE* in_;
    const std::string& name_;
    TextWriter& out_;
    std::FILE* err_;
    TraceOptions options_;
    std::vector<std::uint8_t> data_;  // largest record so far
    bool warned_ = false;
    DdmDecoder decoder_;
    std::unique_ptr<rows::Conversation> rows_;  // -r only
};

void Reader::report_short_read() {
    if (std::ferror(in_)) {
        int e = errno ? errno : EIO;
        std::fprintf(err_, "%s: %s\n", name_.c_str(), std::strerror(e));
    } else {
        std::fprintf(err_, "%s: unexpected end of file\n", name_.c_str());
    }
}

bool Reader::read_exact(void* p, std::size_t n) {
    errno = 0;
    if (std::fread(p, 1, n, in_) == n) return true;
    report_short_read();
    return false;
}

bool Reader::read_be32(std::int32_t& v) {
    std::uint8_t b[4];
    if (!read_exact(b, 4)) return false;
    v = ByteView(b, 4).sbe32(0);
    return true;
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

bool Reader::read_data(std::size_t count) {
    if (count > data_.size()) {
        // Where the size of what is left can be known, a byte count that
        // claims more is an end of file found without allocating it, and a
        // buffer is allocated once at exactly the record's size (the old one
        // released first), so memory stays at the largest record.
        std::uint64_t left = 0;
        if (bytes_remaining(in_, left)) {
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
        std::size_t got = std::fread(data_.data() + have, 1, want, in_);
        have += got;
        if (got < want) {
            report_short_read();
            return false;
        }
    }
    return true;
}

void Reader::print_time_line(const std::uint8_t bytes[8]) {
    if (warned_) return;
    std::uint64_t bits = ByteView(bytes, 8).be64(0);
    double t;
    std::memcpy(&t, &bits, sizeof t);
    bool ok = std::isfinite(t) && !(t < 0) && t < 9.0e18;
    std::tm tmv{};
    std::int64_t s = 0;
    if (ok) {
        s = static_cast<std::int64_t>(t);
        std::time_t tt = static_cast<std::time_t>(s);
        ok = localtime_r(&tt, &tmv) != nullptr;
    }
    if (!ok) {
        std::fputs("Warning: invalid timestamp.\n", err_);
        std::fputs("\t No timestamp will be generated in the output file.\n", err_);
        warned_ = true;
        return;
    }
    char date[30];
    char frac[10];
    if (std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tmv) == 0) date[0] = '\0';
    std::snprintf(frac, sizeof frac, "%.5f", t - static_cast<double>(s));
    out_.printf("\ttime  %s%s", date, frac + 1);
    out_.put('\n');
}

int Reader::run() {
    char magic[7];
    if (!read_exact(magic, sizeof magic)) return -1;
    if (std::memcmp(magic, kMagic, sizeof magic) != 0) {
        invalid("\nERROR: Invalid file format.\n");
        return -1;
    }
    std::int32_t version;
    if (!read_be32(version)) return -1;
    out_.printf("DRDADBG Version %d\n\n", version);

    int type = std::fgetc(in_);
    int record = 0;
    while (type != EOF) {
        ++record;
        out_.printf("%d\tdata ZEV DRDA Communication Manager\n", record);
        if (type != 'R' && type != 'W') {
            invalid("\nERROR: Invalid file format: bad type\n");
            return -1;
        }
        const int direction = type == 'W' ? kDirectionSend : kDirectionReceive;

        std::int32_t name_len;
        if (!read_be32(name_len)) return -1;
        if (name_len < 1 || name_len > kMaxFunctionName) {
            invalid("\nERROR: Invalid file format: bad func length\n");
            return -1;
        }
        char name[kMaxFunctionName];
        if (!read_exact(name, static_cast<std::size_t>(name_len))) return -1;
        // A zero byte ends the name; other unprintable bytes are masked so
        // a damaged trace cannot drive the terminal.
        out_.put("\tfunction  ");
        for (int i = 0; i < name_len && name[i] != '\0'; ++i) {
            unsigned char c = static_cast<unsigned char>(name[i]);
            out_.put(c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.');
        }
        out_.put("()\n");

        std::int32_t count;
        if (!read_be32(count)) return -1;
        if (count < 1) {
            invalid("\nERROR: Invalid file format: bad record length\n");
            return -1;
        }
        out_.printf("\tbytes %d\n", count);

        std::uint8_t stamp[8];
        if (!read_exact(stamp, sizeof stamp)) return -1;
        print_time_line(stamp);

        if (!read_data(static_cast<std::size_t>(count))) return -1;
        ByteView data(data_.data(), static_cast<std::size_t>(count));
        print_buffer(out_, direction, data);
        if (options_.format) decoder_.decode_buffer(out_, direction, data);

        errno = 0;
        type = std::fgetc(in_);
        if (type == EOF && std::ferror(in_)) {
            report_short_read();
            return -1;
        }
    }
    return 0;
}

}  // namespace

int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out,
                      std::FILE* err, const TraceOptions& options) {
    Reader reader(in, input_name, out, err, options);
    return reader.run();
}

int read_trace(const RunSettings& settings, std::FILE* err) {
    std::FILE* in = std::fopen(settings.input_name.c_str(), "rb");
    if (!in) {
        std::fprintf(err, "%s: %s\n", settings.input_name.c_str(), std::strerror(errno));
        return -1;
    }
    static char inbuf[1 << 16];
    std::setvbuf(in, inbuf, _IOFBF, sizeof inbuf);

    FileSink sink(settings.out, settings.out_name);
    TraceOptions options;
    options.format = settings.format || settings.rows;
    options.rows = settings.rows;
    int result;
    try {
        TextWriter out(sink);
        result = read_trace_stream(in, settings.input_name, out, err, options);
        out.flush();
    } catch (const OutputError& e) {
        std::fprintf(err, "%s\n", e.what());
        result = -1;
    }
    std::fclose(in);
    return result;
}

}  // namespace drda
