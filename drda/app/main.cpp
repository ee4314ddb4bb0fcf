// SPDX-License-Identifier: Apache-2.0
// dssview: formats a DRDA communications trace (DRDADBG file) as text.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/cli.h"
#include "app/driver.h"

int main(int argc, char** argv) {
    if (drda::version_option(argc, argv, stdout)) {
        if (std::fflush(stdout) != 0) return 255;
        return 0;
    }
    drda::RunSettings settings;
    if (drda::parse_args(argc, argv, settings, stderr) < 0) return 1;

    int result = drda::read_trace(settings, stderr);

    errno = 0;
    if (std::fclose(settings.out) != 0 && result == 0) {
        std::fprintf(stderr, "%s: %s\n", settings.out_name.c_str(),
                     std::strerror(errno ? errno : EIO));
        result = -1;
    }
    return result == 0 ? 0 : 255;
}
