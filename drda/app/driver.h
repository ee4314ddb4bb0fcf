// SPDX-License-Identifier: Apache-2.0
// The loop of one run: takes the records of the input one by one and hands
// each to the raw listing, the -f decoder and the -r row decoder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/selection.h"
#include "capture/connection_tracker.h"
#include "common/byte_view.h"
#include "common/stream_input.h"
#include "common/text_writer.h"

namespace drda {

namespace summary {
class ExchangeSink;
}  // namespace summary

namespace html {
class HtmlReport;
class EvidenceCollector;
}  // namespace html

struct TraceOptions {
    bool format = false;  // decode each buffer after its listing
    bool rows = false;    // show row values (implies format)
    bool summary = false; // the -s summary (after the listing when format is set)
    bool json = false;    // the exchanges as JSON Lines, nothing else
    bool exchange_lines = false;  // -x: -s begins with one line per exchange
    bool prompt = false;  // hand on each record block and exchange line when complete
    // What to print (null or empty: everything), and for a second pass
    // the records of the exchanges the first pass selected.
    Selection* selection = nullptr;
    const SelectedRecords* held = nullptr;
    SelectedRecords* collect = nullptr;  // a first pass: only feed the tracker into it
    // --html: the page's view, fed with the exchanges beside -s or -j;
    // alone (no -s, -j, -f, -r) nothing but the page is written.
    html::HtmlReport* html = nullptr;
    // A pass that takes the -r text of the page's evidence records.
    html::EvidenceCollector* evidence = nullptr;
    // Another view of the exchanges (--compare's per-input collector): fed
    // instead of -s, -j and the page, with no listing.
    summary::ExchangeSink* sink = nullptr;
    // --port: DRDA server ports of captures beyond the well-known ones.
    std::vector<std::uint16_t> ports;
};

// Reads the open input `in` to its end: a DRDADBG trace or a packet capture
// (pcap, pcapng), told apart by the first bytes, and writes the listing to `out`.
// System-level reports (short file, read errors) go to `err`, prefixed with
// `input_name`. Returns 0 when every record was read, -1 on the first
// failure. Output errors propagate as OutputError.
int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out,
                      std::FILE* err, const TraceOptions& options);

// The same for a live stream (standard input): each record is taken in as
// soon as it has arrived, and a stop request ends the input cleanly.
int read_live_stream(StreamInput& in, const std::string& input_name, TextWriter& out, std::FILE* err,
                     const TraceOptions& options);

// A packet capture held in memory (tests, fuzzing), with the given caps.
int read_capture_memory(ByteView capture, const std::string& input_name, TextWriter& out, std::FILE* err,
                        const TraceOptions& options, const capture::Limits& limits = capture::Limits());

// Opens the input named in `settings`, reads it to `settings.out` and
// returns 0 or -1. Every failure, output errors included, is reported on
// `err` before it returns.
int read_trace(const RunSettings& settings, std::FILE* err);

}  // namespace drda
