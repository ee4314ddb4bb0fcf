// SPDX-License-Identifier: Apache-2.0
// libFuzzer entry point, built once per target with DSSVIEW_FUZZ_TARGET set
// to "trace", "listing", "decoder" or "dispatch" (see checks.h for what the
// input bytes mean to each). Any failed property aborts, so that libFuzzer
// reports the input like a crash.
#include <cstddef>
#include <cstdint>

#include "checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzcheck::enforce(fuzzcheck::check(DSSVIEW_FUZZ_TARGET, data, size));
    return 0;
}
