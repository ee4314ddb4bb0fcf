// SPDX-License-Identifier: Apache-2.0
// Packet captures: the file reader (pcap, pcapng), the link, IP and TCP
// layers, reassembly and records, over hand-built packets for the forms the
// real captures lack; and every prefix of a real capture through the tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/driver.h"
#include "capture/capture_file.h"
#include "capture/connection_tracker.h"
#include "capture/packet_layers.h"
#include "support/capture.h"
#include "support/capture_builder.h"
#include "support/trace_builder.h"

using namespace testsupport;
using namespace drda::capture;

namespace {

// A DSS of `n` bytes: a request (type 1) or a reply (type 2).
std::string dss(std::size_t n, int type = 1, std::uint16_t corr = 1) {
    std::string s;
    s.push_back(static_cast<char>(n >> 8));
    s.push_back(static_cast<char>(n));
    s.push_back('\xD0');
    s.push_back(static_cast<char>(type));
    s.push_back(static_cast<char>(corr >> 8));
    s.push_back(static_cast<char>(corr));
    // One object filling the DSS (code point 0x2414, SQLSTT).
    if (n >= 10) {
        s.push_back(static_cast<char>((n - 6) >> 8));
        s.push_back(static_cast<char>(n - 6));
        s += "\x24\x14";
    }
    for (std::size_t i = s.size(); i < n; ++i) s.push_back(static_cast<char>('a' + i % 26));
    return s;
}

struct RunOut {
    int status = 0;
    std::string out, err;
};

RunOut run_capture(const std::string& file, const char* opt = "", const Limits& limits = Limits()) {
    RunOut r;
    char* err_text = nullptr;
    std::size_t err_len = 0;
    std::FILE* err = open_memstream(&err_text, &err_len);
    drda::Plan o;
    o.decode = std::string(opt) == "-r" ? drda::Plan::Decode::rows
               : opt[0] != '\0'         ? drda::Plan::Decode::format
                                        : drda::Plan::Decode::none;
    r.out = capture([&](drda::TextWriter& w) {
        r.status = drda::read_capture_memory(drda::ByteView(file), "cap", w, err, o, limits);
    });
    std::fclose(err);
    r.err.assign(err_text, err_len);
    std::free(err_text);
    return r;
}

// The output behind the file header line.
std::string body(const std::string& out) { return out.substr(out.find("\n\n") + 2); }

// --- tracker -------------------------------------------------------------------

// Feeds hand-built segments to a tracker and writes its events one a line.
class Track {
public:
    explicit Track(const Limits& limits = Limits()) : tracker_(limits) {}

    Track& operator<<(const Tcp& t) {
        packets_.push_back(ip_packet(t));
        Segment seg;
        EXPECT_EQ(parse_packet(kLinkRaw, drda::ByteView(packets_.back()), static_cast<std::uint32_t>(packets_.back().size()), seg),
                  Layer::tcp);
        tracker_.segment(seg, Time{now_, 0, true});
        collect();
        return *this;
    }
    // Packet time of the segments fed from now on.
    Track& at(std::int64_t sec) {
        now_ = sec;
        return *this;
    }
    // A live stream's writer paused.
    Track& pause() {
        tracker_.end_runs();
        collect();
        log_ += "-\n";
        return *this;
    }
    // Feeds a segment whose payload the capture cut after `kept` bytes.
    Track& cut(const Tcp& t, std::size_t kept) {
        std::string p = ip_packet(t);
        const std::uint32_t orig = static_cast<std::uint32_t>(p.size());
        packets_.push_back(p.substr(0, p.size() - (t.payload.size() - kept)));
        Segment seg;
        EXPECT_EQ(parse_packet(kLinkRaw, drda::ByteView(packets_.back()), orig, seg), Layer::tcp);
        tracker_.segment(seg, Time{1796753790, 0, true});
        collect();
        return *this;
    }
    std::string finish() {
        tracker_.finish();
        collect();
        return log_;
    }
    const std::string& log() const { return log_; }
    const ConnectionTracker& tracker() const { return tracker_; }

private:
    void collect() {
        while (!tracker_.empty()) {
            Event e = tracker_.pop();
            const char* side = e.side == kClient ? "C" : "S";
            std::string n = std::to_string(e.connection);
            switch (e.kind) {
                case Event::opened: log_ += "open " + n + " " + e.client + " > " + e.server + (e.syn ? " syn" : " seen"); break;
                case Event::record:
                    EXPECT_EQ(e.data.at(0), 1);
                    log_ += "rec " + n + " " + side + " " + std::string(e.data.begin() + 1, e.data.end());
                    break;
                case Event::gap: log_ += "gap " + n + " " + side + " " + std::to_string(e.count); break;
                case Event::closed: log_ += "close " + n + " " + side + (e.rst ? " RST" : " FIN"); break;
                case Event::still_open: log_ += "end " + n; break;
                case Event::dropped: log_ += "dropped " + n; break;
                case Event::idle: log_ += "idle " + n; break;
                case Event::replaced: log_ += "replaced " + n; break;
            }
            if (e.done) log_ += " done";
            log_ += "\n";
        }
    }

    ConnectionTracker tracker_;
    std::vector<std::string> packets_;
    std::string log_;
    std::int64_t now_ = 1796753790;
};

Tcp c2s(std::uint32_t seq, std::string payload, std::uint8_t flags = kAck | kPsh, std::uint32_t ack = 5001) {
    Tcp t;
    t.seq = seq;
    t.ack = ack;
    t.flags = flags;
    t.payload = std::move(payload);
    return t;
}

Tcp s2c(std::uint32_t seq, std::string payload, std::uint8_t flags = kAck | kPsh, std::uint32_t ack = 0) {
    Tcp t;
    std::swap(t.src, t.dst);
    std::swap(t.sport, t.dport);
    t.seq = seq;
    t.ack = ack;
    t.flags = flags;
    t.payload = std::move(payload);
    return t;
}

TEST(CaptureReassembly, HandshakeRunsAndFinMakeRecordsInOrder) {
    Track t;
    t << c2s(999, "", kSyn, 0) << s2c(5000, "", kSyn | kAck, 1000) << c2s(1000, "", kAck)
      << c2s(1000, "abc") << c2s(1003, "def") << s2c(5001, "XY", kAck | kPsh, 1006) << c2s(1006, "g", kAck | kPsh)
      << c2s(1007, "", kAck | kFin) << s2c(5003, "", kAck | kFin, 1008) << c2s(1008, "", kAck, 5004);
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 syn\n"
              "rec 1 C abcdef\n"
              "rec 1 S XY\n"
              "rec 1 C g\n"
              "close 1 C FIN\n"
              "close 1 S FIN done\n");
}

TEST(CaptureReassembly, OutOfOrderPutBackRetransmissionsAndOverlapsDropped) {
    Track t;
    t << c2s(1000, "abc") << c2s(1006, "ghi") << c2s(1003, "DEF") << c2s(1000, "xyz")  // retransmission: first bytes win
      << c2s(1007, "HIJ") << c2s(1012, "m") << c2s(1009, "Jkl") << s2c(5001, "R", kAck | kPsh, 1013);
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 1 C abcDEFghiJklm\n"
              "rec 1 S R\n"
              "end 1 done\n");
}

TEST(CaptureReassembly, SequenceNumbersWrap) {
    Track t;
    t << c2s(0xFFFFFFFEu, "ab", kAck, 7) << c2s(2, "ef", kAck, 7) << c2s(0, "cd", kAck, 7) << s2c(7, "Z", kAck | kPsh, 4);
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 1 C abcdef\n"
              "rec 1 S Z\n"
              "end 1 done\n");
}

TEST(CaptureReassembly, GapsAreReportedAndPassed) {
    Track t;
    // Lost from the capture: the peer acknowledges bytes never seen.
    t << c2s(1000, "abc") << c2s(1008, "hi") << s2c(5001, "R", kAck | kPsh, 1010);
    // Cut by the snap length: 2 of 5 payload bytes kept.
    t.cut(c2s(1010, "jklmn"), 2);
    t << c2s(1015, "o") << s2c(5002, "S", kAck | kPsh, 1016);
    // Held behind a hole at the end of the capture.
    t << c2s(1020, "late");
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 1 C abc\n"
              "gap 1 C 5\n"
              "rec 1 C hi\n"
              "rec 1 S R\n"
              "rec 1 C jk\n"
              "gap 1 C 3\n"
              "rec 1 C o\n"
              "rec 1 S S\n"
              "gap 1 C 4\n"
              "rec 1 C late\n"
              "end 1 done\n");
}

TEST(CaptureReassembly, MidConnectionStartFindsBytesBeforeTheFirstSeen) {
    // The server's first packet acknowledges up to 1000; the client's first
    // bytes seen begin at 1004; a pure ACK ahead of data proves nothing.
    Track t;
    t << s2c(1, "R1", kAck | kPsh, 1000) << c2s(1004, "abc", kAck, 3) << s2c(3, "", kAck, 1010)
      << c2s(1007, "def", kAck, 3) << s2c(3, "R2", kAck | kPsh, 1010);
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 1 S R1\n"
              "gap 1 C 4\n"
              "rec 1 C abcdef\n"
              "rec 1 S R2\n"
              "end 1 done\n");
}

TEST(CaptureReassembly, RstEndsTheConnectionAndLaterAcksBeginNone) {
    Track t;
    t << c2s(1000, dss(10)) << s2c(5001, "", kRst | kAck, 1010) << c2s(1010, "", kAck) << s2c(5001, "", kRst);
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 1 C " + dss(10) + "\n"
              "close 1 S RST done\n");
}

TEST(CaptureReassembly, InterleavedConnectionsKeepTheirOwnRuns) {
    Track t;
    Tcp a = c2s(100, "a1", kAck, 1), b = c2s(900, "b1", kAck, 7);
    b.sport = 40001;
    t << a << b;
    a.seq = 102, a.payload = "a2";
    b.seq = 902, b.payload = "b2";
    t << a << b;
    Tcp ra = s2c(1, "A", kAck | kPsh, 104), rb = s2c(7, "B", kAck | kPsh, 904);
    rb.dport = 40001;
    t << rb << ra;
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "open 2 10.0.0.1:40001 > 10.0.0.2:1527 seen\n"
              "rec 2 C b1b2\n"
              "rec 1 C a1a2\n"
              "rec 1 S A\n"
              "end 1 done\n"
              "rec 2 S B\n"
              "end 2 done\n");
}

TEST(CaptureReassembly, ClientSideBySynThenRequestDssThenPorts) {
    {   // No SYN, a reply DSS from the low port side: the other side is the client.
        Track t;
        Tcp r = s2c(1, dss(8, 2));
        r.sport = 7000;
        r.dport = 40000;
        t << r;
        EXPECT_EQ(t.finish().substr(0, 43), "open 1 10.0.0.1:40000 > 10.0.0.2:7000 seen\n");
    }
    {   // A request DSS from the lower port: that side is the client.
        Track t;
        Tcp r = c2s(1, dss(8, 1));
        r.sport = 300;
        r.dport = 9000;
        t << r;
        EXPECT_EQ(t.finish().substr(0, 41), "open 1 10.0.0.1:300 > 10.0.0.2:9000 seen\n");
    }
    {   // Neither: the well-known DRDA port is the server's even when higher.
        Track t;
        Tcp r = s2c(1, "no dss here");
        r.sport = 50000;
        r.dport = 40000;
        t << r;
        EXPECT_EQ(t.finish().substr(0, 44), "open 1 10.0.0.1:40000 > 10.0.0.2:50000 seen\n");
    }
    {   // Other traffic without a DSS start is skipped silently.
        Track t;
        Tcp r = c2s(1, "GET / HTTP/1.1\r\n");
        r.dport = 80;
        t << r;
        r.seq = 17;
        r.payload = dss(8);  // later bytes do not make it DRDA
        t << r;
        EXPECT_EQ(t.finish(), "");
    }
}

// On a port not known for DRDA the first bytes of a direction decide,
// however they were cut and ordered; what came before is kept and shown.
// A named port needs no DSS; an undecided connection has a cap.
TEST(CaptureReassembly, FirstBytesDecideHoweverTheyAreCut) {
    const std::string req = dss(10);
    const auto on = [](Tcp t, std::uint16_t port) {
        (t.sport == 40000 ? t.dport : t.sport) = port;
        return t;
    };
    {   // Two bytes, then the rest of the header ahead of a one-byte hole, then the hole.
        Track t;
        t << on(c2s(999, "", kSyn, 0), 7000) << on(s2c(5000, "", kSyn | kAck, 1000), 7000)
          << on(c2s(1000, req.substr(0, 2)), 7000) << on(c2s(1003, req.substr(3)), 7000);
        EXPECT_EQ(t.log(), "");
        t << on(c2s(1002, req.substr(2, 1)), 7000) << on(s2c(5001, "R", kAck | kPsh, 1010), 7000);
        EXPECT_EQ(t.finish(), "open 1 10.0.0.1:40000 > 10.0.0.2:7000 syn\nrec 1 C " + req +
                                  "\nrec 1 S R\nend 1 done\n");
    }
    {   // Odd first bytes: left out, unless the port is named.
        Limits named;
        named.ports = {7000};
        for (const Limits& l : {Limits(), named}) {
            Track t(l);
            t << on(c2s(1, "xy"), 7000) << on(c2s(3, "zzzz"), 7000);
            EXPECT_EQ(t.finish(), l.ports.empty() ? "" : "open 1 10.0.0.1:40000 > 10.0.0.2:7000 seen\nrec 1 C xyzzzz\nend 1 done\n");
        }
    }
    {   // The first byte never comes: past the cap the connection is left out and counted.
        Limits l;
        l.max_undecided = 8;
        Track t(l);
        t << on(c2s(999, "", kSyn, 0), 7000) << on(c2s(1001, req.substr(1, 5)), 7000)
          << on(c2s(1006, req.substr(6)), 7000) << on(c2s(1000, req.substr(0, 1)), 7000);
        EXPECT_EQ(t.finish(), "");
        EXPECT_EQ(t.tracker().undecided(), 1u);
    }
}

TEST(CaptureReassembly, CapsEndRecordsAndHeldDataAndConnections) {
    Limits l;
    l.max_record_data = 4;
    l.max_held_direction = 6;
    l.max_connections = 2;
    Track t(l);
    t << c2s(1000, "abcdefghij");                      // cut into records of 4
    t << c2s(1020, "wxyz") << c2s(1030, "uvw");          // the second waits behind a hole
    Tcp other = c2s(1, "x"), third = c2s(1, "y");
    other.sport = 40001;
    third.sport = 40002;
    t << other << third;  // a third connection drops the oldest idle one, ending its wait
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 1 C abcd\n"
              "rec 1 C efgh\n"
              "rec 1 C ij\n"
              "gap 1 C 10\n"
              "rec 1 C wxyz\n"
              "open 2 10.0.0.1:40001 > 10.0.0.2:1527 seen\n"
              "gap 1 C 6\n"
              "rec 1 C uvw\n"
              "dropped 1 done\n"
              "open 3 10.0.0.1:40002 > 10.0.0.2:1527 seen\n"
              "rec 2 C x\n"
              "end 2 done\n"
              "rec 3 C y\n"
              "end 3 done\n");
}

// A paused live stream ends the waiting runs of every connection, in
// connection order, and the next bytes of the same direction begin a new
// record; a connection without a packet for idle_seconds of packet time ends
// (its run shown first) and its next packet begins a new connection, while
// one that kept sending stays.
TEST(CaptureReassembly, PausesEndRunsAndIdleConnectionsEnd) {
    Tcp a1 = c2s(1000, "req"), a2 = c2s(1003, "more"), b1 = c2s(1, "x"), b2 = c2s(2, "y"), a3 = c2s(1007, "late");
    for (Tcp* t : {&b1, &b2}) t->sport = 40001;
    Track t;
    t.at(1000) << a1 << b1;
    t.pause().pause();
    t.at(1300) << b2;
    t.at(1590) << a2;
    t.at(1650) << b2;  // b: 350 s without a packet (a retransmission), a: 60 s
    t.at(2200) << b2;  // b: 550 s
    t.at(2300) << a3;  // a: 710 s: ends before its packet is taken
    EXPECT_EQ(t.finish(),
              "open 1 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "open 2 10.0.0.1:40001 > 10.0.0.2:1527 seen\n"
              "rec 1 C req\n"
              "rec 2 C x\n"
              "-\n-\n"
              "rec 1 C more\n"
              "idle 1 done\n"
              "open 3 10.0.0.1:40000 > 10.0.0.2:1527 seen\n"
              "rec 2 C y\n"
              "end 2 done\n"
              "rec 3 C late\n"
              "end 3 done\n");
}

// --- layers ----------------------------------------------------------------------

TEST(CaptureLayers, EveryLinkTypeAndIpFormFindsTheSegment) {
    Tcp v4 = c2s(77, "payload");
    Tcp v6 = v4;
    v6.src = "2001:db8::1";
    v6.dst = "fe80::2";
    Tcp opts = v4;
    opts.ipv4_options = std::string("\x01\x01\x01\x00", 4);
    Tcp tso = v4;
    tso.total_length_zero = true;
    Tcp ext = v6;  // hop-by-hop, routing, destination options, authentication
    ext.ext_types = {0, 43, 60, 51};
    ext.ipv6_ext = std::string(8, '\0') + std::string("\0\x01", 2) + std::string(14, '\0') + std::string(8, '\0') +
                   std::string("\0\x01", 2) + std::string(10, '\0');
    const std::string ip4 = ip_packet(v4), ip6 = ip_packet(v6);
    struct Case {
        const char* name;
        std::uint32_t link;
        std::string frame;
    } cases[] = {
        {"ethernet", kLinkEthernet, ethernet(ip4)},
        {"802.1Q", kLinkEthernet, ethernet(ip6, {0x8100})},
        {"802.1ad+Q", kLinkEthernet, ethernet(ip4, {0x88A8, 0x8100})},
        {"sll", kLinkSll, sll(ip6)},
        {"sll2", kLinkSll2, sll2(ip4)},
        {"null le", kLinkNull, null_frame(ip4, false)},
        {"null be", kLinkNull, null_frame(ip6, true)},
        {"loop", kLinkLoop, loop_frame(ip6)},
        {"raw", kLinkRaw, ip6},
        {"ipv4", kLinkIpv4, ip4},
        {"ipv6", kLinkIpv6, ip6},
        {"ipv4 options", kLinkRaw, ip_packet(opts)},
        {"total length 0", kLinkEthernet, ethernet(ip_packet(tso))},
        {"ipv6 extensions", kLinkRaw, ip_packet(ext)},
    };
    for (const Case& c : cases) {
        // Ethernet pads short frames: the IP length, not the frame, ends the payload.
        const std::string frame = c.frame + (c.link == kLinkEthernet && c.name != std::string("total length 0") ? "pad" : "");
        Segment seg;
        ASSERT_EQ(parse_packet(c.link, drda::ByteView(frame), static_cast<std::uint32_t>(c.frame.size()), seg), Layer::tcp)
            << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(seg.payload.data()), seg.payload.size()), "payload") << c.name;
        EXPECT_EQ(seg.seq, 77u) << c.name;
        EXPECT_EQ(seg.src.port, 40000) << c.name;
        EXPECT_EQ(seg.missing, 0u) << c.name;
    }
    char text[64];
    Segment seg;
    parse_packet(kLinkRaw, drda::ByteView(ip6), static_cast<std::uint32_t>(ip6.size()), seg);
    EXPECT_EQ(std::string(text, format_endpoint(seg.src, text)), "[2001:db8::1]:40000");
    EXPECT_EQ(std::string(text, format_endpoint(seg.dst, text)), "[fe80::2]:1527");
    // Fragments, of IPv4 and IPv6, are told apart and not read.
    Tcp frag = v4;
    frag.frag = 0x2000;
    EXPECT_EQ(parse_packet(kLinkRaw, drda::ByteView(ip_packet(frag)), 100, seg), Layer::fragment);
    Tcp frag6 = v6;
    frag6.ext_types = {44};
    frag6.ipv6_ext = std::string(8, '\0');
    EXPECT_EQ(parse_packet(kLinkRaw, drda::ByteView(ip_packet(frag6)), 100, seg), Layer::fragment);
}

// --- files -----------------------------------------------------------------------

// A conversation of one connection as frames: handshake, a request, a reply
// and the FINs.
std::vector<Frame> conversation(std::string (*wrap)(const std::string&) = nullptr) {
    std::vector<Tcp> tcp = {c2s(999, "", kSyn, 0), s2c(5000, "", kSyn | kAck, 1000), c2s(1000, dss(20)),
                            s2c(5001, dss(30, 2), kAck | kPsh, 1020), c2s(1020, "", kAck | kFin, 5031),
                            s2c(5031, "", kAck | kFin, 1021)};
    std::vector<Frame> frames;
    std::uint32_t usec = 100;
    for (const Tcp& t : tcp) {
        Frame f;
        f.bytes = wrap ? wrap(ip_packet(t)) : ethernet(ip_packet(t));
        f.frac = usec;
        usec += 250;
        frames.push_back(f);
    }
    return frames;
}

TEST(CaptureFiles, EveryFileFormPrintsTheSameRecords) {
    const std::vector<Frame> frames = conversation();
    const RunOut ref = run_capture(pcap_file(frames));
    ASSERT_EQ(ref.status, 0) << ref.err;
    EXPECT_EQ(ref.out.substr(0, 40), "pcap capture, version 2.4, link type 1\n\n");
    EXPECT_NE(ref.out.find("1\tconnection 1  10.0.0.1:40000 > 10.0.0.2:1527\n\tbytes 21\n"
                           "\ttime  2026-12-08 18:16:30.000600\n\n\tSEND BUFFER(AR):"),
              std::string::npos)
        << ref.out;
    EXPECT_NE(ref.out.find("2\tconnection 1  10.0.0.1:40000 < 10.0.0.2:1527\n\tbytes 31\n"), std::string::npos);

    std::vector<Frame> nano = frames;
    for (Frame& f : nano) f.frac *= 1000;
    std::string ng_le = pcapng_section(false) + pcapng_interface(false, 1);
    std::string ng_be = pcapng_section(true) + pcapng_interface(true, 1);
    // Two sections of either byte order; the second has two interfaces of
    // different link types and resolutions, and the unknown blocks between
    // are skipped.
    std::string multi = pcapng_section(false) + pcapng_interface(false, 1) + pcapng_block(false, 0xBAD, "skip me");
    std::vector<Frame> sll_frames = conversation(sll2);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::uint64_t us = std::uint64_t{frames[i].sec} * 1000000 + frames[i].frac;
        ng_le += pcapng_packet(false, frames[i], us);
        ng_be += i % 2 ? pcapng_obsolete(true, frames[i], us) : pcapng_packet(true, frames[i], us);
        if (i == 2) multi += pcapng_section(true) + pcapng_interface(true, 1) + pcapng_interface(true, 276, 9) +
                             pcapng_block(true, 0x80000001, "custom");
        if (i < 2) {
            multi += pcapng_packet(false, frames[i], us);
        } else {
            Frame f = sll_frames[i];
            f.interface = i % 2;
            multi += i % 2 ? pcapng_packet(true, f, us * 1000) : pcapng_packet(true, frames[i], us);
        }
    }
    for (const auto& [name, file] : std::vector<std::pair<std::string, std::string>>{
             {"pcap big-endian", pcap_file(frames, 1, true)},
             {"pcap nanoseconds", pcap_file(nano, 1, false, true)},
             {"pcap big-endian nanoseconds", pcap_file(nano, 1, true, true)},
             {"pcapng", ng_le},
             {"pcapng big-endian, obsolete packet blocks", ng_be},
             {"pcapng sections and interfaces", multi}}) {
        const RunOut r = run_capture(file, "-f");
        EXPECT_EQ(r.status, 0) << name << r.err;
        EXPECT_EQ(body(r.out), body(run_capture(pcap_file(frames), "-f").out)) << name;
    }
    EXPECT_EQ(run_capture(ng_le).out.substr(0, 16), "pcapng capture\n\n");
    // Simple packet blocks carry no time: no time line.
    std::string spb = pcapng_section(false) + pcapng_interface(false, 1);
    for (const Frame& f : frames) spb += pcapng_simple(false, f);
    const RunOut s = run_capture(spb);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out.find("\ttime"), std::string::npos);
    EXPECT_NE(s.out.find("\tbytes 31\n\n\tRECEIVE BUFFER(AR):"), std::string::npos);
}

TEST(CaptureFiles, DamageAndCutsAreReportedAfterWhatCameBefore) {
    const std::string good = pcap_file(conversation());
    // Cut inside the last packet: the records before it are printed.
    RunOut r = run_capture(good.substr(0, good.size() - 3));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "cap: capture ends inside a packet\n");
    EXPECT_NE(r.out.find("2\tconnection 1"), std::string::npos);
    EXPECT_NE(r.out.find("CONNECTION 1: still open at the end of the capture\n\n"), std::string::npos);
    // A captured length over 256 KiB at the third packet.
    std::string bad = good;
    std::size_t third = 24;
    for (int i = 0; i < 2; ++i) third += 16 + static_cast<unsigned char>(bad[third + 8]);
    bad[third + 10] = '\x05';
    r = run_capture(bad);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "cap: damaged capture at byte " + std::to_string(third) + "\n");
    EXPECT_NE(r.out.find("CONNECTION 1: 10.0.0.1:40000 > 10.0.0.2:1527 opened"), std::string::npos);
    // pcapng: a block length that is no multiple of 4, a trailing length
    // that differs, an unknown interface.
    const std::string shb = pcapng_section(false) + pcapng_interface(false, 1);
    std::string blk = pcapng_packet(false, conversation()[2], 5);
    std::string odd = blk;
    odd[4] = static_cast<char>(odd[4] + 1);
    std::string trail = blk;
    trail[trail.size() - 4] = static_cast<char>(trail[trail.size() - 4] + 4);
    std::string itf = blk;
    itf[8] = 1;
    for (const std::string& b : {odd, trail, itf}) {
        r = run_capture(shb + b);
        EXPECT_EQ(r.err, "cap: damaged capture at byte " + std::to_string(shb.size()) + "\n");
    }
    // A capture with nothing of DRDA in it.
    Tcp web = c2s(1, "GET /");
    web.dport = 80;
    r = run_capture(pcap_file({Frame{ethernet(ip_packet(web))}}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "pcap capture, version 2.4, link type 1\n\n");
    EXPECT_EQ(r.err, "no DRDA connection in the capture\n");
    // Fragments are counted once.
    Tcp frag = c2s(1000, dss(20));
    frag.frag = 0x2000;
    std::vector<Frame> fr = conversation();
    fr.insert(fr.begin() + 3, Frame{ethernet(ip_packet(frag))});
    fr.insert(fr.begin() + 3, Frame{ethernet(ip_packet(frag))});
    r = run_capture(pcap_file(fr));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\nIP FRAGMENTS: 2 packets skipped, not reassembled\n\n"), std::string::npos);
}

TEST(CaptureFiles, GapResetsTheDirectionsDecoder) {
    // A DSS header cut after 3 bytes, then the rest lost: the next DSS is
    // decoded from its own header, not completed from the lost one.
    std::vector<Tcp> tcp = {c2s(1000, dss(10) + dss(10).substr(0, 3)), s2c(1, dss(8, 2), kAck | kPsh, 1020),
                            c2s(1020, dss(12), kAck | kPsh, 9)};
    std::vector<Frame> frames;
    for (const Tcp& t : tcp) frames.push_back(Frame{ethernet(ip_packet(t))});
    const RunOut r = run_capture(pcap_file(frames), "-r");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Incomplete DSS Header. Continued in next buffer..."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("CONNECTION 1: 7 bytes from the client missing from the capture\n\n2\tconnection"),
              std::string::npos);
    EXPECT_NE(r.out.find("LL: 12  CORR: 0001"), std::string::npos) << r.out;
}

// --- every prefix of a real capture ------------------------------------------------

TEST(CaptureFiles, EveryPrefixOfARealCaptureEndsAsTheRulesSay) {
    const std::string file = read_file(std::string(DSSVIEW_TEST_DATA) + "/captures/s01_connect.pcap");
    // Packet boundaries of the pcap file.
    std::vector<bool> boundary(file.size() + 1, false);
    for (std::size_t p = 24; p <= file.size();) {
        boundary[p] = true;
        if (p + 16 > file.size()) break;
        p += 16 + (static_cast<unsigned char>(file[p + 8]) | static_cast<unsigned char>(file[p + 9]) << 8);
    }
    Rig rig;  // one writer for all runs
    for (std::size_t n = 0; n <= file.size(); ++n) {
        std::FILE* in = fmemopen(const_cast<char*>(file.data()), n ? n : 1, "rb");
        if (n == 0) std::fgetc(in);
        char* err_text = nullptr;
        std::size_t err_len = 0;
        std::FILE* err = open_memstream(&err_text, &err_len);
        drda::Plan o;
        if (n % 31 == 0) o.decode = drda::Plan::Decode::rows;
        int status = 0;
        rig.run([&](drda::TextWriter& w) {
            status = drda::read_trace_stream(in, "cap", w, err, o);
            w.put('\n');  // the next run starts at column 0
        });
        std::fclose(err);
        const std::string e(err_text, err_len);
        std::free(err_text);
        std::fclose(in);
        if (n < 4) {
            EXPECT_EQ(e, "cap: unexpected end of file\n") << n;
        } else if (boundary[n]) {
            EXPECT_EQ(status, 0) << n;
            EXPECT_TRUE(e.empty() || e == "no DRDA connection in the capture\n") << n << e;
        } else {
            EXPECT_EQ(status, -1) << n;
            EXPECT_EQ(e, "cap: capture ends inside a packet\n") << n;
        }
    }
}

}  // namespace

// --- a capture larger than the read window ------------------------------------------

TEST(CaptureFiles, AStreamLargerThanTheReadWindowReadsAsFromMemory) {
    // The packets of a real capture, five times over and behind a packet of
    // odd length, so that packet headers fall across the boundaries of the
    // reader's 1 MiB window at several offsets.
    const std::string real = read_file(std::string(DSSVIEW_TEST_DATA) + "/captures/s04_manyrows.pcap");
    std::string file = real.substr(0, 24);
    std::string odd(16 + 37, '\0');
    odd[8] = odd[12] = 37;
    for (int i = 0; i < 5; ++i) file += odd + real.substr(24);
    ASSERT_GT(file.size(), std::size_t{2} << 20);
    const RunOut memory = run_capture(file, "-f");
    ASSERT_EQ(memory.status, 0);
    std::FILE* in = fmemopen(file.data(), file.size(), "rb");
    std::FILE* err = std::fopen("/dev/null", "w");
    drda::Plan o;
    o.decode = drda::Plan::Decode::format;
    int status = 0;
    const std::string stream = capture([&](drda::TextWriter& w) { status = drda::read_trace_stream(in, "cap", w, err, o); });
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(stream == memory.out) << "stream and memory differ";
    // Every packet time is the capture's own.
    EXPECT_EQ(stream.find("\ttime  1970"), std::string::npos);
}
