// SPDX-License-Identifier: Apache-2.0
// Record source for packet captures (pcap, pcapng): shows each DRDA
// connection of the capture as the requester's trace of it. Prints the file
// header line, the CONNECTION lines and each record's header block itself,
// and hands out the records (role byte 1, then the run's bytes; the
// client's runs are sent buffers, the server's received ones).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "capture/capture_file.h"
#include "capture/connection_tracker.h"
#include "common/record.h"
#include "common/text_writer.h"

namespace drda {

// True when the first four bytes of a file are a pcap or pcapng magic.
bool is_capture_magic(ByteView head);

class CaptureSource {
public:
    enum class Next {
        record,  // `rec` holds a record
        gap,     // bytes of rec.connection in rec.direction are missing
        closed,  // rec.connection is over: forget its state
        end,     // the capture was read to its end
        failed,  // the reason is already reported
    };

    // Reads `in` from its current position; `head` holds the bytes of the
    // file already read before it.
    CaptureSource(std::FILE* in, ByteView head, const std::string& input_name, std::FILE* err,
                  const capture::Limits& limits = capture::Limits());
    // A live stream (standard input fed by a capture tool): the runs of all
    // connections end as records whenever the writer pauses.
    CaptureSource(StreamInput& live, ByteView head, const std::string& input_name, std::FILE* err,
                  const capture::Limits& limits = capture::Limits());
    // A capture in memory.
    CaptureSource(ByteView whole, const std::string& input_name, std::FILE* err,
                  const capture::Limits& limits = capture::Limits());

    // Reads the file header and prints the file header line.
    bool read_header(TextWriter& out);
    Next next(TextWriter& out, Record& rec);

    // The text written since the last record's header, apart from lines
    // inserted among its decode (rows), ends with an empty line: the next
    // line set apart by empty lines needs no other one before it.
    void text_ends_blank() { ends_blank_ = true; }

    // Whether record header lines are written (not when only a summary
    // is shown: they would be thrown away).
    void set_record_headers(bool on) { record_headers_ = on; }

    // The event of the last `closed`: how the connection ended.
    struct Closing {
        capture::Event::Kind kind = capture::Event::still_open;
        capture::Side side = capture::kClient;
        bool rst = false;
    };
    const Closing& closing() const { return closing_; }

    // What the capture held and lacked, for a summary.
    struct Stats {
        std::string kind;                // "pcap capture, link type 1", "pcapng capture"
        std::uint64_t packets = 0;
        std::uint64_t cut_packets = 0;   // packets cut short when captured
        std::uint32_t cut_to = 0;        // the longest such cut packet
        std::uint64_t missing_bytes = 0; // bytes reported missing in gaps
        std::uint64_t gaps = 0;
    };
    const Stats& stats() const { return stats_; }

private:
    bool read_packets();
    void print_line(TextWriter& out, const capture::Event& e);
    void print_record_header(TextWriter& out, const capture::Event& e);
    void set_apart(TextWriter& out);

    capture::CaptureInput input_;
    capture::CaptureFile file_;
    capture::ConnectionTracker tracker_;
    const std::string& name_;
    std::FILE* err_;
    capture::Event current_;  // the record handed out last
    Closing closing_;
    Stats stats_;
    bool record_headers_ = true;
    bool ends_blank_ = false;
    int record_ = 0;
    std::uint64_t fragments_ = 0;
    std::size_t limits_max_undecided_ = 0;
    std::uint64_t undecided_reported_ = 0;
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace drda
