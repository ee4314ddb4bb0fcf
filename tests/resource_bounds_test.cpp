// SPDX-License-Identifier: Apache-2.0
// Resource bounds on hostile traces: memory stays at the largest record plus
// a constant whatever the byte counts claim, output (and with it the work)
// grows linearly on degenerate lengths and nesting, and a failing output
// stream ends the run with a report and a non-zero status.
//
// Peak memory is the child's maximum resident set from wait4; linearity is
// measured by the amount of text written, never by time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>

#include "../fuzz/checks.h"
#include "ddm/dss_layer.h"
#include "listing/buffer_listing.h"
#include "support/trace_builder.h"
#include "common/text_writer.h"
#include "app/driver.h"
#include "common/record.h"

using namespace testsupport;

namespace {

struct ChildRun {
    int status = -1;
    long peak_kib = 0;  // maximum resident set of the child
    std::string err;
};

// Runs dssview with `args`; standard output goes to `out_path`; when
// `stdin_bytes` is set, it is fed through a pipe (a stream that cannot seek).
ChildRun run_child(const std::vector<std::string>& args, const std::string& out_path = "/dev/null",
                   const std::string* stdin_bytes = nullptr) {
    const std::string err_path = temp_path("child.err");
    int pipefd[2] = {-1, -1};
    if (stdin_bytes && pipe(pipefd) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (stdin_bytes) {
            dup2(pipefd[0], 0);
            close(pipefd[1]);
        }
        dup2(o, 1);
        dup2(e, 2);
        setenv("TZ", "UTC", 1);
        setenv("LC_ALL", "C", 1);
        std::vector<char*> argv{const_cast<char*>(DSSVIEW_BIN)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(DSSVIEW_BIN, argv.data());
        _exit(127);
    }
    if (stdin_bytes) {
        close(pipefd[0]);
        std::size_t done = 0;
        while (done < stdin_bytes->size()) {
            ssize_t n = write(pipefd[1], stdin_bytes->data() + done, stdin_bytes->size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(pipefd[1]);
    }
    int st = 0;
    struct rusage ru {};
    wait4(pid, &st, 0, &ru);
    ChildRun r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.peak_kib = ru.ru_maxrss;
    r.err = read_file(err_path);
    return r;
}

std::string be16(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }
std::string obj(unsigned cp, const std::string& value, int ll = -1) {
    return be16(ll < 0 ? static_cast<unsigned>(value.size() + 4) : static_cast<unsigned>(ll)) + be16(cp) + value;
}
std::string dss(const std::string& payload, int ll = -1, unsigned format = 0x01) {
    return be16(ll < 0 ? static_cast<unsigned>(payload.size() + 6) : static_cast<unsigned>(ll)) + "\xD0" +
           std::string(1, static_cast<char>(format)) + be16(1) + payload;
}

// Resident memory of a run on a tiny trace: libraries, the output block.
long baseline_kib() {
    static long base = [] {
        const std::string p = temp_path("tiny.drdadbg");
        Record r;
        r.buffer = dss(obj(0x1041, obj(0x115E, "abc")));
        write_file(p, make_trace({r}));
        return run_child({"-f", p}).peak_kib;
    }();
    return base;
}

constexpr long kMiB = 1024;  // in KiB
constexpr long kSlackKiB = 8 * kMiB;  // sanitizer shadow, stdio, heap slack

bool one_report_line(const std::string& err, const std::string& name) {
    return err.rfind(name + ": ", 0) == 0 && err.find('\n') == err.size() - 1;
}

TEST(ResourceBounds, HugeByteCountInASmallFileIsAnEndOfFile) {
    // 2 GiB - 1 claimed, 64 bytes present: the end of the file is reported
    // without the claimed memory being taken, from a file and from a pipe.
    Record r;
    r.buffer = dss(obj(0x1041, obj(0x115E, "abc")));
    r.byte_count = 0x7FFFFFFF;
    const std::string bytes = make_trace({r});
    const std::string p = temp_path("huge-count.drdadbg");
    write_file(p, bytes);
    const ChildRun file = run_child({"-f", p});
    EXPECT_EQ(file.status, 255);
    EXPECT_TRUE(one_report_line(file.err, p)) << file.err;
    EXPECT_LE(file.peak_kib, baseline_kib() + kSlackKiB);

    const ChildRun piped = run_child({"-f", "/dev/stdin"}, "/dev/null", &bytes);
    EXPECT_EQ(piped.status, 255);
    EXPECT_TRUE(one_report_line(piped.err, "/dev/stdin")) << piped.err;
    EXPECT_LE(piped.peak_kib, baseline_kib() + kSlackKiB);

    // 2 GiB exactly is negative as a signed count: a bad record length.
    r.byte_count = static_cast<std::int32_t>(0x80000000u);
    write_file(p, make_trace({r}));
    const std::string out = temp_path("huge-count.out");
    const ChildRun neg = run_child({p}, out);
    EXPECT_EQ(neg.status, 255);
    EXPECT_EQ(neg.err, "");
    const std::string text = read_file(out);
    EXPECT_NE(text.find("\nERROR: Invalid file format: bad record length\n"), std::string::npos);
}

TEST(ResourceBounds, MemoryStaysAtTheLargestRecordPlusAConstant) {
    // A record of 24 MiB, then a small one, then one of 24 MiB again: one
    // data buffer of the record's size serves them all. The file is written
    // in slices: a forked child starts out with the resident pages of this
    // process, so the test keeps its own memory small.
    constexpr std::size_t kBig = 24u << 20;
    Record big;
    big.byte_count = static_cast<std::int32_t>(kBig);  // role byte and buffer
    Record small;
    small.buffer = dss(obj(0x1041, obj(0x115E, "abc")));
    const std::string p = temp_path("big-record.drdadbg");
    {
        std::ofstream f(p, std::ios::binary | std::ios::trunc);
        const std::string slice(1u << 20, '\x5A');
        auto put_big = [&] {
            f << trace_record(big);  // ends with the role byte
            for (std::size_t left = kBig - 1; left > 0;) {
                const std::size_t n = std::min(left, slice.size());
                f.write(slice.data(), static_cast<std::streamsize>(n));
                left -= n;
            }
        };
        f << trace_header();
        put_big();
        f << trace_record(small);
        put_big();
        ASSERT_TRUE(f.good());
    }
    const ChildRun r = run_child({p});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LE(r.peak_kib, baseline_kib() + static_cast<long>(kBig >> 10) + kSlackKiB)
        << "baseline " << baseline_kib() << " KiB";
}

// Bytes of text that `f` writes.
std::size_t text_size(const std::function<void(drda::TextWriter&)>& f) {
    drda::NullSink sink;
    {
        drda::TextWriter w(sink);
        f(w);
        w.flush();
    }
    return sink.bytes;
}

std::size_t decoded_size(const std::string& buffer) {
    const std::string record = "\x01" + buffer;
    return text_size([&](drda::TextWriter& w) {
        drda::DdmDecoder d;
        d.decode_buffer(w, drda::kDirectionSend, drda::ByteView(record));
    });
}

std::size_t listed_size(const std::string& buffer) {
    const std::string record = "\x01" + buffer;
    return text_size([&](drda::TextWriter& w) { drda::print_buffer(w, drda::kDirectionSend, drda::ByteView(record)); });
}

// The text for an input of 4n units is at most about four times the text
// for n units, and never more than a fixed amount per input byte.
void expect_linear(const char* what, const std::function<std::string(std::size_t)>& make) {
    for (auto measure : {&decoded_size, &listed_size}) {
        const std::string small = make(500);
        const std::string large = make(2000);
        const std::size_t a = measure(small);
        const std::size_t b = measure(large);
        EXPECT_LE(b, 4 * a + a / 2 + 4096) << what << ": " << a << " -> " << b;
        EXPECT_LE(b, 1024 * large.size() + 4096) << what;
    }
}

TEST(ResourceBounds, WorkIsLinearOnDegenerateLengths) {
    const std::string ok = dss(obj(0x1041, obj(0x115E, "abc")));
    expect_linear("DSS LL 0", [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += dss(obj(0x1041, ""), 0);
        return s;
    });
    expect_linear("DSS LL 0x8000 and continuation words", [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += dss(obj(0x1041, ""), 0x8000) + be16(0x8002);
        return s;
    });
    expect_linear("DSS LL below the header", [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += dss(obj(0x1041, ""), 3);
        return s;
    });
    expect_linear("collection of 4-byte objects", [&](std::size_t n) {
        std::string members;
        for (std::size_t i = 0; i < n; ++i) members += obj(0x1041, "");
        return dss(obj(0x2001, members, 0x8004));
    });
    expect_linear("objects of LL 0 and 2", [&](std::size_t n) {
        std::string members;
        for (std::size_t i = 0; i < n; ++i) members += obj(0x2110, "", static_cast<int>(i % 2) * 2);
        return dss(obj(0x2001, members, 0x8004));
    });
    expect_linear("nested collections of 4-byte objects", [&](std::size_t n) {
        std::string inner = obj(0x2110, "ab");
        for (std::size_t i = 0; i < n; ++i) inner = obj(0x2001, obj(0x1041, "") + inner);
        return dss(inner, 0x7FFF);
    });
    expect_linear("nested streamed collections", [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += obj(0x2001, "", 0x8004);
        return dss(s, 0x7FFF);
    });
    expect_linear("extended lengths claiming 2 GiB", [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += obj(0x2001, "", 0x8008) + "\x7F\xFF\xFF\xFF";
        return dss(s, 0x7FFF);
    });
    // Long values (8 to 32 KB, past the length where a printer switches to
    // its long form) of every special printer and of a character string.
    for (std::uint16_t cp : fuzzcheck::kSpecialCodePoints) {
        for (char fill : {'\x00', '\x7F', '\xF1'}) {
            expect_linear(("value of code point " + std::to_string(cp)).c_str(), [&](std::size_t n) {
                std::string v;
                for (std::size_t i = 0; i < 16 * n; ++i) v += static_cast<char>(i % 7 == 0 ? fill : i);
                return dss(obj(cp, v.substr(0, 0x7F00)));
            });
        }
    }
    expect_linear("long character string", [&](std::size_t n) { return dss(obj(0x2110, std::string(8 * n, 'x'))); });
    expect_linear("cut-off DSS headers", [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += ok;
        return s + ok.substr(0, 3);
    });
}

TEST(ResourceBounds, MaximalNestingIsBounded) {
    // A DSS of 32 KiB holding nothing but nested collection headers: 8190
    // levels. Nesting is cut at kMaxNesting, so the text stays within a
    // small multiple of the input.
    std::string s;
    for (int i = 0; i < 8190; ++i) s += obj(0x2001, "", 0x7FFF - 6 - 4 * i);
    const std::string buffer = dss(s, 0x7FFF);
    const std::size_t n = decoded_size(buffer);
    EXPECT_LE(n, 200 * buffer.size()) << n;
    // The deepest line is indented by at most the nesting cap.
    const std::string record = "\x01" + buffer;
    std::string text;
    {
        drda::StringSink sink(text);
        drda::TextWriter w(sink);
        drda::DdmDecoder d;
        d.decode_buffer(w, drda::kDirectionSend, drda::ByteView(record));
        w.flush();
    }
    std::size_t widest = 0;
    for (std::size_t p = 0; p < text.size();) {
        std::size_t nl = text.find('\n', p);
        std::size_t lead = text.find_first_not_of(' ', p);
        if (lead != std::string::npos && lead < nl) widest = std::max(widest, lead - p);
        p = nl + 1;
    }
    EXPECT_LE(widest, static_cast<std::size_t>(4 + 2 * (drda::DdmDecoder::kMaxNesting + 2)));
}

TEST(ResourceBounds, ManyTinyRecordsAreLinear) {
    auto size_for = [](std::size_t n) {
        Record r;
        r.buffer = "";
        std::vector<Record> recs(n, r);
        const std::string t = make_trace(recs);
        std::FILE* in = fmemopen(const_cast<char*>(t.data()), t.size(), "rb");
        std::size_t bytes = text_size([&](drda::TextWriter& w) {
            drda::Plan o;
            o.decode = drda::Plan::Decode::format;
            EXPECT_EQ(drda::read_trace_stream(in, "t", w, stderr, o), 0);
        });
        std::fclose(in);
        return bytes;
    };
    // Four times the records, four times the text (the record numbers
    // gain a digit on the way).
    const std::size_t a = size_for(1000), b = size_for(4000);
    EXPECT_LE(b, 4 * a + a / 20);
    EXPECT_GE(b, 4 * a);
}

TEST(ResourceBounds, FullDiskEndsTheRunWithAReport) {
    Record r;
    r.buffer = dss(obj(0x1041, obj(0x115E, "abc")));
    Record big;
    big.buffer = std::string(512 * 1024, '\x40');  // more than one output block of text
    const std::string small_trace = temp_path("small.drdadbg");
    const std::string large_trace = temp_path("large.drdadbg");
    write_file(small_trace, make_trace({r}));
    write_file(large_trace, make_trace({r, big, r}));
    for (const std::string& t : {small_trace, large_trace}) {
        const ChildRun to_file = run_child({"-f", "-o", "/dev/full", t});
        EXPECT_NE(to_file.status, 0) << t;
        EXPECT_EQ(to_file.status, 255) << t;
        EXPECT_NE(to_file.err.find("/dev/full: No space left on device\n"), std::string::npos) << to_file.err;

        const ChildRun to_stdout = run_child({"-f", t}, "/dev/full");
        EXPECT_EQ(to_stdout.status, 255) << t;
        EXPECT_NE(to_stdout.err.find("No space left on device\n"), std::string::npos) << to_stdout.err;
    }
}

TEST(ResourceBounds, AReadErrorEndsTheRunWithAReport) {
    // A directory opens for reading but fails on the first read.
    const std::string dir = temp_path("a-directory");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const ChildRun r = run_child({"-f", dir});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, dir + ": " + std::strerror(EISDIR) + "\n");
}

}  // namespace
