// SPDX-License-Identifier: Apache-2.0
#include "support/trace_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

void put_be32(std::string& s, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

char g_temp_dir[64];

void remove_temp_dir() {
    std::string cmd = std::string("rm -rf '") + g_temp_dir + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

const std::string& temp_dir() {
    static const std::string dir = [] {
        std::strcpy(g_temp_dir, "/tmp/dssview-test-XXXXXX");
        if (!mkdtemp(g_temp_dir)) throw std::runtime_error("mkdtemp failed");
        std::atexit(remove_temp_dir);
        return std::string(g_temp_dir);
    }();
    return dir;
}

}  // namespace

std::string hex(const std::string& text) {
    std::string out;
    int pending = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c == ' ' || c == '/' || c == '|' || c == '\n' || c == '\t') continue;
        else throw std::invalid_argument("bad hex text: " + text);
        if (pending < 0) {
            pending = v;
        } else {
            out.push_back(static_cast<char>(pending * 16 + v));
            pending = -1;
        }
    }
    if (pending >= 0) throw std::invalid_argument("odd hex digits: " + text);
    return out;
}

std::string trace_header(std::int32_t version) {
    std::string s = "DRDADBG";
    put_be32(s, static_cast<std::uint32_t>(version));
    return s;
}

std::string trace_record(const Record& r) {
    std::string s;
    s.push_back(r.type);
    put_be32(s, static_cast<std::uint32_t>(r.name_length.value_or(static_cast<std::int32_t>(r.function.size()))));
    s += r.function;
    put_be32(s, static_cast<std::uint32_t>(r.byte_count.value_or(static_cast<std::int32_t>(r.buffer.size() + 1))));
    if (r.time_bytes) {
        s += *r.time_bytes;
    } else {
        std::uint64_t bits;
        std::memcpy(&bits, &r.time, sizeof bits);
        put_be32(s, static_cast<std::uint32_t>(bits >> 32));
        put_be32(s, static_cast<std::uint32_t>(bits));
    }
    s.push_back(static_cast<char>(r.role));
    s += r.buffer;
    return s;
}

std::string make_trace(const std::vector<Record>& records, std::int32_t version) {
    std::string s = trace_header(version);
    for (const auto& r : records) s += trace_record(r);
    return s;
}

std::string temp_path(const std::string& name) { return temp_dir() + "/" + name; }

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

RunResult run_dssview(const std::vector<std::string>& args, const std::string& argv0, const std::string& locale) {
    static int counter = 0;
    std::string base = temp_path("run" + std::to_string(++counter));
    std::string out_path = base + ".out", err_path = base + ".err";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = open("/dev/null", O_RDONLY);
        dup2(o, 1);
        dup2(e, 2);
        dup2(n, 0);
        setenv("TZ", "UTC", 1);
        setenv("LC_ALL", locale.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(argv0.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(DSSVIEW_BIN, argv.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    RunResult r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return r;
}

std::string data_path(const std::string& name) { return std::string(DSSVIEW_TEST_DATA) + "/" + name; }

}  // namespace testsupport
