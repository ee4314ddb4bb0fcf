// SPDX-License-Identifier: Apache-2.0
#include "app/live_run.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

#include "common/stream_input.h"

namespace drda {
namespace {

void on_stop_signal(int sig) {
    if (g_stop_signal) {
        // Asked twice: end now, as the signal would without a handler.
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    g_stop_signal = sig;
}

}  // namespace

void install_stop_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a waiting read returns EINTR
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        // A signal ignored by whoever started us (nohup, a shell's
        // background job) stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    sigaction(SIGPIPE, &ign, nullptr);
}

void widen_input_pipe(int fd) {
#ifdef F_SETPIPE_SZ
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) (void)fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#else
    (void)fd;
#endif
}

void flush_writer(void* writer) { static_cast<TextWriter*>(writer)->flush(); }

bool prompt_output(std::FILE* out) {
    struct stat st;
    const int fd = fileno(out);
    return !(fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode));
}

}  // namespace drda
