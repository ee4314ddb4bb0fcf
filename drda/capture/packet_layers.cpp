// SPDX-License-Identifier: Apache-2.0
#include "capture/packet_layers.h"

#include <cstdio>
#include <cstring>

namespace drda::capture {
namespace {

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherIpv6 = 0x86DD;
// VLAN tags stacked deeper than this are not followed.
constexpr int kMaxTags = 8;
// IPv6 extension headers chained longer than this are not followed.
constexpr int kMaxExtensions = 16;

bool is_tag(std::uint16_t type) { return type == 0x8100 || type == 0x88A8 || type == 0x9100; }

// Offset of the IP header in the frame and its version (4 or 6); 0 when
// the frame carries no IP.
struct IpStart {
    std::size_t off = 0;
    int version = 0;
};

IpStart ethertype_ip(ByteView f, std::size_t type_off) {
    std::uint16_t type = f.be16(type_off);
    std::size_t off = type_off + 2;
    for (int i = 0; i < kMaxTags && is_tag(type); ++i) {
        type = f.be16(off + 2);
        off += 4;
    }
    if (type == kEtherIpv4) return {off, 4};
    if (type == kEtherIpv6) return {off, 6};
    return {};
}

IpStart family_ip(std::uint32_t family, std::size_t off) {
    if (family == 2) return {off, 4};
    // AF_INET6 of the BSDs, Darwin and Linux.
    if (family == 24 || family == 28 || family == 30 || family == 10) return {off, 6};
    return {};
}

IpStart find_ip(std::uint32_t link, ByteView f) {
    switch (link) {
        case kLinkEthernet: return ethertype_ip(f, 12);
        case kLinkSll: return ethertype_ip(f, 14);
        case kLinkSll2: {
            IpStart s = ethertype_ip(f, 0);
            // The protocol field leads, the rest of the 20-byte header follows.
            if (s.version) s.off += 18;
            return s;
        }
        case kLinkNull: {
            // Host byte order of the machine that captured.
            std::uint32_t fam = f.be32(0);
            if (fam > 0xFFFF) fam = std::uint32_t{f.u8(0)} | std::uint32_t{f.u8(1)} << 8;
            return family_ip(fam, 4);
        }
        case kLinkLoop: return family_ip(f.be32(0), 4);
        case kLinkRaw:
        case kLinkRawOld: {
            const int v = f.u8(0) >> 4;
            return v == 4 || v == 6 ? IpStart{0, v} : IpStart{};
        }
        case kLinkIpv4: return {0, 4};
        case kLinkIpv6: return {0, 6};
    }
    return {};
}

}  // namespace

Layer parse_packet(std::uint32_t link, ByteView frame, std::uint32_t orig_len, Segment& seg) {
    const IpStart ip = find_ip(link, frame);
    if (!ip.version || !frame.has(ip.off, 1)) return Layer::other;
    const ByteView pkt = frame.sub(ip.off);
    // What the wire held from the IP header on.
    const std::uint64_t wire = orig_len > ip.off ? orig_len - ip.off : pkt.size();
    std::size_t l4 = 0;            // offset of the TCP header in pkt
    std::uint64_t ip_end = 0;      // end of the IP payload, by the IP header
    seg = Segment();
    if (ip.version == 4) {
        if (pkt.size() < 20 || pkt.u8(0) >> 4 != 4) return Layer::other;
        l4 = std::size_t{pkt.u8(0) & 0x0Fu} * 4;
        if (l4 < 20 || pkt.size() < l4) return Layer::other;
        const std::uint16_t total = pkt.be16(2);
        ip_end = total ? total : wire;
        if (ip_end < l4) return Layer::other;
        if (pkt.be16(6) & 0x3FFF) return Layer::fragment;  // MF set or an offset
        if (pkt.u8(9) != 6) return Layer::other;
        std::memcpy(seg.src.addr, pkt.data() + 12, 4);
        std::memcpy(seg.dst.addr, pkt.data() + 16, 4);
    } else {
        if (pkt.size() < 40 || pkt.u8(0) >> 4 != 6) return Layer::other;
        const std::uint16_t plen = pkt.be16(4);
        ip_end = plen ? 40u + plen : wire;
        std::uint8_t next = pkt.u8(6);
        std::size_t off = 40;
        for (int i = 0; next != 6; ++i) {
            if (i == kMaxExtensions || !pkt.has(off, 8)) return Layer::other;
            std::size_t len;
            switch (next) {
                case 0:    // hop-by-hop options
                case 43:   // routing
                case 60:   // destination options
                case 135:  // mobility
                case 139:  // HIP
                case 140:  // shim6
                    len = (std::size_t{pkt.u8(off + 1)} + 1) * 8;
                    break;
                case 51:  // authentication header
                    len = (std::size_t{pkt.u8(off + 1)} + 2) * 4;
                    break;
                case 44: return Layer::fragment;
                default: return Layer::other;  // ESP, no next header, not TCP
            }
            next = pkt.u8(off);
            off += len;
        }
        l4 = off;
        seg.src.v6 = seg.dst.v6 = true;
        std::memcpy(seg.src.addr, pkt.data() + 8, 16);
        std::memcpy(seg.dst.addr, pkt.data() + 24, 16);
    }
    if (!pkt.has(l4, 20)) return Layer::other;
    const ByteView tcp = pkt.sub(l4);
    const std::size_t hlen = static_cast<std::size_t>(tcp.u8(12) >> 4) * 4;
    if (hlen < 20 || tcp.size() < hlen || ip_end < l4 + hlen) return Layer::other;
    seg.src.port = tcp.be16(0);
    seg.dst.port = tcp.be16(2);
    seg.seq = tcp.be32(4);
    seg.ack = tcp.be32(8);
    seg.flags = tcp.u8(13);
    const std::uint64_t claimed = ip_end - l4 - hlen;
    seg.payload = tcp.sub(hlen, claimed < tcp.size() - hlen ? static_cast<std::size_t>(claimed) : tcp.size() - hlen);
    const std::uint64_t cut = claimed - seg.payload.size();
    seg.missing = cut > 0xFFFFFFu ? 0xFFFFFFu : static_cast<std::uint32_t>(cut);
    return Layer::tcp;
}

std::size_t format_endpoint(const Endpoint& e, char* out) {
    int n;
    if (!e.v6) {
        n = std::snprintf(out, 48, "%u.%u.%u.%u:%u", e.addr[0], e.addr[1], e.addr[2], e.addr[3], e.port);
        return static_cast<std::size_t>(n);
    }
    // RFC 5952: the longest run of two or more zero groups becomes "::".
    unsigned g[8];
    for (int i = 0; i < 8; ++i) g[i] = static_cast<unsigned>(e.addr[2 * i] << 8 | e.addr[2 * i + 1]);
    int best = -1, best_len = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && g[j] == 0) ++j;
        if (j - i > best_len) {
            best = i;
            best_len = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::size_t len = 0;
    out[len++] = '[';
    for (int i = 0; i < 8; ++i) {
        if (i == best) {
            out[len++] = ':';
            if (i == 0) out[len++] = ':';
            i += best_len - 1;
            continue;
        }
        len += static_cast<std::size_t>(std::snprintf(out + len, 48 - len, "%x", g[i]));
        if (i < 7) out[len++] = ':';
    }
    n = std::snprintf(out + len, 48 - len, "]:%u", e.port);
    return len + static_cast<std::size_t>(n);
}

}  // namespace drda::capture
