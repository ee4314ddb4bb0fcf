// Reader of DRDADBG trace files: header, record loop and record lines.
#pragma once

#include <cstdio>
#include <string>

#include "trace/cli.h"
#include "trace/text_writer.h"

namespace drda {

inline constexpr int kDirectionSend = 1177;     // record type 'W'
inline constexpr int kDirectionReceive = 1178;  // record type 'R'

// Largest name length a record may carry.
inline constexpr int kMaxFunctionName = 20;

struct TraceOptions {
    bool format = false;  // decode each buffer after its listing
    bool rows = false;    // show row values (implies format)
};

// Reads the open trace `in` to its end and writes the listing to `out`.
// System-level reports (short file, read errors) go to `err`, prefixed with
// `input_name`. Returns 0 when every record was read, -1 on the first
// failure. Output errors propagate as OutputError.
int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out,
                      std::FILE* err, const TraceOptions& options);

// Opens the input named in `settings`, reads it to `settings.out` and
// returns 0 or -1. Every failure, output errors included, is reported on
// `err` before it returns.
int read_trace(const RunSettings& settings, std::FILE* err);

}  // namespace drda
