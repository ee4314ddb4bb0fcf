// SPDX-License-Identifier: Apache-2.0
#include "support/capture_builder.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace testsupport {
namespace {

void put16(std::string& s, std::uint32_t v, bool be = true) {
    if (be) {
        s.push_back(static_cast<char>(v >> 8));
        s.push_back(static_cast<char>(v));
    } else {
        s.push_back(static_cast<char>(v));
        s.push_back(static_cast<char>(v >> 8));
    }
}

void put32(std::string& s, std::uint32_t v, bool be = true) {
    if (be) {
        put16(s, v >> 16);
        put16(s, v & 0xFFFF);
    } else {
        put16(s, v & 0xFFFF, false);
        put16(s, v >> 16, false);
    }
}

std::string address(const std::string& text, bool& v6) {
    v6 = text.find(':') != std::string::npos;
    unsigned char buf[16];
    if (inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), buf) != 1) throw std::invalid_argument(text);
    return std::string(reinterpret_cast<char*>(buf), v6 ? 16 : 4);
}

std::string pad4(std::string s) {
    while (s.size() % 4) s.push_back('\0');
    return s;
}

}  // namespace

std::string ip_packet(const Tcp& t) {
    bool v6 = false, v6b = false;
    const std::string src = address(t.src, v6), dst = address(t.dst, v6b);
    std::string tcp;
    put16(tcp, t.sport);
    put16(tcp, t.dport);
    put32(tcp, t.seq);
    put32(tcp, t.ack);
    tcp.push_back(0x50);
    tcp.push_back(static_cast<char>(t.flags));
    put16(tcp, 65535);
    put32(tcp, 0);  // checksum and urgent pointer: never checked
    tcp += t.payload;
    std::string ip;
    if (!v6) {
        const std::size_t hl = 20 + t.ipv4_options.size();
        ip.push_back(static_cast<char>(0x40 | (hl / 4)));
        ip.push_back(0);
        put16(ip, t.total_length_zero ? 0 : static_cast<std::uint32_t>(hl + tcp.size()));
        put16(ip, 1);
        put16(ip, t.frag);
        ip.push_back(64);
        ip.push_back(6);
        put16(ip, 0);
        ip += src + dst + t.ipv4_options;
    } else {
        ip.push_back(0x60);
        ip.append(3, '\0');
        put16(ip, static_cast<std::uint32_t>(t.ipv6_ext.size() + tcp.size()));
        ip.push_back(static_cast<char>(t.ext_types.empty() ? 6 : t.ext_types[0]));
        ip.push_back(64);
        ip += src + dst;
        // Chain the extension headers: each one's first byte names the next.
        std::string ext = t.ipv6_ext;
        std::size_t off = 0;
        for (std::size_t i = 0; i < t.ext_types.size(); ++i) {
            ext[off] = static_cast<char>(i + 1 < t.ext_types.size() ? t.ext_types[i + 1] : 6);
            const auto len = static_cast<unsigned char>(ext[off + 1]);
            off += t.ext_types[i] == 51 ? (len + 2u) * 4 : (len + 1u) * 8;
        }
        ip += ext;
    }
    return ip + tcp;
}

std::string ethernet(const std::string& ip, const std::vector<std::uint16_t>& tags) {
    std::string f = std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb", 12);
    for (std::uint16_t tag : tags) {
        put16(f, tag);
        put16(f, 0x0064);  // VLAN 100
    }
    put16(f, (static_cast<unsigned char>(ip[0]) >> 4) == 6 ? 0x86DD : 0x0800);
    return f + ip;
}

std::string sll(const std::string& ip) {
    std::string f;
    put16(f, 0);       // packet type
    put16(f, 772);     // ARPHRD_LOOPBACK
    put16(f, 6);       // address length
    f.append(8, '\0');
    put16(f, (static_cast<unsigned char>(ip[0]) >> 4) == 6 ? 0x86DD : 0x0800);
    return f + ip;
}

std::string sll2(const std::string& ip) {
    std::string f;
    put16(f, (static_cast<unsigned char>(ip[0]) >> 4) == 6 ? 0x86DD : 0x0800);
    put16(f, 0);
    put32(f, 1);    // interface index
    put16(f, 772);  // ARPHRD
    f.push_back(0);
    f.push_back(6);
    f.append(8, '\0');
    return f + ip;
}

std::string null_frame(const std::string& ip, bool big_endian) {
    std::string f;
    put32(f, (static_cast<unsigned char>(ip[0]) >> 4) == 6 ? 30 : 2, big_endian);
    return f + ip;
}

std::string loop_frame(const std::string& ip) {
    std::string f;
    put32(f, (static_cast<unsigned char>(ip[0]) >> 4) == 6 ? 24 : 2);
    return f + ip;
}

std::string pcap_file(const std::vector<Frame>& frames, std::uint32_t link, bool be, bool nanos,
                      std::uint32_t snaplen) {
    std::string s;
    put32(s, nanos ? 0xA1B23C4D : 0xA1B2C3D4, be);
    put16(s, 2, be);
    put16(s, 4, be);
    put32(s, 0, be);
    put32(s, 0, be);
    put32(s, snaplen, be);
    put32(s, link, be);
    for (const Frame& f : frames) {
        put32(s, f.sec, be);
        put32(s, f.frac, be);
        put32(s, static_cast<std::uint32_t>(f.bytes.size()), be);
        put32(s, static_cast<std::uint32_t>(f.orig_len < 0 ? f.bytes.size() : f.orig_len), be);
        s += f.bytes;
    }
    return s;
}

std::string pcapng_block(bool be, std::uint32_t type, const std::string& body) {
    std::string s;
    const std::string b = pad4(body);
    put32(s, type, be);
    put32(s, static_cast<std::uint32_t>(b.size() + 12), be);
    s += b;
    put32(s, static_cast<std::uint32_t>(b.size() + 12), be);
    return s;
}

std::string pcapng_section(bool be) {
    std::string b;
    put32(b, 0x1A2B3C4D, be);
    put16(b, 1, be);
    put16(b, 0, be);
    put32(b, 0xFFFFFFFF, be);
    put32(b, 0xFFFFFFFF, be);
    return pcapng_block(be, 0x0A0D0D0A, b);
}

std::string pcapng_interface(bool be, std::uint16_t link, int tsresol, std::uint32_t snaplen) {
    std::string b;
    put16(b, link, be);
    put16(b, 0, be);
    put32(b, snaplen, be);
    if (tsresol >= 0) {
        put16(b, 9, be);
        put16(b, 1, be);
        b += pad4(std::string(1, static_cast<char>(tsresol)));
        put32(b, 0, be);  // end of options
    }
    return pcapng_block(be, 1, b);
}

std::string pcapng_packet(bool be, const Frame& f, std::uint64_t ts) {
    std::string b;
    put32(b, f.interface, be);
    put32(b, static_cast<std::uint32_t>(ts >> 32), be);
    put32(b, static_cast<std::uint32_t>(ts), be);
    put32(b, static_cast<std::uint32_t>(f.bytes.size()), be);
    put32(b, static_cast<std::uint32_t>(f.orig_len < 0 ? f.bytes.size() : f.orig_len), be);
    b += pad4(f.bytes);
    return pcapng_block(be, 6, b);
}

std::string pcapng_simple(bool be, const Frame& f) {
    std::string b;
    put32(b, static_cast<std::uint32_t>(f.orig_len < 0 ? f.bytes.size() : f.orig_len), be);
    b += f.bytes;
    return pcapng_block(be, 3, b);
}

std::string pcapng_obsolete(bool be, const Frame& f, std::uint64_t ts) {
    std::string b;
    put16(b, f.interface, be);
    put16(b, 0, be);
    put32(b, static_cast<std::uint32_t>(ts >> 32), be);
    put32(b, static_cast<std::uint32_t>(ts), be);
    put32(b, static_cast<std::uint32_t>(f.bytes.size()), be);
    put32(b, static_cast<std::uint32_t>(f.orig_len < 0 ? f.bytes.size() : f.orig_len), be);
    b += pad4(f.bytes);
    return pcapng_block(be, 2, b);
}

}  // namespace testsupport
