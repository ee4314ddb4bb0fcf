// SPDX-License-Identifier: Apache-2.0
// The run of a plan (app/cli.h): the input read by one loop that takes the
// events of its record source (records, gaps, connections closed, the end)
// and hands each to the listing, the decoders and the exchange views the
// plan asks for; then, with --html, the page.
#pragma once

#include <cstdio>
#include <string>

#include "app/cli.h"
#include "capture/connection_tracker.h"
#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

namespace summary {
class ExchangeSink;
}  // namespace summary

// Reads the open input `in` to its end: a DRDADBG trace or a packet capture
// (pcap, pcapng), told apart by the first bytes, and writes what `plan`
// asks for to `out` (not the page: run() writes it). System-level reports
// (short file, read errors) go to `err`, prefixed with `input_name`.
// Returns 0 when every record was read, -1 on the first failure. Output
// errors propagate as OutputError. `also`, when given, is fed with the
// exchanges besides the plan's views (--compare's collector of each input).
int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out, std::FILE* err,
                      const Plan& plan, summary::ExchangeSink* also = nullptr);

// A packet capture held in memory (tests, fuzzing), with the given caps.
int read_capture_memory(ByteView capture, const std::string& input_name, TextWriter& out, std::FILE* err,
                        const Plan& plan, const capture::Limits& limits = capture::Limits(),
                        summary::ExchangeSink* also = nullptr);

// The whole run: opens the output files of `plan` (-o, --html), reads its
// input (with --compare, its two inputs: run_compare) and writes the page.
// Returns the exit status: 0, 1 when an output file cannot be opened, 3
// when a change --fail-on names is found, 255 when an input cannot be read
// to its end or the output cannot be written; every failure is reported on
// `err`.
int run(const Plan& plan, std::FILE* err);

}  // namespace drda
