// SPDX-License-Identifier: Apache-2.0
// What a run on standard input ("-" as the input name) needs besides the
// reading itself (common/stream_input.h): ending on SIGINT or SIGTERM,
// output handed on unit by unit where someone is watching it, and the
// exchange views flushed as each exchange line is written.
#pragma once

#include <cstdio>

#include "common/text_writer.h"
#include "summary/exchange.h"

namespace drda {

// The input name that means standard input.
inline bool is_stdin_name(const std::string& name) { return name == "-"; }

// SIGINT and SIGTERM set g_stop_signal (without SA_RESTART, so a read that
// waits for the writer returns at once); a second one ends the process at
// once, as the signal's default action would. SIGPIPE is ignored: a reader
// of the output that went away shows as EPIPE on the next write.
void install_stop_handlers();

// Where standard input is a pipe, asks for a larger pipe buffer (1 MiB,
// Linux) so that a fast writer pauses less and fewer reads are needed;
// nothing happens where that cannot be done.
void widen_input_pipe(int fd);

// Whether the output goes to someone watching (a pipe, a terminal, a
// device) rather than to a regular file: then each record block, exchange
// line and JSON line is handed on as soon as it is complete.
bool prompt_output(std::FILE* out);

// Passes each exchange to `inner`, then flushes `out`, so the line it wrote
// is out before the next packet is waited for.
class FlushingExchangeSink final : public summary::ExchangeSink {
public:
    FlushingExchangeSink(summary::ExchangeSink& inner, TextWriter& out) : inner_(inner), out_(out) {}
    void exchange(const summary::Exchange& e) override {
        inner_.exchange(e);
        out_.flush();
    }
    void connection(const summary::ConnectionInfo& c) override { inner_.connection(c); }
    void input(const summary::InputInfo& info) override { inner_.input(info); }
    void finish(const summary::Totals& totals) override { inner_.finish(totals); }

private:
    summary::ExchangeSink& inner_;
    TextWriter& out_;
};

}  // namespace drda
