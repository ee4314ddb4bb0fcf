// SPDX-License-Identifier: Apache-2.0
#include "common/stream_input.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace drda {

volatile std::sig_atomic_t g_stop_signal = 0;

std::size_t StreamInput::read_some(std::uint8_t* p, std::size_t n) {
    if (n == 0 || ended_) return 0;
    for (;;) {
        if (g_stop_signal) {
            stopped_ = ended_ = true;
            return 0;
        }
        if (on_wait_ && !ready()) on_wait_(on_wait_ctx_);
        const ssize_t got = ::read(fd_, p, n);
        if (got > 0) return static_cast<std::size_t>(got);
        if (got == 0) {
            ended_ = true;
            return 0;
        }
        // Interrupted: a stop request ends the input, any other signal
        // (the handlers run without SA_RESTART) reads again.
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor left non-blocking by whoever set it up: wait
            // for bytes instead of spinning.
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) {
                error_ = errno;
                ended_ = true;
                return 0;
            }
            continue;
        }
        error_ = errno;
        ended_ = true;
        return 0;
    }
}

std::size_t StreamInput::read_full(std::uint8_t* p, std::size_t n) {
    std::size_t have = 0;
    while (have < n) {
        const std::size_t got = read_some(p + have, n - have);
        if (got == 0) break;
        have += got;
    }
    return have;
}

bool StreamInput::ready() const {
    if (ended_ || g_stop_signal) return true;
    pollfd pfd{fd_, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&pfd, 1, 0);
        if (r >= 0) return r > 0;
        if (errno != EINTR) return true;  // the read will tell what is wrong
    }
}

}  // namespace drda
