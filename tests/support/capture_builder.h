// SPDX-License-Identifier: Apache-2.0
// Test helpers: build TCP packets, link-layer frames and pcap/pcapng files
// from a readable description.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One TCP segment over IPv4 or IPv6.
struct Tcp {
    std::string src = "10.0.0.1", dst = "10.0.0.2";  // dotted IPv4 or IPv6 with "::"
    std::uint16_t sport = 40000, dport = 1527;
    std::uint32_t seq = 1000, ack = 0;
    std::uint8_t flags = 0x18;  // PSH ACK
    std::string payload;
    std::string ipv6_ext;         // IPv6 extension headers (next header of each set by the builder)
    std::vector<int> ext_types;   // their types, in order
    std::string ipv4_options;     // a multiple of 4 bytes
    bool total_length_zero = false;  // IPv4 total length 0, as offload shows it
    std::uint16_t frag = 0;          // IPv4 flags and fragment offset word
};

inline constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;

// The IP packet (IPv4 or IPv6 by the address form).
std::string ip_packet(const Tcp& t);

// Link-layer frames around an IP packet.
std::string ethernet(const std::string& ip, const std::vector<std::uint16_t>& tags = {});
std::string sll(const std::string& ip);
std::string sll2(const std::string& ip);
std::string null_frame(const std::string& ip, bool big_endian);  // BSD loopback
std::string loop_frame(const std::string& ip);

struct Frame {
    std::string bytes;
    std::uint32_t sec = 1796753790;
    std::uint32_t frac = 0;       // micro- or nanoseconds
    std::int64_t orig_len = -1;   // -1: the frame's length
    std::uint32_t interface = 0;  // pcapng
};

std::string pcap_file(const std::vector<Frame>& frames, std::uint32_t link = 1, bool big_endian = false,
                      bool nanos = false, std::uint32_t snaplen = 262144);

// pcapng blocks, in the byte order given.
std::string pcapng_section(bool big_endian);
std::string pcapng_interface(bool big_endian, std::uint16_t link, int tsresol = -1, std::uint32_t snaplen = 0);
std::string pcapng_packet(bool big_endian, const Frame& f, std::uint64_t ts);  // enhanced packet block
std::string pcapng_simple(bool big_endian, const Frame& f);
std::string pcapng_obsolete(bool big_endian, const Frame& f, std::uint64_t ts);
std::string pcapng_block(bool big_endian, std::uint32_t type, const std::string& body);

}  // namespace testsupport
