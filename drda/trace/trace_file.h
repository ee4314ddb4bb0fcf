// SPDX-License-Identifier: Apache-2.0
// Record source for DRDADBG trace files: reads the file header and the
// records one by one; prints the header line, a record's own lines (number,
// function, byte count, time) and the ERROR line of a damaged file when
// asked to.
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
    // ended there) and reads the version. Returns false when the run must
    // stop (reported on `err`, or an error_line()).
    bool read_header(ByteView head);
    // The version line.
    void print_header(TextWriter& out) const;

    // Reads the next record. On `record`, `rec` holds the record, its data
    // valid until the next call. `failed`: the reason is reported on `err`
    // or is the error_line(); `end` or `failed` may leave a record the input
    // ended inside, read as far as it goes.
    Next next(Record& rec);

    // The lines of the record read last (number, function, bytes, time), as
    // far as they were read.
    void print_record(TextWriter& out);
    // The time of the record read last as its time line shows it; empty
    // when the line is not shown (no valid time, or one seen before).
    std::string_view time_text();
    // The number of a record the input ended inside (after `end` or
    // `failed`), read as far as it goes; 0: none.
    int cut_record() const { return stage_ == Stage::none ? 0 : record_; }

    // What made the file unreadable, as the ERROR line says it; empty when
    // nothing in the file itself did.
    std::string_view error_line() const { return error_; }
    // That line, set apart, when there is one.
    void print_error(TextWriter& out) const;

private:
    bool read_exact(void* p, std::size_t n);
    // Next::failed, or Next::end when a stop request cut the record.
    Next cut() const { return live_ && live_->stopped() ? Next::end : Next::failed; }
    bool read_be32(std::int32_t& v);
    bool read_data(std::size_t count);
    void report_short_read();
    // Whether the time is valid (then sets `time`) and whether its line is
    // shown: not after a bad time (the first one is reported once on the
    // error stream).
    bool read_time(const std::uint8_t bytes[8], double& time);
    Next invalid(const char* line) {
        error_ = line;
        return Next::failed;
    }

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
    int version_ = 0;
    // The record read last, as far as it was read.
    enum class Stage { none, number, function, bytes, time } stage_ = Stage::none;
    char function_[kMaxFunctionName] = {};
    int function_len_ = 0;
    std::int32_t count_ = 0;
    double time_ = 0;
    bool time_shown_ = false;
    char time_text_[48] = {};
    std::size_t time_len_ = 0;  // 0: time_text_ not made yet
    const char* error_ = "";
};

}  // namespace drda
