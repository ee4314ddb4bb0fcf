// SPDX-License-Identifier: Apache-2.0
// TCP connections of a capture turned into the buffers a requester's trace
// would hold: which connections carry DRDA, which side is the client, the
// bytes of each direction put back in sequence order, and records cut from
// them. Everything that happens is queued as an event, in order.
//
// Reassembly: per direction by sequence number; segments ahead of the next
// expected byte are held and put back in order; bytes seen before win over
// retransmissions and overlaps; no SYN is needed. Bytes the capture does
// not hold become a gap, found when the peer's data acknowledges bytes never
// seen (or, for a capture started mid-connection, when the first bytes of a
// direction come after the byte its peer acknowledged first),
// when held data waits behind a hole at FIN, RST or the end of the capture,
// when a packet was cut by the snap length, or when the caps on held data
// are reached.
//
// Records: a run of one direction's bytes, ended by data of the other
// direction, FIN or RST, a gap, the end of the capture, kMaxRecordData
// bytes, or the cap on the data pending in all connections. A live stream
// also ends the runs of all connections whenever its writer pauses
// (end_runs), as a conversation pauses where its direction changes.
//
// A connection without a packet for idle_seconds of packet time is no
// longer followed, so that a capture of any length holds only the state of
// the connections still in use.
//
// Which connections carry DRDA: every connection with a DRDA server port
// (446, 1527, 50000 and Limits::ports), shown from its SYN or first data
// on; on any other port, a connection whose first bytes in one direction
// (reassembled, however they were cut into segments) are a DSS header. Its
// packets are kept until those bytes are there and then taken in as if it
// had been shown from the start; a connection still undecided when it has
// kept max_undecided payload bytes or packets is left out and counted.
//
// A SYN without ACK on ports still in use ends the connection there
// (replaced) and begins a new one, unless it repeats the SYN that opened it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string_view>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture/packet_layers.h"
#include "common/recent_cache.h"
#include "capture/tls_session.h"

namespace drda::capture {

struct Limits {
    std::size_t max_record_data = std::size_t{1} << 20;     // payload bytes in one record
    std::size_t max_held_direction = std::size_t{512} << 10;  // out-of-order bytes per direction
    std::size_t max_held_total = std::size_t{2} << 20;       // ... in all connections
    std::size_t max_pending_total = std::size_t{4} << 20;    // record bytes waiting in all connections
    std::size_t max_connections = 4096;                      // connections tracked at once
    std::int64_t idle_seconds = 600;                         // packet time without a packet
    std::size_t max_undecided = std::size_t{64} << 10;       // payload bytes (and packets) kept before
                                                             // a connection is known to carry DRDA
    std::size_t max_undecided_total = std::size_t{4} << 20;  // ... in all connections
    // DRDA server ports beyond the well-known ones (--port).
    std::vector<std::uint16_t> ports;
};

struct Time {
    std::int64_t sec = 0;
    std::uint32_t nsec = 0;
    bool valid = false;
};

enum Side : int { kClient = 0, kServer = 1 };

struct Event {
    enum Kind {
        opened,      // a connection is shown from now on (`syn`: its SYN was seen)
        record,      // `data`: role byte 1, then the run's bytes; `time`: its first packet
        gap,         // `count` bytes of `side` are not in the capture
        closed,      // `side` closed it (`rst`: by RST, else FIN)
        still_open,  // at the end of the capture
        dropped,     // no longer tracked: too many connections at once
        idle,        // no longer tracked: no packet for Limits::idle_seconds
        tls,         // `text`: what the TLS layer found (`tls_kind`)
        replaced,    // a SYN began a new connection on the same ports
    } kind = record;
    std::uint32_t connection = 0;
    Side side = kClient;
    bool syn = false;
    bool rst = false;
    bool done = false;  // the connection is forgotten after this event
    std::uint64_t count = 0;
    Time time;
    std::vector<std::uint8_t> data;
    std::string client, server;  // "address:port"
    TlsNote::Kind tls_kind = TlsNote::keyed;
    std::string text;
};

class ConnectionTracker {
public:
    explicit ConnectionTracker(const Limits& limits = Limits());
    // The secrets TLS connections are decrypted with (may be null: TLS
    // connections are then only described).
    void set_key_log(KeyLog* keys) { keys_ = keys; }
    ~ConnectionTracker();
    ConnectionTracker(const ConnectionTracker&) = delete;
    ConnectionTracker& operator=(const ConnectionTracker&) = delete;

    void segment(const Segment& seg, const Time& time);
    // The end of the capture: held data, pending records and open connections.
    void finish();
    // Ends the pending run of every connection as a record (a live stream
    // whose writer paused).
    void end_runs();

    bool empty() const { return events_.empty(); }
    // Takes the oldest queued event.
    Event pop();
    // Hands the buffer of a record event back for reuse.
    void recycle(std::vector<std::uint8_t>&& buffer);

    // Connections shown so far.
    std::uint32_t shown() const { return shown_; }
    // Connections left out because their first bytes did not come within
    // Limits::max_undecided.
    std::uint64_t undecided() const { return undecided_; }

    struct Conn;
    struct Dir;
    struct TlsOut;

private:
    Conn* find_or_make(const Segment& seg, int& from);
    bool drda_port(std::uint16_t port) const;
    bool named(const Conn& c) const;
    void keep(Conn& c, int from, const Segment& seg, const Time& t);
    void drop_kept(Conn& c);
    void process(Conn& c, int from, const Segment& seg, const Time& t);
    void evict();
    void expire(std::int64_t now);
    void bury();
    void decide(Conn& c, int from, int type);
    void data(Conn& c, int d, std::uint32_t seq, ByteView bytes, std::uint32_t missing, const Time& t);
    void deliver(Conn& c, int d, ByteView bytes, const Time& t);
    void append(Conn& c, int d, ByteView bytes, const Time& t);
    void tls_end(Conn& c);
    void hold(Conn& c, int d, std::uint32_t seq, ByteView bytes, std::uint32_t missing, const Time& t);
    void drain(Conn& c, int d);
    void gap(Conn& c, int d, std::uint64_t count);
    void gap_to(Conn& c, int d, std::uint32_t seq);
    void gap_by_ack(Conn& c, int d, std::uint32_t ack);
    void resolve_held(Conn& c, int d);
    void emit(Conn& c, int d);
    void emit_pending(Conn& c);
    void close(Conn& c, int d, bool rst);
    void end_connection(Conn& c, Event::Kind kind);
    void forget(Conn& c);
    void cap_pending();
    Event& push(Event::Kind kind, const Conn& c);
    void touch(Conn& c);
    std::vector<std::uint8_t> take_buffer();

    Limits limits_;
    KeyLog* keys_ = nullptr;
    // Both endpoints, the lower one first, and the address family.
    using Key = std::array<std::uint8_t, 37>;
    static std::size_t quick_hash(const Key& k);
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(k.data()), k.size()));
        }
    };
    std::unordered_map<Key, std::unique_ptr<Conn>, KeyHash> index_;
    RecentCache<Conn> recent_;  // in front of index_, by quick_hash
    std::vector<Key> dead_;  // keys of connections to erase
    std::deque<Event> events_;
    std::vector<std::vector<std::uint8_t>> pool_;
    std::uint64_t clock_ = 0;
    std::uint32_t shown_ = 0;
    std::size_t held_total_ = 0;
    std::size_t pending_total_ = 0;
    std::size_t undecided_total_ = 0;  // payload bytes kept by undecided connections
    std::uint64_t undecided_ = 0;
    std::vector<bool> ports_;          // by port number: a DRDA server port
    std::int64_t next_expiry_ = 0;  // packet time of the next look for idle connections
};

}  // namespace drda::capture
