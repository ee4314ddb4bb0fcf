// SPDX-License-Identifier: Apache-2.0
// Reading an input that arrives while it is read (standard input fed by a
// pipe or a terminal): read(2) on the descriptor takes what has arrived and
// never waits for more than one byte, so a packet or record that is whole
// is taken in at once. Before a read would wait, the owner can be told
// (idle()) so that it can show everything it holds. A stop request (a
// signal's flag) ends the input as if it had ended there.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>

namespace drda {

// Set by the signal handlers of a streamed run (app/live_run.cpp); a stream
// read sees it before each read and when a waiting read is interrupted.
extern volatile std::sig_atomic_t g_stop_signal;

class StreamInput {
public:
    explicit StreamInput(int fd) : fd_(fd) {}

    // Up to n bytes into p, at least one unless the input ended, a read
    // failed (error()) or a stop was requested (stopped()); then 0.
    std::size_t read_some(std::uint8_t* p, std::size_t n);
    // Exactly n bytes unless the input ends first: returns how many.
    std::size_t read_full(std::uint8_t* p, std::size_t n);

    // Whether a read now would return at once (bytes, end of input, an
    // error) rather than wait for the writer.
    bool ready() const;

    // `fn(ctx)` is called before a read that would wait for the writer
    // (the owner hands on the output it holds then).
    void on_wait(void (*fn)(void*), void* ctx) {
        on_wait_ = fn;
        on_wait_ctx_ = ctx;
    }

    bool ended() const { return ended_; }
    bool stopped() const { return stopped_; }
    int error() const { return error_; }

private:
    int fd_;
    void (*on_wait_)(void*) = nullptr;
    void* on_wait_ctx_ = nullptr;
    bool ended_ = false;
    bool stopped_ = false;
    int error_ = 0;
};

}  // namespace drda
