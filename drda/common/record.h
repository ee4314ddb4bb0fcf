// SPDX-License-Identifier: Apache-2.0
// One traced buffer as every record source hands it on: which way it went,
// its bytes (role byte first), and where it came from.
#pragma once

#include <cstdint>
#include <string_view>

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
    // When the buffer was traced or captured, in seconds since the epoch;
    // has_time is false where the source holds no valid time.
    double time = 0;
    bool has_time = false;
    // The connection's ends as "address:port" where the source knows them
    // (captures); empty for a trace file.
    std::string_view client;
    std::string_view server;
};

}  // namespace drda
