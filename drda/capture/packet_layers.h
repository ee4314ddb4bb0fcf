// SPDX-License-Identifier: Apache-2.0
// Link, IP and TCP layers of one captured packet: finds the TCP segment in
// a frame of any supported link type. Checksums are never verified
// (offloading makes them wrong in real captures); IP fragments are not
// reassembled.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace drda::capture {

// LINKTYPE_ values understood.
inline constexpr std::uint32_t kLinkNull = 0;
inline constexpr std::uint32_t kLinkEthernet = 1;
inline constexpr std::uint32_t kLinkRawOld = 12;  // DLT_RAW as some old files hold it
inline constexpr std::uint32_t kLinkRaw = 101;
inline constexpr std::uint32_t kLinkLoop = 108;
inline constexpr std::uint32_t kLinkSll = 113;
inline constexpr std::uint32_t kLinkIpv4 = 228;
inline constexpr std::uint32_t kLinkIpv6 = 229;
inline constexpr std::uint32_t kLinkSll2 = 276;

inline constexpr std::uint8_t kTcpFin = 0x01;
inline constexpr std::uint8_t kTcpSyn = 0x02;
inline constexpr std::uint8_t kTcpRst = 0x04;
inline constexpr std::uint8_t kTcpAck = 0x10;

// One end of a TCP connection. IPv4 addresses are kept in the first four
// bytes, the rest zero.
struct Endpoint {
    std::uint8_t addr[16] = {};
    std::uint16_t port = 0;
    bool v6 = false;
    bool operator==(const Endpoint&) const = default;
};

struct Segment {
    Endpoint src, dst;
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    std::uint8_t flags = 0;
    ByteView payload;           // the payload bytes the capture holds
    std::uint32_t missing = 0;  // payload bytes the packet carried beyond them
};

enum class Layer { tcp, fragment, other };

// Reads the TCP segment of a frame of link type `link`. `orig_len` is the
// frame's length on the wire: it gives the IP length where the IP header
// says 0 (segmentation offload) and so what a small snap length cut off.
Layer parse_packet(std::uint32_t link, ByteView frame, std::uint32_t orig_len, Segment& seg);

// "a.b.c.d:port" or "[v6]:port" into `out` (at least 48 bytes); returns
// its length.
std::size_t format_endpoint(const Endpoint& e, char* out);

}  // namespace drda::capture
