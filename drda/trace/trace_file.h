// SPDX-License-Identifier: Apache-2.0
// Record source for DRDADBG trace files: reads the file header and the
// records one by one, printing each record's own lines (number, function,
// byte count, time) as it reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/record.h"
#include "common/stream_input.h"
#include "common/text_writer.h"

namespace drda {

// Largest name length a record may carry.
inline constexpr int kMaxFunctionName = 20;

class TraceFile {
public:
    enum class Next { record, end, failed };

    // `in` is read from its current position; reports of short reads and
    // read errors go to `err`, prefixed with `input_name`.
    TraceFile(std::FILE* in, const std::string& input_name, std::FILE* err);
    // A live stream: each read takes what has arrived; a stop request ends
    // the trace where it stands.
    TraceFile(StreamInput& live, const std::string& input_name, std::FILE* err);

    // Checks the magic in `head` (the first bytes of the file, at most 7,
    // read by the caller to tell the format: fewer than 7 when the file
    // ended there), reads the version and prints the version line. Returns
    // false when the run must stop (the reason is already reported).
    bool read_header(TextWriter& out, ByteView head);

    // Reads the next record and prints its lines. On `record`, `rec` holds
    // the record, its data valid until the next call. `failed`: the reason
    // is already reported (an "ERROR:" line on `out` or a report on `err`).
    Next next(TextWriter& out, Record& rec);

private:
    bool read_exact(void* p, std::size_t n);
    // Next::failed, or Next::end when a stop request cut the record.
    Next cut() const { return live_ && live_->stopped() ? Next::end : Next::failed; }
    bool read_be32(std::int32_t& v);
    bool read_data(std::size_t count);
    void report_short_read();
    // Prints the time line unless a bad time was seen before (the first one
    // is reported once on the error stream). Returns whether the time is
    // valid, and then sets `time`.
    bool print_time_line(TextWriter& out, const std::uint8_t bytes[8], double& time);

    std::FILE* in_ = nullptr;
    StreamInput* live_ = nullptr;
    const std::string& name_;
    std::FILE* err_;
    std::vector<std::uint8_t> data_;  // largest record so far
    // Reading ahead (regular files): buf_[at_, end_) is read but not used
    // yet; data_at_ is the current record's data, in buf_.
    bool ensure(std::size_t n);
    bool ahead_ = false;
    std::vector<std::uint8_t> buf_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    const std::uint8_t* data_at_ = nullptr;
    bool warned_ = false;
    // Date text of the last whole second printed: records come many to a
    // second, and the calendar conversion costs more than the rest.
    std::int64_t date_second_ = -1;
    char date_[32] = {};
    std::size_t date_length_ = 0;
    int type_ = EOF;  // type byte of the record being read
    int record_ = 0;
};

}  // namespace drda
