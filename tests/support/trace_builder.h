// SPDX-License-Identifier: Apache-2.0
// Test helpers: build DRDADBG files from a readable description, and run the
// built dssview binary end to end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Bytes from hex text; blanks, '/' and '|' are ignored ("0012 D041 0001").
std::string hex(const std::string& text);

// One trace record. The optional fields override what a sound record holds,
// to build damaged ones.
struct Record {
    char type = 'W';
    std::string function = "arSendBuf";
    double time = 1796748491.25;  // seconds since the epoch
    std::uint8_t role = 1;        // 1: AR, anything else: AS
    std::string buffer;           // the traced bytes behind the role byte
    std::optional<std::int32_t> name_length;
    std::optional<std::int32_t> byte_count;
    std::optional<std::string> time_bytes;  // the 8 raw timestamp bytes
};

// The 11 header bytes (magic and big-endian version).
std::string trace_header(std::int32_t version = 1);
// One record's bytes.
std::string trace_record(const Record& r);
// A whole file: header and records.
std::string make_trace(const std::vector<Record>& records, std::int32_t version = 1);

// A file in a fresh temporary directory, removed when the test binary ends.
std::string temp_path(const std::string& name);
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs the built dssview with `args` (argv[0] is `argv0`), TZ=UTC and
// LC_ALL=`locale`.
RunResult run_dssview(const std::vector<std::string>& args,
                      const std::string& argv0 = DSSVIEW_BIN, const std::string& locale = "C");

// The path of a file in tests/data.
std::string data_path(const std::string& name);

}  // namespace testsupport
