// SPDX-License-Identifier: Apache-2.0
// Copies of a few to a few hundred bytes without a library call: moves of
// fixed size that overlap where needed and stay inside the n bytes.
#pragma once

#include <cstddef>
#include <cstring>

namespace drda {

inline void copy_short(char* dst, const void* src, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(src);
    if (n >= 16) {
        for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(dst + i, p + i, 16);
        std::memcpy(dst + n - 16, p + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(dst, p, 8);
        std::memcpy(dst + n - 8, p + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(dst, p, 4);
        std::memcpy(dst + n - 4, p + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<char>(p[i]);
    }
}

}  // namespace drda
