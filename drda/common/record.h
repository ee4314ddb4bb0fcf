// SPDX-License-Identifier: Apache-2.0
// One traced buffer as every record source hands it on: which way it went,
// its bytes (role byte first), and where it came from.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace drda {

inline constexpr int kDirectionSend = 1177;     // the traced side sent it (type 'W')
inline constexpr int kDirectionReceive = 1178;  // the traced side received it (type 'R')

struct Record {
    int number = 0;                  // 1, 2, ... in the order printed
    int direction = kDirectionSend;  // kDirectionSend or kDirectionReceive
    ByteView data;                   // role byte first; valid until the next record
    // The connection the buffer belongs to: 0 for a trace file, whose
    // records are all of one conversation.
    std::uint32_t connection = 0;
};

}  // namespace drda
