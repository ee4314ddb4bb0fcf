// SPDX-License-Identifier: Apache-2.0
// dssview: formats a DRDA communications trace (DRDADBG file) as text.
#include <cstdio>

#include "app/cli.h"
#include "app/driver.h"

int main(int argc, char** argv) {
    if (drda::version_option(argc, argv, stdout)) {
        if (std::fflush(stdout) != 0) return 255;
        return 0;
    }
    drda::CommandLine line;
    const int parsed = drda::parse_args(argc, argv, line, stderr);
    if (parsed < 0) return 1;
    if (parsed > 0) {
        drda::print_help(line.program_name, stdout);
        if (std::fflush(stdout) != 0) return 255;
        return 0;
    }
    drda::Plan plan;
    if (!drda::make_plan(line, plan, stderr)) return 1;
    return drda::run(plan, stderr);
}
