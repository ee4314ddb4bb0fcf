// SPDX-License-Identifier: Apache-2.0
#include "capture/connection_tracker.h"

#include <algorithm>
#include <cstring>

namespace drda::capture {
namespace {

constexpr std::size_t kFirstRecordCapacity = 512;
constexpr std::size_t kPoolBuffers = 2;
// Bytes at the start of a direction that tell whether it carries DRDA.
constexpr std::size_t kHeadBytes = 6;
// Packets an undecided connection keeps, beside Limits::max_undecided bytes.
constexpr std::size_t kMaxUndecidedPackets = 1024;
// For decide(): the first bytes are a TLS ClientHello whose keys are known.
constexpr int kTlsHello = 0x16;

// The DSS type when `p` begins with a DSS header (0xD0 in byte 2, a known
// type, a length that can hold the header), else 0.
int dss_type(ByteView p) {
    if (p.size() < 6 || p.u8(2) != 0xD0) return 0;
    const int type = p.u8(3) & 0x0F;
    if (type < 1 || type > 5 || (p.be16(0) & 0x7FFF) < 6) return 0;
    return type;
}

std::int32_t diff(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b); }

}  // namespace

struct ConnectionTracker::Dir {
    struct Held {
        std::uint32_t seq = 0;
        std::vector<std::uint8_t> bytes;
        std::uint32_t missing = 0;
        Time time;
    };
    bool known = false;  // next is set
    std::uint32_t next = 0;
    bool fin = false;
    std::uint32_t fin_seq = 0;
    bool ended = false;
    std::vector<std::uint8_t> rec;  // the pending record: role byte, bytes
    Time rec_time;
    std::vector<Held> held;  // sorted by sequence number, never overlapping
    std::size_t held_bytes = 0;
};

// The packets of a connection not yet known to carry DRDA, and the first
// bytes of each direction as far as they have come.
struct Undecided {
    struct Kept {
        int from = 0;
        std::uint32_t seq = 0, ack = 0, missing = 0;
        std::uint8_t flags = 0;
        std::size_t off = 0, len = 0;  // the payload in `bytes`
        Time time;
    };
    std::vector<Kept> kept;
    std::vector<std::uint8_t> bytes;
    bool known[2] = {false, false};  // start[] is set, by the same rules as Dir::next
    std::uint32_t start[2] = {0, 0};
    std::uint8_t head[2][kHeadBytes] = {};
    unsigned filled[2] = {0, 0};  // a bit per byte of head
    bool lost[2] = {false, false};  // the capture lacks some of head
};

struct ConnectionTracker::Conn {
    enum State { undecided, shown, ignored, dead } state = undecided;
    std::array<std::uint8_t, 37> key{};
    Endpoint ep[2];
    std::string name[2];
    std::uint32_t number = 0;
    int client = 0;       // index of the client's endpoint
    int syn_client = -1;  // the client by the SYN or SYN-ACK seen
    bool syn = false;
    bool opened = false;      // a SYN without ACK was seen: open_seq from open_from
    int open_from = 0;
    std::uint32_t open_seq = 0;
    std::unique_ptr<Undecided> early;  // while undecided on a port not known for DRDA
    std::uint64_t stamp = 0;
    bool timed = false;         // a packet with a valid time was seen
    std::int64_t last_sec = 0;  // packet time of its last such packet
    Dir dir[2];  // by the sending endpoint
    bool looked = false;               // its first bytes were looked at for TLS
    std::unique_ptr<TlsSession> tls;   // a TLS connection
    Side side(int d) const { return d == client ? kClient : kServer; }
};

// What the TLS layer of a connection hands on: application data as the
// bytes of the run, notes as events.
struct ConnectionTracker::TlsOut final : TlsReceiver {
    ConnectionTracker& t;
    Conn& c;
    TlsOut(ConnectionTracker& tracker, Conn& conn) : t(tracker), c(conn) {}
    void plaintext(int side, ByteView data, const TlsTime& time) override {
        t.append(c, side == 0 ? c.client : 1 - c.client, data, Time{time.sec, time.nsec, time.valid});
    }
    void note(TlsNote&& n) override {
        t.emit_pending(c);
        Event& e = t.push(Event::tls, c);
        e.side = n.side == 0 ? kClient : kServer;
        e.tls_kind = n.kind;
        e.text = std::move(n.text);
    }
};

ConnectionTracker::ConnectionTracker(const Limits& limits) : limits_(limits), ports_(65536, false) {
    for (const int p : {446, 1527, 50000, 448, 50001}) ports_[static_cast<std::size_t>(p)] = true;
    for (std::uint16_t p : limits_.ports) ports_[p] = true;
}

bool ConnectionTracker::drda_port(std::uint16_t port) const { return ports_[port]; }

bool ConnectionTracker::named(const Conn& c) const { return drda_port(c.ep[0].port) || drda_port(c.ep[1].port); }
ConnectionTracker::~ConnectionTracker() = default;

Event ConnectionTracker::pop() {
    Event e = std::move(events_.front());
    events_.pop_front();
    return e;
}

void ConnectionTracker::recycle(std::vector<std::uint8_t>&& buffer) {
    if (pool_.size() < kPoolBuffers && buffer.capacity() <= limits_.max_record_data + 1) {
        buffer.clear();
        pool_.push_back(std::move(buffer));
    }
}

std::vector<std::uint8_t> ConnectionTracker::take_buffer() {
    if (!pool_.empty()) {
        std::vector<std::uint8_t> b = std::move(pool_.back());
        pool_.pop_back();
        return b;
    }
    std::vector<std::uint8_t> b;
    b.reserve(std::min(kFirstRecordCapacity, limits_.max_record_data + 1));
    return b;
}

Event& ConnectionTracker::push(Event::Kind kind, const Conn& c) {
    Event& e = events_.emplace_back();
    e.kind = kind;
    e.connection = c.number;
    e.client = c.name[c.client];
    e.server = c.name[1 - c.client];
    return e;
}

void ConnectionTracker::touch(Conn& c) { c.stamp = ++clock_; }

// --- connections ----------------------------------------------------------------

ConnectionTracker::Conn* ConnectionTracker::find_or_make(const Segment& seg, int& from) {
    const bool src_first = std::memcmp(seg.src.addr, seg.dst.addr, 16) < 0 ||
                           (seg.src == seg.dst) ||
                           (std::memcmp(seg.src.addr, seg.dst.addr, 16) == 0 && seg.src.port < seg.dst.port);
    const Endpoint& a = src_first ? seg.src : seg.dst;
    const Endpoint& b = src_first ? seg.dst : seg.src;
    from = src_first ? 0 : 1;
    Key key{};
    key[0] = a.v6 ? 6 : 4;
    std::memcpy(&key[1], a.addr, 16);
    std::memcpy(&key[17], b.addr, 16);
    key[33] = static_cast<std::uint8_t>(a.port >> 8);
    key[34] = static_cast<std::uint8_t>(a.port);
    key[35] = static_cast<std::uint8_t>(b.port >> 8);
    key[36] = static_cast<std::uint8_t>(b.port);
    const std::size_t quick = quick_hash(key);
    Conn* found = recent_.get(quick);
    if (!found || found->key != key) {
        const auto it = index_.find(key);
        found = it != index_.end() ? it->second.get() : nullptr;
        if (found) recent_.put(quick, found);
    }
    if (found) {
        Conn& old = *found;
        // A SYN without ACK begins a new connection on these ports, unless
        // it is the one that opened this connection, sent again.
        if ((seg.flags & (kTcpSyn | kTcpAck)) != kTcpSyn || (old.opened && old.open_from == from && old.open_seq == seg.seq))
            return &old;
        if (old.state == Conn::shown) end_connection(old, Event::replaced);
        else forget(old);
        bury();
    }
    // Only a SYN or data begins a connection: the last ACKs of one that
    // ended are not one.
    if (!(seg.flags & kTcpSyn) && seg.payload.empty() && seg.missing == 0) return nullptr;
    if (index_.size() >= limits_.max_connections) evict();
    auto c = std::make_unique<Conn>();
    c->key = key;
    c->ep[0] = a;
    c->ep[1] = b;
    for (int i = 0; i < 2; ++i) {
        char text[64];
        c->name[i].assign(text, format_endpoint(c->ep[i], text));
    }
    Conn* p = c.get();
    index_.emplace(key, std::move(c));
    recent_.put(quick, p);
    return p;
}

void ConnectionTracker::evict() {
    Conn* victim = nullptr;
    for (int pass = 0; pass < 2 && !victim; ++pass) {
        for (auto& [k, c] : index_) {
            if ((pass == 0) == (c->state == Conn::shown) || c->state == Conn::dead) continue;
            if (!victim || c->stamp < victim->stamp) victim = c.get();
        }
    }
    if (!victim) return;
    if (victim->state == Conn::shown) end_connection(*victim, Event::dropped);
    else forget(*victim);
    bury();
}

// Connections without a packet for idle_seconds of packet time end, the
// oldest number first. Looked for once per tenth of that time: a look
// visits every connection.
void ConnectionTracker::expire(std::int64_t now) {
    if (limits_.idle_seconds <= 0 || now < next_expiry_) return;
    next_expiry_ = now + std::max<std::int64_t>(1, limits_.idle_seconds / 10);
    std::vector<Conn*> idle;
    for (auto& [k, c] : index_) {
        if (c->state == Conn::dead || !c->timed || now - c->last_sec <= limits_.idle_seconds) continue;
        if (c->state == Conn::shown) idle.push_back(c.get());
        else forget(*c);
    }
    std::sort(idle.begin(), idle.end(), [](const Conn* a, const Conn* b) { return a->number < b->number; });
    for (Conn* c : idle) end_connection(*c, Event::idle);
    bury();
}

void ConnectionTracker::forget(Conn& c) {
    if (c.state == Conn::dead) return;
    drop_kept(c);
    for (Dir& x : c.dir) {
        held_total_ -= x.held_bytes;
        x.held_bytes = 0;
        x.held.clear();
        if (!x.rec.empty()) pending_total_ -= x.rec.capacity();
        std::vector<std::uint8_t>().swap(x.rec);
    }
    c.tls.reset();
    c.state = Conn::dead;
    dead_.push_back(c.key);
}

void ConnectionTracker::bury() {
    for (const Key& k : dead_) {
        const auto it = index_.find(k);
        if (it == index_.end()) continue;
        recent_.forget(quick_hash(k), it->second.get());
        index_.erase(it);
    }
    dead_.clear();
}

std::size_t ConnectionTracker::quick_hash(const Key& k) {
    std::uint64_t w[4];
    std::uint32_t ports;
    std::memcpy(w, &k[1], 32);
    std::memcpy(&ports, &k[33], 4);
    std::uint64_t h = ((w[0] ^ w[1]) * 0x9E3779B97F4A7C15ull) ^ ((w[2] ^ w[3]) + ports) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::size_t>(h ^ (h >> 29));
}

void ConnectionTracker::decide(Conn& c, int from, int type) {
    if (!named(c) && !type) {
        c.state = Conn::ignored;
        return;
    }
    c.state = Conn::shown;
    c.number = ++shown_;
    // The client: by the SYN; else the side sending a request DSS (or the
    // other side of one sending a reply DSS); else the side away from the
    // one DRDA server port; else the higher port.
    if (c.syn_client >= 0) {
        c.client = c.syn_client;
    } else if (type == 1 || type == 5 || type == kTlsHello) {
        c.client = from;
    } else if (type == 2) {
        c.client = 1 - from;
    } else if (drda_port(c.ep[0].port) != drda_port(c.ep[1].port)) {
        c.client = drda_port(c.ep[0].port) ? 1 : 0;
    } else if (c.ep[0].port != c.ep[1].port) {
        c.client = c.ep[0].port < c.ep[1].port ? 1 : 0;
    } else {
        c.client = from;
    }
    push(Event::opened, c).syn = c.syn;
}

// A connection on ports not known for DRDA: its packets are kept until the
// first bytes of a direction are there. A DSS header shows it and its kept
// packets are taken in, in order, as if it had been shown from the start.
void ConnectionTracker::keep(Conn& c, int from, const Segment& seg, const Time& t) {
    if (!c.early) c.early = std::make_unique<Undecided>();
    Undecided& u = *c.early;
    const std::size_t n = seg.payload.size();
    if (u.bytes.size() + n > limits_.max_undecided || u.kept.size() >= kMaxUndecidedPackets ||
        undecided_total_ + n > limits_.max_undecided_total) {
        ++undecided_;
        drop_kept(c);
        c.state = Conn::ignored;
        if (seg.flags & (kTcpFin | kTcpRst)) forget(c);
        return;
    }
    Undecided::Kept k;
    k.from = from;
    k.seq = seg.seq;
    k.ack = seg.ack;
    k.missing = seg.missing;
    k.flags = seg.flags;
    k.off = u.bytes.size();
    k.len = n;
    k.time = t;
    u.kept.push_back(k);
    u.bytes.insert(u.bytes.end(), seg.payload.begin(), seg.payload.end());
    undecided_total_ += n;

    // Where each direction starts (as process() will find it), and its
    // first bytes.
    const int to = 1 - from;
    std::uint32_t seq = seg.seq;
    if (seg.flags & kTcpSyn) {
        if (!u.known[from]) u.known[from] = true, u.start[from] = seq + 1;
        ++seq;
    }
    if ((seg.flags & kTcpAck) && !u.known[to]) u.known[to] = true, u.start[to] = seg.ack;
    if (n || seg.missing) {
        if (!u.known[from]) u.known[from] = true, u.start[from] = seq;
        const std::int32_t at = diff(seq, u.start[from]);
        for (std::size_t i = 0; i < n; ++i) {
            const std::int64_t o = std::int64_t{at} + static_cast<std::int64_t>(i);
            if (o < 0) continue;
            if (o >= static_cast<std::int64_t>(kHeadBytes)) break;
            if (!(u.filled[from] & (1u << o))) {
                u.head[from][o] = seg.payload.u8(i);
                u.filled[from] |= 1u << o;
            }
        }
        const std::int64_t cut = std::int64_t{at} + static_cast<std::int64_t>(n);
        if (seg.missing && cut < static_cast<std::int64_t>(kHeadBytes) && cut + seg.missing > 0) u.lost[from] = true;
    }
    constexpr unsigned kAll = (1u << kHeadBytes) - 1;
    // A TLS ClientHello whose keys the key log holds: on any port.
    ClientRandom random;
    if (n && keys_ && client_hello_random(seg.payload, random) && keys_->find(random)) decide(c, from, kTlsHello);
    for (const int d : {from, to}) {
        if (c.state != Conn::undecided) break;
        if (u.filled[d] != kAll && !u.lost[d]) continue;
        const int type = u.filled[d] == kAll ? dss_type(ByteView(u.head[d], kHeadBytes)) : 0;
        decide(c, d, type);
        break;
    }
    if (c.state == Conn::shown) {
        const std::unique_ptr<Undecided> all = std::move(c.early);
        undecided_total_ -= all->bytes.size();
        for (const Undecided::Kept& x : all->kept) {
            if (c.state != Conn::shown) break;
            Segment s;
            s.seq = x.seq;
            s.ack = x.ack;
            s.flags = x.flags;
            s.missing = x.missing;
            s.payload = ByteView(all->bytes.data() + x.off, x.len);
            process(c, x.from, s, x.time);
        }
        return;
    }
    if (c.state == Conn::ignored) drop_kept(c);
    if (seg.flags & (kTcpFin | kTcpRst)) forget(c);
}

void ConnectionTracker::drop_kept(Conn& c) {
    if (!c.early) return;
    undecided_total_ -= c.early->bytes.size();
    c.early.reset();
}

void ConnectionTracker::segment(const Segment& seg, const Time& t) {
    if (t.valid) expire(t.sec);
    int from = 0;
    Conn* cp = find_or_make(seg, from);
    if (!cp) return;
    Conn& c = *cp;
    touch(c);
    if (t.valid) c.timed = true, c.last_sec = t.sec;
    const std::uint8_t f = seg.flags;
    if (c.state == Conn::ignored) {
        if (f & (kTcpFin | kTcpRst)) forget(c);
        bury();
        return;
    }
    if (f & kTcpSyn) {
        c.syn = true;
        c.syn_client = f & kTcpAck ? 1 - from : from;
        if (!(f & kTcpAck) && !c.opened) {
            c.opened = true;
            c.open_from = from;
            c.open_seq = seg.seq;
        }
    }
    if (c.state == Conn::undecided) {
        if (!named(c)) {
            keep(c, from, seg, t);
            bury();
            return;
        }
        const bool has_data = !seg.payload.empty() || seg.missing;
        if (has_data || (f & kTcpSyn)) decide(c, from, dss_type(seg.payload));
        if (c.state != Conn::shown) {
            if (f & (kTcpFin | kTcpRst)) forget(c);
            bury();
            return;
        }
    }
    process(c, from, seg, t);
    bury();
}

// A packet of a shown connection.
void ConnectionTracker::process(Conn& c, int from, const Segment& seg, const Time& t) {
    const std::uint8_t f = seg.flags;
    const int to = 1 - from;
    std::uint32_t seq = seg.seq;
    if (f & kTcpSyn) {
        if (!c.dir[from].known) {
            c.dir[from].known = true;
            c.dir[from].next = seq + 1;
        }
        ++seq;  // data behind a SYN starts after it
    }
    const bool has_data = !seg.payload.empty() || seg.missing;
    if (f & kTcpAck) {
        // The peer's next byte, where none of its bytes were seen yet (a
        // capture started mid-connection): bytes after it that the capture
        // lacks are then a gap too.
        Dir& peer = c.dir[to];
        if (!peer.known) {
            peer.known = true;
            peer.next = seg.ack;
        }
        // Data that acknowledges bytes of the peer never seen: they are
        // lost from the capture. (Pure ACKs are not trusted for this: a
        // capture may show them ahead of the data they acknowledge.)
        if (has_data) gap_by_ack(c, to, seg.ack);
    }
    if (c.state == Conn::shown && has_data) data(c, from, seq, seg.payload, seg.missing, t);
    if (c.state == Conn::shown && (f & kTcpRst)) {
        close(c, from, true);
    } else if (c.state == Conn::shown && (f & kTcpFin)) {
        Dir& x = c.dir[from];
        const std::uint32_t fin_seq = seq + static_cast<std::uint32_t>(seg.payload.size()) + seg.missing;
        if (!x.known) {
            x.known = true;
            x.next = fin_seq;
        }
        if (!x.ended && !x.fin) {
            x.fin = true;
            x.fin_seq = fin_seq;
        }
        drain(c, from);
    }
}

void ConnectionTracker::finish() {
    std::vector<Conn*> open;
    for (auto& [k, c] : index_) {
        if (c->state == Conn::shown) open.push_back(c.get());
        else forget(*c);
    }
    std::sort(open.begin(), open.end(), [](const Conn* a, const Conn* b) { return a->number < b->number; });
    for (Conn* c : open) end_connection(*c, Event::still_open);
    bury();
}

void ConnectionTracker::end_runs() {
    std::vector<Conn*> waiting;
    for (auto& [k, c] : index_)
        if (c->state == Conn::shown && (!c->dir[0].rec.empty() || !c->dir[1].rec.empty())) waiting.push_back(c.get());
    std::sort(waiting.begin(), waiting.end(), [](const Conn* a, const Conn* b) { return a->number < b->number; });
    for (Conn* c : waiting) emit_pending(*c);
}

void ConnectionTracker::end_connection(Conn& c, Event::Kind kind) {
    for (int d = 0; d < 2; ++d) resolve_held(c, d);
    for (int d = 0; d < 2 && c.state == Conn::shown; ++d) {
        Dir& x = c.dir[d];
        if (x.fin && !x.ended) {
            gap_to(c, d, x.fin_seq);
            close(c, d, false);
        }
    }
    if (c.state != Conn::shown) return;
    tls_end(c);
    emit_pending(c);
    push(kind, c).done = true;
    forget(c);
}

// --- reassembly -----------------------------------------------------------------

void ConnectionTracker::data(Conn& c, int d, std::uint32_t seq, ByteView bytes, std::uint32_t missing,
                             const Time& t) {
    Dir& x = c.dir[d];
    if (x.ended || c.state != Conn::shown) return;
    if (!x.known) {
        x.known = true;
        x.next = seq;
    }
    if (diff(seq, x.next) > 0) {
        hold(c, d, seq, bytes, missing, t);
        return;
    }
    std::uint64_t skip = x.next - seq;  // bytes seen before: they win
    if (skip >= bytes.size() + std::uint64_t{missing}) return;
    if (skip < bytes.size()) {
        deliver(c, d, bytes.sub(static_cast<std::size_t>(skip)), t);
        skip = 0;
    } else {
        skip -= bytes.size();
    }
    if (missing > skip) {
        std::uint32_t target = x.next + static_cast<std::uint32_t>(missing - skip);
        if (!x.held.empty() && diff(x.held[0].seq, target) < 0) target = x.held[0].seq;
        gap_to(c, d, target);
    }
    drain(c, d);
}

void ConnectionTracker::hold(Conn& c, int d, std::uint32_t seq, ByteView bytes, std::uint32_t missing,
                             const Time& t) {
    Dir& x = c.dir[d];
    const std::size_t n = bytes.size();
    if (n == 0) return;  // only missing bytes: the gap shows when later bytes arrive
    for (;;) {
        if (x.ended || c.state != Conn::shown) return;
        if (diff(seq, x.next) <= 0) {
            data(c, d, seq, bytes, missing, t);
            return;
        }
        if (x.held_bytes + n <= limits_.max_held_direction && held_total_ + n <= limits_.max_held_total) break;
        // No room to wait for the hole: what it lacks is a gap.
        std::uint32_t target = seq;
        if (!x.held.empty() && diff(x.held[0].seq, seq) < 0) target = x.held[0].seq;
        gap_to(c, d, target);
        drain(c, d);
    }
    // Keep only what no held segment covers already (the first bytes win).
    const std::uint32_t base = x.next;
    auto rel = [base](std::uint32_t s) { return static_cast<std::int64_t>(static_cast<std::uint32_t>(s - base)); };
    const std::int64_t a = rel(seq), b = a + static_cast<std::int64_t>(n);
    std::int64_t cur = a;
    std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
    for (const Dir::Held& h : x.held) {
        const std::int64_t ha = rel(h.seq), hb = ha + static_cast<std::int64_t>(h.bytes.size());
        if (hb <= cur) continue;
        if (ha >= b) break;
        if (ha > cur) pieces.emplace_back(cur, ha);
        cur = std::max(cur, hb);
    }
    if (cur < b) pieces.emplace_back(cur, b);
    for (const auto& [pa, pb] : pieces) {
        Dir::Held h;
        h.seq = base + static_cast<std::uint32_t>(pa);
        const ByteView part = bytes.sub(static_cast<std::size_t>(pa - a), static_cast<std::size_t>(pb - pa));
        h.bytes.assign(part.begin(), part.end());
        h.missing = pb == b ? missing : 0;
        h.time = t;
        x.held_bytes += h.bytes.size();
        held_total_ += h.bytes.size();
        auto at = std::upper_bound(x.held.begin(), x.held.end(), pa,
                                   [&](std::int64_t v, const Dir::Held& e) { return v < rel(e.seq); });
        x.held.insert(at, std::move(h));
    }
}

void ConnectionTracker::drain(Conn& c, int d) {
    Dir& x = c.dir[d];
    while (c.state == Conn::shown && !x.ended && !x.held.empty() && diff(x.held[0].seq, x.next) <= 0) {
        Dir::Held h = std::move(x.held.front());
        x.held.erase(x.held.begin());
        x.held_bytes -= h.bytes.size();
        held_total_ -= h.bytes.size();
        std::uint64_t skip = x.next - h.seq;
        if (skip < h.bytes.size()) {
            deliver(c, d, ByteView(h.bytes.data(), h.bytes.size()).sub(static_cast<std::size_t>(skip)), h.time);
            skip = 0;
        } else {
            skip -= h.bytes.size();
        }
        if (h.missing > skip) {
            std::uint32_t target = x.next + static_cast<std::uint32_t>(h.missing - skip);
            if (!x.held.empty() && diff(x.held[0].seq, target) < 0) target = x.held[0].seq;
            gap_to(c, d, target);
        }
    }
    if (c.state == Conn::shown && x.fin && !x.ended && x.held.empty() && diff(x.next, x.fin_seq) >= 0)
        close(c, d, false);
}

void ConnectionTracker::resolve_held(Conn& c, int d) {
    Dir& x = c.dir[d];
    while (c.state == Conn::shown && !x.ended && !x.held.empty()) {
        gap_to(c, d, x.held[0].seq);
        drain(c, d);
    }
}

void ConnectionTracker::gap_by_ack(Conn& c, int d, std::uint32_t ack) {
    Dir& x = c.dir[d];
    while (c.state == Conn::shown && x.known && !x.ended) {
        std::int32_t ahead = diff(ack, x.next);
        if (x.fin) ahead = std::min(ahead, diff(x.fin_seq, x.next));
        if (ahead <= 0 || ahead > (1 << 30)) return;
        std::uint32_t target = x.next + static_cast<std::uint32_t>(ahead);
        if (!x.held.empty() && diff(x.held[0].seq, target) < 0) target = x.held[0].seq;
        gap_to(c, d, target);
        drain(c, d);
    }
}

void ConnectionTracker::gap_to(Conn& c, int d, std::uint32_t seq) {
    const std::int32_t n = diff(seq, c.dir[d].next);
    if (n > 0) gap(c, d, static_cast<std::uint64_t>(n));
}

void ConnectionTracker::gap(Conn& c, int d, std::uint64_t count) {
    emit_pending(c);
    if (c.tls) {
        TlsOut out(*this, c);
        c.tls->gap(c.side(d) == kClient ? 0 : 1, count, out);
    }
    Event& e = push(Event::gap, c);
    e.side = c.side(d);
    e.count = count;
    c.dir[d].next += static_cast<std::uint32_t>(count);
}

void ConnectionTracker::deliver(Conn& c, int d, ByteView bytes, const Time& t) {
    if (!c.looked) {
        // TLS is known by its first bytes: a record header, not a DSS.
        c.looked = true;
        if (!dss_type(bytes) && looks_like_tls_record(bytes)) c.tls = std::make_unique<TlsSession>(keys_);
    }
    if (c.tls) {
        TlsOut out(*this, c);
        c.tls->feed(c.side(d) == kClient ? 0 : 1, bytes, TlsTime{t.sec, t.nsec, t.valid}, out);
        c.dir[d].next += static_cast<std::uint32_t>(bytes.size());
        return;
    }
    append(c, d, bytes, t);
    c.dir[d].next += static_cast<std::uint32_t>(bytes.size());
}

// Adds bytes to the run of direction d (a direction change ends the other's).
void ConnectionTracker::append(Conn& c, int d, ByteView bytes, const Time& t) {
    Dir& x = c.dir[d];
    if (!c.dir[1 - d].rec.empty()) emit(c, 1 - d);
    const std::size_t full = limits_.max_record_data + 1;
    std::size_t off = 0;
    while (off < bytes.size()) {
        if (x.rec.empty()) {
            x.rec = take_buffer();
            x.rec.push_back(1);  // role byte: the requester's trace
            x.rec_time = t;
            pending_total_ += x.rec.capacity();
        }
        const std::size_t take = std::min(full - x.rec.size(), bytes.size() - off);
        if (x.rec.size() + take > x.rec.capacity()) {
            const std::size_t old = x.rec.capacity();
            x.rec.reserve(std::min(full, std::max(2 * old, x.rec.size() + take)));
            pending_total_ += x.rec.capacity() - old;
        }
        x.rec.insert(x.rec.end(), bytes.data() + off, bytes.data() + off + take);
        off += take;
        if (x.rec.size() == full) emit(c, d);
    }
    if (pending_total_ > limits_.max_pending_total) cap_pending();
}

void ConnectionTracker::emit(Conn& c, int d) {
    Dir& x = c.dir[d];
    if (x.rec.empty()) return;
    pending_total_ -= x.rec.capacity();
    Event& e = push(Event::record, c);
    e.side = c.side(d);
    e.time = x.rec_time;
    e.data = std::move(x.rec);
    std::vector<std::uint8_t>().swap(x.rec);
}

void ConnectionTracker::emit_pending(Conn& c) {
    for (int d = 0; d < 2; ++d) emit(c, d);
}

void ConnectionTracker::cap_pending() {
    // Records waiting in many connections at once: the largest end early.
    std::vector<std::pair<std::size_t, std::pair<Conn*, int>>> waiting;
    for (auto& [k, c] : index_) {
        for (int d = 0; d < 2; ++d)
            if (c->state == Conn::shown && !c->dir[d].rec.empty())
                waiting.push_back({c->dir[d].rec.capacity(), {c.get(), d}});
    }
    std::sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& w : waiting) {
        if (pending_total_ <= limits_.max_pending_total / 2) break;
        emit(*w.second.first, w.second.second);
    }
}

void ConnectionTracker::tls_end(Conn& c) {
    if (!c.tls) return;
    TlsOut out(*this, c);
    c.tls->end(out);
}

void ConnectionTracker::close(Conn& c, int d, bool rst) {
    if (c.state != Conn::shown) return;
    if (rst) {
        resolve_held(c, 0);
        resolve_held(c, 1);
        if (c.state != Conn::shown) return;
    }
    if (rst || c.dir[1 - d].ended) tls_end(c);
    emit_pending(c);
    c.dir[d].ended = true;
    Event& e = push(Event::closed, c);
    e.side = c.side(d);
    e.rst = rst;
    if (rst || (c.dir[0].ended && c.dir[1].ended)) {
        e.done = true;
        forget(c);
    }
}

}  // namespace drda::capture
