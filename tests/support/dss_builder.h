// SPDX-License-Identifier: Apache-2.0
// Test helpers: DSSs, DDM objects and records of a conversation, built byte
// by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/trace_builder.h"

namespace testsupport {

inline std::string be16(std::size_t v) {
    return std::string{static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
inline std::string be32(std::size_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }

inline std::string obj(std::uint16_t cp, const std::string& value) { return be16(4 + value.size()) + be16(cp) + value; }

// A DSS: type 1 request, 2 reply, 3 object; `chained` sets 0x40.
inline std::string dss(int type, std::uint16_t corr, const std::string& objects, bool chained = false) {
    const char fmt = static_cast<char>(type | (chained ? 0x40 : 0));
    return be16(6 + objects.size()) + std::string("\xD0", 1) + fmt + be16(corr) + objects;
}

// An SQLSTT holding `text` as its mixed-character LOB.
inline std::string sqlstt(const std::string& text) {
    return obj(0x2414, std::string(1, '\0') + be32(text.size()) + text + "\xFF");
}

inline Record send(const std::string& buffer) {
    Record r;
    r.type = 'W';
    r.buffer = buffer;
    return r;
}
inline Record recv(const std::string& buffer) {
    Record r;
    r.type = 'R';
    r.function = "arRecvBuf";
    r.buffer = buffer;
    return r;
}

}  // namespace testsupport
