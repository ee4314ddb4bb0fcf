// SPDX-License-Identifier: Apache-2.0
// Record source for packet captures (pcap, pcapng): shows each DRDA
// connection of the capture as the requester's trace of it. Hands out the
// records (role byte 1, then the run's bytes; the client's runs are sent
// buffers, the server's received ones) and what happens to the connections,
// and prints, when asked, the file header line, each record's header block,
// the CONNECTION lines and the note on skipped fragments.
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
        note,    // rec.connection was opened or closed by one side: a line only
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

    // Reads the file header; false (reported on `err`) when it cannot.
    bool read_header();
    // The file header line.
    void print_header(TextWriter& out) const;
    Next next(Record& rec);

    // The lines of what next() handed out last: a record's header block, or
    // the CONNECTION line of a note, gap or closed.
    void print_event(TextWriter& out);
    // The time of the record handed out last as its header shows it; empty
    // when it has none.
    std::string_view time_text() const;
    // At the end (end or failed): the notes on IP fragments skipped and on
    // connections left out, if any.
    void print_notes(TextWriter& out);
    // The text written since the last record's header, apart from lines
    // inserted among its decode (rows), ends with an empty line: the next
    // line set apart by empty lines needs no other one before it.
    void text_ends_blank() { ends_blank_ = true; }

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
    void print_record_header(TextWriter& out, const capture::Event& e) const;
    void set_apart(TextWriter& out);

    capture::CaptureInput input_;
    capture::CaptureFile file_;
    capture::ConnectionTracker tracker_;
    const std::string& name_;
    std::FILE* err_;
    capture::Event current_;  // the event handed out last
    mutable char time_text_[48] = {};
    mutable std::size_t time_len_ = 0;  // 0: not made yet
    Closing closing_;
    Stats stats_;
    bool ends_blank_ = false;
    int record_ = 0;
    std::uint64_t fragments_ = 0;
    std::size_t limits_max_undecided_ = 0;
    std::uint64_t undecided_reported_ = 0;
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace drda
