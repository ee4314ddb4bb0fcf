// SPDX-License-Identifier: Apache-2.0
// libFuzzer entry point of the capture targets, built once per target with
// DSSVIEW_FUZZ_TARGET set to "capture_file", "capture_reassembly" or
// "capture_tool" (see capture_checks.h for what the input bytes mean).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "capture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure = capcheck::check(DSSVIEW_FUZZ_TARGET, data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "PROPERTY FAILED: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
