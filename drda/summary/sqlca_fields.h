// SPDX-License-Identifier: Apache-2.0
// The few fields of an SQLCARD that a summary shows: SQLCODE, SQLSTATE,
// SQLERRD3 (the update count) and the message tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace drda::summary {

inline constexpr std::size_t kMaxTokens = 32;
// Bytes of SQLERRMSG read into tokens (Derby's run to 2,400 characters).
inline constexpr std::size_t kTokenBytes = 1024;

struct SqlcaFields {
    bool null_ca = false;        // SQLCAGRP indicator 0xFF: success, no fields
    std::int32_t sqlcode = 0;
    char sqlstate[6] = "00000";  // the five bytes as they stand (ASCII, or EBCDIC read as ASCII)
    bool has_errd = false;       // an SQLCAXGRP was present
    std::int32_t sqlerrd3 = 0;
    // The tokens of SQLERRMSG (the mixed one, else the single-byte one),
    // split at X'FF' and X'14', bytes as they stand; at most kMaxTokens,
    // from the first kTokenBytes of the field.
    std::vector<std::string> tokens;
    bool tokens_from_mixed = true;
};

// Reads the value of an SQLCARD. `little`: the sender's TYPDEF has
// little-endian integers; `sqlam`: the SQL application manager level (6
// and below carry an 18-byte SQLRDBNME in place of SQLRDBNAME). Returns
// false when the value is not an SQLCA (bad indicator, too short).
bool read_sqlcard(ByteView value, bool little, int sqlam, SqlcaFields& out);

}  // namespace drda::summary
