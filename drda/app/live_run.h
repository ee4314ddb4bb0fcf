// SPDX-License-Identifier: Apache-2.0
// What a run on standard input ("-" as the input name) needs besides the
// reading itself (common/stream_input.h): ending on SIGINT or SIGTERM,
// output handed on unit by unit where someone is watching it, and the
// exchange views flushed as each exchange line is written.
#pragma once

#include <chrono>
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

// Output watched live is handed on before the input is waited for (the
// stream's on_wait hook calls flush_writer), and besides at least every
// 50 ms while input keeps coming without a pause (unit_done after each
// record block or exchange line), so no line waits longer than that for a
// block of the writer to fill, and a fast stream is not written a line at
// a time.
void flush_writer(void* writer);
class PromptClock {
public:
    explicit PromptClock(TextWriter& out) : out_(out), last_(std::chrono::steady_clock::now()) {}
    void unit_done() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(50)) return;
        last_ = now;
        out_.flush();
    }

private:
    TextWriter& out_;
    std::chrono::steady_clock::time_point last_;
};

// Passes each exchange to `inner`, then lets the clock hand on the output.
class FlushingExchangeSink final : public summary::ExchangeSink {
public:
    FlushingExchangeSink(summary::ExchangeSink& inner, TextWriter& out) : inner_(inner), clock_(out) {}
    void exchange(const summary::Exchange& e) override {
        inner_.exchange(e);
        clock_.unit_done();
    }
    void connection(const summary::ConnectionInfo& c) override { inner_.connection(c); }
    void input(const summary::InputInfo& info) override { inner_.input(info); }
    void finish(const summary::Totals& totals) override { inner_.finish(totals); }

private:
    summary::ExchangeSink& inner_;
    PromptClock clock_;
};

}  // namespace drda
