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
    const int parsed = drda::parse_args(argc, argv, settings, stderr);
    if (parsed < 0) return 1;
    if (parsed > 0) {
        drda::print_help(settings.program_name, stdout);
        if (settings.out_is_file) std::fclose(settings.out);
        if (settings.html) std::fclose(settings.html);
        if (std::fflush(stdout) != 0) return 255;
        return 0;
    }

    int result = settings.compare.given ? drda::run_compare(settings, stderr) : drda::read_trace(settings, stderr);

    errno = 0;
    if (std::fclose(settings.out) != 0 && result == 0) {
        std::fprintf(stderr, "%s: %s\n", settings.out_name.c_str(),
                     std::strerror(errno ? errno : EIO));
        result = -1;
    }
    errno = 0;
    if (settings.html && std::fclose(settings.html) != 0 && result == 0) {
        std::fprintf(stderr, "%s: %s\n", settings.html_name.c_str(), std::strerror(errno ? errno : EIO));
        result = -1;
    }
    // --compare --fail-on: 3 when a change it names was found.
    return result == 0 ? 0 : result == drda::kCompareChangeStatus ? drda::kCompareChangeStatus : 255;
}
