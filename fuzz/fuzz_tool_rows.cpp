// SPDX-License-Identifier: Apache-2.0
// libFuzzer target: the whole tool with -r against -f on an input read from
// memory (a trace file or a capture); the properties are in
// tool_rows_checks.h. A failure aborts, so libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tool_rows_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string failure = rowscheck::check(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "PROPERTY FAILED: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
