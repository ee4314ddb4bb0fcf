// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/conversation.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ddm/rows/ccsid_tables.h"
#include "ddm/rows/descriptor.h"
#include "ddm/rows/dss_assembler.h"
#include "ddm/rows/row_engine.h"
#include "ddm/rows/row_text.h"
#include "ddm/rows/typdef.h"
#include "ddm/rows/value_format.h"
#include "common/record.h"

namespace drda::rows {
namespace {

// Code points the row decoder reads.
constexpr std::uint16_t kCpAccrdb = 0x2001;
constexpr std::uint16_t kCpAccrdbrm = 0x2201;
constexpr std::uint16_t kCpExcsatrd = 0x1443;
constexpr std::uint16_t kCpMgrlvlls = 0x1404;
constexpr std::uint16_t kCpSqlam = 0x2407;
constexpr std::uint16_t kCpOpnqry = 0x200C;
constexpr std::uint16_t kCpCntqry = 0x2006;
constexpr std::uint16_t kCpOpnqryrm = 0x2205;
constexpr std::uint16_t kCpEndqryrm = 0x220B;
constexpr std::uint16_t kCpRslsetrm = 0x2219;
constexpr std::uint16_t kCpPkgsnlst = 0x2139;
constexpr std::uint16_t kCpPkgnamcsn = 0x2113;
constexpr std::uint16_t kCpQryinsid = 0x215B;
constexpr std::uint16_t kCpQrydsc = 0x241A;
constexpr std::uint16_t kCpQrydta = 0x241B;
constexpr std::uint16_t kCpSqldta = 0x2412;
constexpr std::uint16_t kCpSqldtard = 0x2413;
constexpr std::uint16_t kCpFdodsc = 0x0010;
constexpr std::uint16_t kCpFdodta = 0x147A;
constexpr std::uint16_t kCpExtdta = 0x146C;
constexpr std::uint16_t kCpOutovr = 0x2415;
constexpr std::uint16_t kCpSqlstt = 0x2414;
constexpr std::uint16_t kCpTypdefnam = 0x002F;
constexpr std::uint16_t kCpTypdefovr = 0x0035;
constexpr std::uint16_t kCpPrdid = 0x112E;

// Bounds of the state kept across buffers.
constexpr std::size_t kMaxRequests = 64;
constexpr std::size_t kMaxQueries = 64;
constexpr std::size_t kMaxStatements = 256;
constexpr std::size_t kMaxKey = 512;
constexpr std::size_t kStatementBytes = 256;
constexpr std::size_t kStatementChars = 60;
constexpr std::size_t kMaxResultSets = 32;

enum Side : int { kRequester = 0, kServer = 1 };

// A PKGNAMCSN as it stands (its first 512 bytes).
struct Key {
    std::uint16_t len = 0;
    std::array<std::uint8_t, kMaxKey> bytes{};

    void set(ByteView v) {
        len = static_cast<std::uint16_t>(v.size() < kMaxKey ? v.size() : kMaxKey);
        if (len) std::memcpy(bytes.data(), v.data(), len);
    }
    bool operator==(const Key& o) const { return len == o.len && std::memcmp(bytes.data(), o.bytes.data(), len) == 0; }
};

using Insid = std::array<std::uint8_t, 8>;

// The first bytes of a statement's text, with the CCSID to read them in.
struct Statement {
    std::uint16_t len = 0;
    std::size_t total = 0;
    std::uint32_t ccsid = 0;
    std::array<std::uint8_t, kStatementBytes> bytes{};
};

struct Section {
    Key pkg;
    Statement text;
    std::uint64_t stamp = 0;
};

// One request (by correlator) and the context of its reply chain.
struct Request {
    bool used = false;
    std::uint16_t corr = 0;
    std::uint64_t stamp = 0;
    std::uint16_t cp = 0;  // the command; 0 when only a reply was seen
    bool has_pkg = false;
    Key pkg;
    Insid insid{};
    bool has_typdef = false;  // TYPDEF objects of the request chain
    Typdef typdef;
    bool has_outovr = false;  // the OUTOVR of an OPNQRY, for the query it opens
    Descriptor outovr;
    std::string outovr_error;
    bool has_text = false;    // an SQLSTT of the request chain
    Statement text;
    // Reply chain.
    int query = -1;
    std::uint64_t query_gen = 0;
    bool has_reply_typdef = false;
    Typdef reply_typdef;
};

struct Query {
    bool used = false;
    std::uint64_t stamp = 0;
    std::uint64_t gen = 0;
    std::uint64_t number = 0;
    Key pkg;
    Insid insid{};
    Typdef typdef;       // the representation of the rows being read
    Typdef desc_typdef;  // the one that came with the latest descriptor
    DescriptorBuilder builder;
    bool have_desc = false;
    Descriptor base;
    bool has_ovr = false;
    Descriptor ovr;
    Descriptor current;  // what the row cursor reads
    bool dirty = false;  // base or ovr changed since current was made
    std::string pending_failure;  // an OUTOVR fault, effective at the next row boundary
    std::string failure;          // why its rows are no longer decoded
    bool started = false;
    RowEngine engine;
};

struct PendingLob {
    std::uint64_t row;
    std::uint32_t column;
    std::uint8_t drda;
    bool nullable;
    std::uint32_t ccsid;
};

// An object of a DSS or collection.
struct Obj {
    ByteView whole;
    ByteView value;
    std::uint16_t cp = 0;
};

// The object at `off` of `area`; false when no whole object can be read.
bool object_at(ByteView area, std::size_t off, Obj& o) {
    if (!area.has(off, 4)) return false;
    const std::size_t rest = area.size() - off;
    const std::uint16_t ll = area.be16(off);
    std::size_t hs = 4;
    std::size_t len;
    if (ll & 0x8000u) {
        hs = ll & 0x7FFFu;
        if (hs == 4) {
            len = rest;  // streamed to the end of the enclosing area
        } else if (hs > 4 && hs <= 12 && rest >= hs) {
            std::uint64_t ext = 0;
            for (std::size_t i = 4; i < hs; ++i) ext = (ext << 8) | area.u8(off + i);
            if (ext > rest - hs) return false;
            len = hs + static_cast<std::size_t>(ext);
        } else {
            return false;
        }
    } else {
        if (ll < 4) return false;
        len = ll;
    }
    if (len > rest) return false;
    o.whole = area.sub(off, len);
    o.value = area.sub(off + hs, len - hs);
    o.cp = area.be16(off + 2);
    return true;
}

template <class F>
void for_each_member(ByteView v, F f) {
    Obj m;
    for (std::size_t off = 0; object_at(v, off, m); off += m.whole.size()) f(m);
}

}  // namespace

// ---------------------------------------------------------------------------

struct Conversation::State {
    // Where lines of one object go.
    struct DssCtx {
        int type = 0;
        std::uint16_t corr = 0;
        std::size_t byte = 0;  // offset of its first byte in its buffer
        enum Origin { kPlain, kCut, kContinued } origin = kPlain;
        std::uint64_t record = 0;  // kCut: the record it began in
        bool lazy = false;         // its objects lie in the buffer the -f walk prints
        bool heading_done = false;
    };
    struct Out {
        TextWriter* w = nullptr;
        std::string heading;
        bool pending = false;
        bool* shared_done = nullptr;
        void line(int depth) {
            if (pending) {
                w->spaces(4);
                w->put(heading);
                w->put('\n');
                pending = false;
                if (shared_done) *shared_done = true;
            }
            w->spaces(depth);
        }
    };
    struct Hook {
        enum Kind { kNone, kObject, kContinued } kind = kNone;
        std::size_t offset = 0;  // in the buffer
        std::size_t size = 0;
        std::uint16_t cp = 0;
        int depth = 0;
    };

    // Conversation state.
    Typdef req_typdef, srv_typdef;
    int sqlam = 7;
    bool derby_status_byte = false;  // the requester appends a status byte to EXTDTA
    std::vector<Request> requests = std::vector<Request>(kMaxRequests);
    std::vector<Query> queries;
    std::vector<Section> sections;
    struct {
        std::uint16_t corr = 0;
        std::size_t count = 0, next = 0;
        bool active = false;
        std::vector<Key> keys;
    } rslset;
    std::vector<PendingLob> lobs[2];
    std::size_t lob_next[2] = {0, 0};
    std::uint64_t clock = 0;
    std::uint64_t query_count = 0;
    std::uint64_t gen = 0;
    DescriptorBuilder fdo_builder;
    Descriptor fdo_desc;
    RowEngine fdo_engine;
    DssAssembler cut[2];
    bool dropped_reported[2] = {false, false};

    // The buffer being decoded.
    TextWriter* out = nullptr;
    ByteView buf;
    Side side = kRequester;
    std::uint64_t record = 0;
    std::size_t next = 0;
    bool walk_done = true;
    bool in_dss = false;
    DssCtx dss;
    ByteView body;
    std::size_t body_off = 0;
    Hook hook;

    // --- walk ---------------------------------------------------------------
    std::size_t offset_of(const std::uint8_t* p) const {
        return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(buf.data()));
    }
    bool in_buffer(const std::uint8_t* p) const {
        const auto a = reinterpret_cast<std::uintptr_t>(p);
        const auto b = reinterpret_cast<std::uintptr_t>(buf.data());
        return buf.data() && a >= b && a - b <= buf.size();
    }

    void begin(TextWriter& w, int direction, ByteView rec, ByteView carried);
    void advance(std::size_t limit);
    void process_joined(DssAssembler& a, DssCtx ctx);
    void report_dropped(DssAssembler& a, Side s);
    void handle(const Obj& o, DssCtx& ctx, int depth);

    Out open(DssCtx& ctx, const Obj& anchor, std::string_view name, int& depth);

    // --- context ------------------------------------------------------------
    Request* find_request(std::uint16_t corr);
    Request& request(std::uint16_t corr);
    void new_request(std::uint16_t corr, const Obj& o);
    Query* find_query(const Key& pkg, const Insid& insid);
    Query& alloc_query();
    Query* current_query(std::uint16_t corr);
    const Statement* section_text(const Key& pkg);
    void put_section(const Key& pkg, const Statement& t);
    Statement parse_sqlstt(ByteView v, const Typdef& td) const;

    void on_accrdb(const Obj& o, Typdef& td, bool requester);
    void on_excsatrd(const Obj& o);
    void on_opnqryrm(const Obj& o, DssCtx& ctx, int depth);
    void on_endqryrm(const Obj& o, DssCtx& ctx, int depth);
    void on_rslsetrm(const Obj& o, const DssCtx& ctx);
    void on_qrydsc(const Obj& o, const DssCtx& ctx);
    void on_qrydta(const Obj& o, DssCtx& ctx, int depth);
    void on_fdo(const Obj& o, DssCtx& ctx, int depth, bool reply);
    void on_extdta(const Obj& o, DssCtx& ctx, int depth);
    void on_outovr(const Obj& o, const DssCtx& ctx);
    void on_sqlstt(const Obj& o, const DssCtx& ctx);
    void on_typdef(const Obj& o, const DssCtx& ctx);

    void apply_layout(Query& q);
    void rows_line(Out& o, int d, const char* what, const Query* q, std::size_t columns, const Typdef& td);
    void sql_line(Out& o, int d, const Statement* text);
    void clear_lobs(Side s) {
        lobs[s].clear();
        lob_next[s] = 0;
    }
};

// --- the row printer ---------------------------------------------------------

namespace {

// Writes the events of the row cursor as lines of a group; for a query, it
// also applies layout changes at row boundaries.
class RowPrinter final : public RowEvents {
public:
    using State = Conversation::State;
    RowPrinter(State& s, State::Out& out, int depth, const Typdef& td, RowEngine& engine, Query* q, Side side)
        : s_(s), out_(out), d_(depth), td_(td), engine_(engine), q_(q), side_(side) {}

    bool boundary(RowEngine&) override {
        if (!q_) return true;
        if (!q_->pending_failure.empty()) {
            q_->failure = "OUTOVR: " + q_->pending_failure;
            q_->pending_failure.clear();
        }
        if (q_->failure.empty() && q_->dirty) s_.apply_layout(*q_);
        if (!q_->failure.empty()) {
            out_.line(d_);
            out_.w->put("ROWS: not decoded: ");
            out_.w->put(q_->failure);
            out_.w->put('\n');
            return false;
        }
        return true;
    }

    void row_begin(std::uint64_t row, const Sqlca* ca, bool no_data) override {
        out_.line(d_);
        write_row_line(*out_.w, row, ca, no_data, td_);
    }

    void column(std::uint64_t row, const Column& c, const ColumnValue& v) override {
        out_.line(d_ + 2);
        const Descriptor* d = engine_.descriptor();
        if (!write_column_line(*out_.w, d_ + 2, c, v, td_, d)) return;
        std::vector<PendingLob>& q = s_.lobs[side_];
        if (q.size() < kMaxColumns)
            q.push_back(PendingLob{row, static_cast<std::uint32_t>(v.number), c.drda, c.nullable(),
                                   column_ccsid(c, td_, d)});
    }

    void stop(std::uint64_t row, std::string_view reason, std::size_t at) override {
        TextWriter& w = *out_.w;
        out_.line(d_);
        w.put("ROW ");
        put_num(w, row);
        w.put(": not decoded: ");
        w.put(reason);
        w.put(" (at byte ");
        put_num(w, at);
        w.put(" of this object)\n");
    }

private:
    State& s_;
    State::Out& out_;
    int d_;
    const Typdef& td_;
    RowEngine& engine_;
    Query* q_;
    Side side_;
};

}  // namespace

// --- walk ------------------------------------------------------------------

void Conversation::State::begin(TextWriter& w, int direction, ByteView rec, ByteView carried) {
    ++record;
    out = &w;
    const std::uint8_t role = rec.u8(0);
    const bool sent = direction == kDirectionSend;
    side = (sent && role == 1) || (!sent && role != 1) ? kRequester : kServer;
    buf = rec.sub(1);
    next = 0;
    walk_done = false;
    in_dss = false;
    hook = Hook();

    DssAssembler& a = cut[side];
    if (!a.active()) return;
    const ByteView held = a.header();
    if (held.size() < 6 && held.size() == carried.size() &&
        (held.empty() || std::memcmp(held.data(), carried.data(), held.size()) == 0)) {
        // Only the header was cut off, and the -f decoder completes it from
        // this buffer itself: read the DSS in place when it ends here.
        const std::size_t n = held.size();
        std::uint8_t h[6];
        for (std::size_t i = 0; i < 6; ++i) h[i] = i < n ? held.u8(i) : buf.u8(i - n);
        const ByteView hv(h, 6);
        const std::uint16_t ll = hv.be16(0);
        if (buf.size() >= 6 - n && hv.u8(2) == 0xD0 && !(ll & 0x8000u) && ll >= 6 && ll - n <= buf.size()) {
            dss = DssCtx();
            dss.type = hv.u8(3) & 0x0F;
            dss.corr = hv.be16(4);
            dss.origin = DssCtx::kCut;
            dss.record = a.record();
            dss.lazy = true;
            body = buf.sub(6 - n, ll - 6u);
            body_off = 0;
            in_dss = true;
            next = ll - n;
            a.reset();
            return;
        }
    }
    next = a.feed(buf);
    DssCtx ctx;
    ctx.origin = DssCtx::kCut;
    ctx.record = a.record();
    if (a.malformed()) {
        walk_done = true;
        a.reset();
    } else if (a.complete()) {
        process_joined(a, ctx);
        a.reset();
    } else if (a.dropped()) {
        report_dropped(a, side);
    }
}

void Conversation::State::report_dropped(DssAssembler& a, Side s) {
    if (dropped_reported[s]) return;
    dropped_reported[s] = true;
    out->spaces(4);
    out->put("ROWS: not decoded: DSS longer than 1 MiB\n");
    // The query whose reply this was can no longer find its row boundaries.
    const ByteView h = a.header();
    if (s == kServer && h.size() >= 6) {
        if (Query* q = current_query(h.be16(4))) q->failure = "DSS longer than 1 MiB";
    }
}

void Conversation::State::process_joined(DssAssembler& a, DssCtx ctx) {
    if (a.dropped()) {
        report_dropped(a, side);
        return;
    }
    const ByteView j = a.joined();
    ctx.type = j.u8(3) & 0x0F;
    ctx.corr = j.be16(4);
    ctx.lazy = false;
    const ByteView payload = j.sub(6);
    Obj o;
    for (std::size_t off = 0; object_at(payload, off, o); off += o.whole.size()) handle(o, ctx, 4);
}

void Conversation::State::advance(std::size_t limit) {
    while (!walk_done) {
        if (in_dss) {
            Obj o;
            if (!object_at(body, body_off, o)) {
                in_dss = false;
                continue;
            }
            if (offset_of(o.whole.data()) > limit) return;
            body_off += o.whole.size();
            handle(o, dss, 4);
            continue;
        }
        if (next >= buf.size()) {
            walk_done = true;
            return;
        }
        if (next > limit) return;
        const ByteView rest = buf.sub(next);
        const std::uint16_t ll = rest.be16(0);
        if (rest.size() >= 6) {
            if (rest.u8(2) != 0xD0) {
                walk_done = true;  // no DSS here: the rest of the buffer is not read
                return;
            }
            if (!(ll & 0x8000u) && ll <= rest.size()) {
                if (ll < 6) {
                    walk_done = true;
                    return;
                }
                dss = DssCtx();
                dss.type = rest.u8(3) & 0x0F;
                dss.corr = rest.be16(4);
                dss.byte = next;
                dss.lazy = true;
                body = rest.sub(6, ll - 6u);
                body_off = 0;
                in_dss = true;
                next += ll;
                continue;
            }
        }
        // A continued DSS, or one that runs past the end of the buffer.
        DssAssembler& a = cut[side];
        a.start(record);
        dropped_reported[side] = false;
        DssCtx ctx;
        ctx.byte = next;
        ctx.origin = (ll & 0x8000u) ? DssCtx::kContinued : DssCtx::kPlain;
        next += a.feed(rest);
        if (a.malformed()) {
            walk_done = true;  // its lengths frame nothing: the rest is not read
            a.reset();
        } else if (a.complete()) {
            process_joined(a, ctx);
            a.reset();
        } else if (a.dropped()) {
            report_dropped(a, side);
        }
    }
}

Conversation::State::Out Conversation::State::open(DssCtx& ctx, const Obj& anchor, std::string_view name,
                                                   int& depth) {
    Out o;
    o.w = out;
    if (ctx.lazy && hook.kind == Hook::kObject && in_buffer(anchor.whole.data()) &&
        offset_of(anchor.whole.data()) == hook.offset && hook.size == anchor.value.size() && hook.cp == anchor.cp) {
        depth = hook.depth;
        return o;
    }
    o.pending = true;
    if (ctx.origin == DssCtx::kCut) {
        o.heading = "ROWS: from the " + std::string(name) + " of the DSS cut at the end of record " +
                    std::to_string(ctx.record);
    } else if (ctx.origin == DssCtx::kContinued && hook.kind == Hook::kContinued && hook.offset == ctx.byte) {
        o.pending = !ctx.heading_done;
        o.shared_done = &ctx.heading_done;
        o.heading = "ROWS: from the continued DSS below";
    } else {
        o.heading = "ROWS: from the " + std::string(name) + " of the DSS at byte " + std::to_string(ctx.byte);
    }
    return o;
}

// --- dispatch ----------------------------------------------------------------

void Conversation::State::handle(const Obj& o, DssCtx& ctx, int depth) {
    if (side == kRequester && (ctx.type == 1 || ctx.type == 5)) new_request(ctx.corr, o);
    switch (o.cp) {
        case kCpAccrdb: on_accrdb(o, req_typdef, true); break;
        case kCpAccrdbrm: on_accrdb(o, srv_typdef, false); break;
        case kCpExcsatrd: on_excsatrd(o); break;
        case kCpOpnqryrm: on_opnqryrm(o, ctx, depth); break;
        case kCpEndqryrm: on_endqryrm(o, ctx, depth); break;
        case kCpRslsetrm: on_rslsetrm(o, ctx); break;
        case kCpQrydsc: on_qrydsc(o, ctx); break;
        case kCpQrydta: on_qrydta(o, ctx, depth); break;
        case kCpSqldta: on_fdo(o, ctx, depth, false); break;
        case kCpSqldtard: on_fdo(o, ctx, depth, true); break;
        case kCpExtdta: on_extdta(o, ctx, depth); break;
        case kCpOutovr: on_outovr(o, ctx); break;
        case kCpSqlstt: on_sqlstt(o, ctx); break;
        case kCpTypdefnam:
        case kCpTypdefovr: on_typdef(o, ctx); break;
        default: break;
    }
}

// --- context -----------------------------------------------------------------

Request* Conversation::State::find_request(std::uint16_t corr) {
    Request* best = nullptr;
    for (Request& r : requests)
        if (r.used && r.corr == corr && (!best || r.stamp > best->stamp)) best = &r;
    return best;
}

namespace {

// The first unused slot of a fixed table, else the least recently used one.
template <class Slots>
auto& reuse_slot(Slots& slots) {
    auto* oldest = &slots[0];
    for (auto& slot : slots) {
        if (!slot.used) return slot;
        if (slot.stamp < oldest->stamp) oldest = &slot;
    }
    return *oldest;
}

}  // namespace

Request& Conversation::State::request(std::uint16_t corr) {
    if (Request* r = find_request(corr)) return *r;
    Request& slot = reuse_slot(requests);
    slot = Request();
    slot.used = true;
    slot.corr = corr;
    slot.stamp = ++clock;
    return slot;
}

void Conversation::State::new_request(std::uint16_t corr, const Obj& o) {
    // A new request ends the reply chain of the last one with this
    // correlator.
    if (Request* old = find_request(corr)) *old = Request();
    if (rslset.corr == corr) rslset.active = false;
    Request& r = request(corr);
    r.cp = o.cp;
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp == kCpPkgnamcsn) {
            r.pkg.set(m.value);
            r.has_pkg = true;
        } else if (m.cp == kCpQryinsid) {
            for (std::size_t i = 0; i < 8; ++i) r.insid[i] = m.value.u8(i);
        }
    });
}

Query* Conversation::State::find_query(const Key& pkg, const Insid& insid) {
    for (Query& q : queries) {
        if (q.used && q.insid == insid && q.pkg == pkg) {
            q.stamp = ++clock;
            return &q;
        }
    }
    return nullptr;
}

Query& Conversation::State::alloc_query() {
    if (queries.empty()) queries.resize(kMaxQueries);
    Query& q = reuse_slot(queries);
    q.used = true;
    q.stamp = ++clock;
    q.gen = ++gen;
    q.builder.reset();
    q.have_desc = false;
    q.base = Descriptor();
    q.has_ovr = false;
    q.ovr = Descriptor();
    q.current = Descriptor();
    q.dirty = false;
    q.pending_failure.clear();
    q.failure.clear();
    q.started = false;
    return q;
}

Query* Conversation::State::current_query(std::uint16_t corr) {
    Request* r = find_request(corr);
    if (!r) return nullptr;
    if (r->query >= 0 && static_cast<std::size_t>(r->query) < queries.size()) {
        Query& q = queries[static_cast<std::size_t>(r->query)];
        if (q.used && q.gen == r->query_gen) return &q;
    }
    if (r->cp == kCpCntqry && r->has_pkg) {
        if (Query* q = find_query(r->pkg, r->insid)) {
            r->query = static_cast<int>(q - queries.data());
            r->query_gen = q->gen;
            return q;
        }
    }
    return nullptr;
}

const Statement* Conversation::State::section_text(const Key& pkg) {
    for (Section& s : sections)
        if (s.pkg == pkg) return &s.text;
    return nullptr;
}

void Conversation::State::put_section(const Key& pkg, const Statement& t) {
    Section* slot = nullptr;
    for (Section& s : sections)
        if (s.pkg == pkg) slot = &s;
    if (!slot && sections.size() < kMaxStatements) slot = &sections.emplace_back();
    if (!slot) {
        slot = &sections[0];
        for (Section& s : sections)
            if (s.stamp < slot->stamp) slot = &s;
    }
    slot->pkg = pkg;
    slot->text = t;
    slot->stamp = ++clock;
}

Statement Conversation::State::parse_sqlstt(ByteView v, const Typdef& td) const {
    // Two nullable character LOBs with 4-byte lengths: mixed, then single-byte.
    Statement t;
    ByteView text = v;
    std::uint32_t ccsid = td.mbc;
    std::size_t off = 0;
    bool found = false;
    for (int i = 0; i < 2 && off < v.size() && !found; ++i) {
        const std::uint8_t ind = v.u8(off++);
        if (ind >= 0x80) continue;
        if (!v.has(off, 4)) break;
        const std::uint32_t len = v.be32(off);
        off += 4;
        if (!v.has(off, len)) break;
        text = v.sub(off, len);
        ccsid = i == 0 ? td.mbc : td.sbc;
        found = true;
    }
    t.total = text.size();
    t.len = static_cast<std::uint16_t>(text.size() < kStatementBytes ? text.size() : kStatementBytes);
    if (t.len) std::memcpy(t.bytes.data(), text.data(), t.len);
    t.ccsid = ccsid;
    return t;
}

// --- handlers ------------------------------------------------------------------

void Conversation::State::on_accrdb(const Obj& o, Typdef& td, bool requester) {
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp == kCpTypdefnam) td.set_name(m.value);
        if (m.cp == kCpTypdefovr) td.set_ccsids(m.value);
        if (m.cp == kCpPrdid && requester) {
            char prdid[16];
            ddm_text(m.value, prdid, sizeof prdid);
            // Derby's client from 10.6 on ends each EXTDTA it sends with a
            // status byte: PRDID "DNCvvrrm".
            derby_status_byte = false;
            if (std::strncmp(prdid, "DNC", 3) == 0 && std::strlen(prdid) >= 7) {
                const int v = (prdid[3] - '0') * 10 + (prdid[4] - '0');
                const int r = (prdid[5] - '0') * 10 + (prdid[6] - '0');
                derby_status_byte = v > 10 || (v == 10 && r >= 6);
            }
        }
    });
}

void Conversation::State::on_excsatrd(const Obj& o) {
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp != kCpMgrlvlls) return;
        for (std::size_t i = 0; i + 4 <= m.value.size(); i += 4)
            if (m.value.be16(i) == kCpSqlam) sqlam = m.value.be16(i + 2);
    });
}

void Conversation::State::on_rslsetrm(const Obj& o, const DssCtx& ctx) {
    rslset.active = true;
    rslset.corr = ctx.corr;
    rslset.count = 0;
    rslset.next = 0;
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp != kCpPkgsnlst) return;
        for_each_member(m.value, [&](const Obj& p) {
            if (p.cp != kCpPkgnamcsn || rslset.count >= kMaxResultSets) return;
            if (rslset.keys.size() <= rslset.count) rslset.keys.resize(rslset.count + 1);
            rslset.keys[rslset.count++].set(p.value);
        });
    });
}

void Conversation::State::on_opnqryrm(const Obj& o, DssCtx& ctx, int depth) {
    Request& r = request(ctx.corr);
    Key pkg = r.pkg;
    if (rslset.active && rslset.corr == ctx.corr && rslset.next < rslset.count) pkg = rslset.keys[rslset.next++];
    Insid insid{};
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp == kCpQryinsid)
            for (std::size_t i = 0; i < 8; ++i) insid[i] = m.value.u8(i);
    });
    Query* old = find_query(pkg, insid);
    if (old && old->started && old->engine.mid_row()) {
        int d = depth + 2;
        Out out_group = open(ctx, o, "OPNQRYRM", d);
        out_group.line(d);
        out->put("ROW ");
        put_num(*out, old->engine.row());
        out->put(": incomplete\n");
    }
    if (old) old->used = false;
    Query& q = alloc_query();
    q.pkg = pkg;
    q.insid = insid;
    q.number = ++query_count;
    q.typdef = q.desc_typdef = r.has_reply_typdef ? r.reply_typdef : srv_typdef;
    if (r.cp == kCpOpnqry && r.has_outovr) {
        q.has_ovr = true;
        q.ovr = r.outovr;
    }
    if (r.cp == kCpOpnqry && !r.outovr_error.empty()) q.pending_failure = r.outovr_error;
    r.query = static_cast<int>(&q - queries.data());
    r.query_gen = q.gen;
}

void Conversation::State::on_endqryrm(const Obj& o, DssCtx& ctx, int depth) {
    Query* q = current_query(ctx.corr);
    if (!q) return;
    if (q->started && q->engine.mid_row()) {
        int d = depth + 2;
        Out g = open(ctx, o, "ENDQRYRM", d);
        g.line(d);
        out->put("ROW ");
        put_num(*out, q->engine.row());
        out->put(": incomplete\n");
    }
    q->used = false;
}

void Conversation::State::apply_layout(Query& q) {
    q.current = q.has_ovr ? apply_override(q.base, q.ovr) : q.base;
    q.typdef = q.desc_typdef;
    q.dirty = false;
    const std::size_t empty = empty_columns(q.current);
    if (empty > kMaxEmptyColumns && q.failure.empty())
        q.failure = "descriptor: " + std::to_string(empty) + " columns take no bytes";
    if (!q.started) {
        q.engine.start(&q.current, q.typdef.little, sqlam);
        q.started = true;
    } else {
        q.engine.set_descriptor(&q.current);
        q.engine.set_little_endian(q.typdef.little);
    }
}

void Conversation::State::on_qrydsc(const Obj& o, const DssCtx& ctx) {
    Query* q = current_query(ctx.corr);
    if (!q) return;
    if (q->builder.failed() || q->builder.complete()) q->builder.reset();
    if (!q->builder.add(o.value) || !q->builder.complete()) return;
    Request* r = find_request(ctx.corr);
    q->desc_typdef = r && r->has_reply_typdef ? r->reply_typdef : srv_typdef;
    q->base = q->builder.take();
    q->have_desc = true;
    q->dirty = true;
    if (!q->started || q->engine.at_boundary()) apply_layout(*q);
}

void Conversation::State::rows_line(Out& o, int d, const char* what, const Query* q, std::size_t columns,
                                    const Typdef& td) {
    TextWriter& w = *out;
    o.line(d);
    w.put("ROWS: ");
    if (q) {
        w.put("query ");
        put_num(w, q->number);
    } else {
        w.put(what);
    }
    w.put(", ");
    put_num(w, columns);
    w.put(" columns, ");
    w.put(td.name);
    w.put(td.little ? " little-endian" : " big-endian");
    if (td.sbc || td.dbc || td.mbc) {
        w.put(", CCSID");
        if (td.sbc) w.put(" SBC "), put_num(w, td.sbc);
        if (td.dbc) w.put(" DBC "), put_num(w, td.dbc);
        if (td.mbc) w.put(" MBC "), put_num(w, td.mbc);
    }
    w.put('\n');
}

void Conversation::State::sql_line(Out& o, int d, const Statement* text) {
    if (!text) return;
    o.line(d);
    out->put("SQL: ");
    WrapWriter ww(*out, d, out->column());
    write_chars(ww, ByteView(text->bytes.data(), text->len), text->total, find_charset(text->ccsid), text->ccsid,
                kStatementChars, false);
    ww.end();
}

void Conversation::State::on_qrydta(const Obj& o, DssCtx& ctx, int depth) {
    int d = depth + 2;
    Out g = open(ctx, o, "QRYDTA", d);
    Query* q = current_query(ctx.corr);
    const auto not_decoded = [&](std::string_view why) {
        g.line(d);
        out->put("ROWS: not decoded: ");
        out->put(why);
        out->put('\n');
    };
    if (!q) return not_decoded("no QRYDSC seen for this query");
    if (!q->failure.empty()) return not_decoded(q->failure);
    if (!q->have_desc) {
        if (q->builder.failed()) return not_decoded("descriptor: " + q->builder.error());
        if (q->builder.started()) return not_decoded("descriptor: no row layout (RLO)");
        return not_decoded("no QRYDSC seen for this query");
    }
    clear_lobs(kServer);
    rows_line(g, d, nullptr, q, q->current.columns.size(), q->typdef);
    sql_line(g, d, section_text(q->pkg));
    RowEngine& e = q->engine;
    if (e.mid_row()) {
        g.line(d);
        out->put("ROW ");
        put_num(*out, e.row());
        out->put(", continued:\n");
    }
    RowPrinter printer(*this, g, d, q->typdef, e, q, kServer);
    e.begin_object();
    e.feed(o.value, printer);
    if (e.stopped()) {
        if (q->failure.empty())
            q->failure = "query " + std::to_string(q->number) + " stopped at ROW " + std::to_string(e.row());
    } else if (e.mid_row()) {
        g.line(d);
        out->put("ROW ");
        put_num(*out, e.row());
        out->put(": continued in the next QRYDTA (column ");
        put_num(*out, e.column_in_progress());
        out->put(")\n");
    }
}

void Conversation::State::on_fdo(const Obj& o, DssCtx& ctx, int depth, bool reply) {
    // SQLDTA (request, input parameters) or SQLDTARD (reply, output
    // parameters or a singleton row): FDODSC, then FDODTA, one row.
    Request& r = request(ctx.corr);
    Typdef td = reply ? (r.has_reply_typdef ? r.reply_typdef : srv_typdef) : (r.has_typdef ? r.typdef : req_typdef);
    const Side s = reply ? kServer : kRequester;
    const char* what = reply ? "SQLDTARD" : "SQLDTA";
    bool have_fdodsc = false;
    fdo_builder.reset();
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp == kCpTypdefnam) td.set_name(m.value);
        if (m.cp == kCpTypdefovr) td.set_ccsids(m.value);
        if (m.cp == kCpFdodsc) {
            have_fdodsc = true;
            fdo_builder.reset();
            fdo_builder.add(m.value);
        }
        if (m.cp != kCpFdodta) return;
        int d = depth + 4;
        Out g = open(ctx, m, what, d);
        const auto not_decoded = [&](std::string_view why) {
            g.line(d);
            out->put("ROWS: not decoded: ");
            out->put(why);
            out->put('\n');
        };
        if (!have_fdodsc) return not_decoded("no FDODSC seen for this FDODTA");
        if (fdo_builder.failed()) return not_decoded("descriptor: " + fdo_builder.error());
        if (!fdo_builder.complete()) return not_decoded("descriptor: no row layout (RLO)");
        fdo_desc = fdo_builder.take();
        clear_lobs(s);
        rows_line(g, d, what, nullptr, fdo_desc.columns.size(), td);
        const Statement* text = r.has_text ? &r.text : (r.has_pkg ? section_text(r.pkg) : nullptr);
        sql_line(g, d, text);
        RowPrinter printer(*this, g, d, td, fdo_engine, nullptr, s);
        fdo_engine.start(&fdo_desc, td.little, sqlam);
        fdo_engine.feed(m.value, printer);
        if (fdo_engine.mid_row()) {
            g.line(d);
            out->put("ROW ");
            put_num(*out, fdo_engine.row());
            out->put(": not decoded: FDODTA ends in column ");
            put_num(*out, fdo_engine.column_in_progress());
            out->put('\n');
        }
        // The next FDODTA of the object, if any, needs its own FDODSC.
        have_fdodsc = false;
    });
}

void Conversation::State::on_extdta(const Obj& o, DssCtx& ctx, int depth) {
    int d = depth + 2;
    Out g = open(ctx, o, "EXTDTA", d);
    std::vector<PendingLob>& q = lobs[side];
    if (lob_next[side] >= q.size()) {
        g.line(d);
        out->put("EXTDTA: no LOB value of an earlier row waits for it\n");
        return;
    }
    const PendingLob lob = q[lob_next[side]++];
    const ByteView v = o.value;
    const bool has_ind = lob.nullable && sqlam >= 7 && !v.empty();
    const std::size_t first = has_ind ? 1 : 0;
    const bool has_status = side == kRequester && derby_status_byte && v.size() > first;
    const ByteView data = v.sub(first, v.size() - first - (has_status ? 1 : 0));
    const TypeRow* type = find_type(lob.drda);
    TextWriter& w = *out;
    g.line(d);
    w.put("EXTDTA: ROW ");
    put_num(w, lob.row);
    w.put(" COL ");
    put_num(w, lob.column);
    w.put(' ');
    if (type) {
        w.put(type->name);
    } else {
        w.put("TYPE ");
        put_hex2(w, lob.drda);
    }
    if (has_ind) {
        w.put(", null indicator ");
        put_hex2(w, v.u8(0));
    }
    w.put(", length ");
    put_num(w, data.size());
    if (has_status) {
        w.put(", status byte ");
        put_hex2(w, v.u8(v.size() - 1));
    }
    w.put('\n');
    g.line(d + 2);
    w.put("VALUE: ");
    WrapWriter ww(w, d + 2, w.column());
    if (has_ind && v.u8(0) >= 0x80) {
        ww.unit("NULL");
    } else if (type && type->cls != CharClass::kNone) {
        write_chars(ww, data, data.size(), find_charset(lob.ccsid), lob.ccsid);
    } else {
        write_binary(ww, data, data.size());
    }
    ww.end();
}

void Conversation::State::on_outovr(const Obj& o, const DssCtx& ctx) {
    Request& r = request(ctx.corr);
    DescriptorBuilder b;
    b.add(o.value);
    const std::string error = b.failed() ? b.error() : std::string();
    if (r.cp == kCpCntqry && r.has_pkg) {
        Query* q = find_query(r.pkg, r.insid);
        if (!q) return;
        if (!error.empty()) {
            q->pending_failure = error;
            return;
        }
        q->ovr = b.take();
        q->has_ovr = true;
        q->dirty = true;
        if (q->have_desc && (!q->started || q->engine.at_boundary())) apply_layout(*q);
        return;
    }
    r.outovr_error = error;
    r.has_outovr = error.empty();
    if (r.has_outovr) r.outovr = b.take();
}

void Conversation::State::on_sqlstt(const Obj& o, const DssCtx& ctx) {
    Request& r = request(ctx.corr);
    r.text = parse_sqlstt(o.value, r.has_typdef ? r.typdef : req_typdef);
    r.has_text = true;
    if (r.has_pkg) put_section(r.pkg, r.text);
}

void Conversation::State::on_typdef(const Obj& o, const DssCtx& ctx) {
    Request& r = request(ctx.corr);
    if (side == kRequester) {
        if (!r.has_typdef) r.typdef = req_typdef;
        r.has_typdef = true;
        if (o.cp == kCpTypdefnam) r.typdef.set_name(o.value);
        if (o.cp == kCpTypdefovr) r.typdef.set_ccsids(o.value);
    } else {
        if (!r.has_reply_typdef) r.reply_typdef = srv_typdef;
        r.has_reply_typdef = true;
        if (o.cp == kCpTypdefnam) r.reply_typdef.set_name(o.value);
        if (o.cp == kCpTypdefovr) r.reply_typdef.set_ccsids(o.value);
    }
}

// --- the observer --------------------------------------------------------------

Conversation::Conversation() : s_(std::make_unique<State>()) {}
Conversation::~Conversation() = default;

void Conversation::buffer_begin(TextWriter& out, int direction, ByteView record, ByteView carried) {
    s_->begin(out, direction, record, carried);
}

void Conversation::continued_dss(TextWriter& out, ByteView dss) {
    State& s = *s_;
    if (!s.in_buffer(dss.data())) return;
    s.out = &out;
    s.hook = State::Hook();
    s.hook.kind = State::Hook::kContinued;
    s.hook.offset = s.offset_of(dss.data());
    s.advance(s.hook.offset);
    s.hook = State::Hook();
}

void Conversation::object_done(TextWriter& out, std::uint16_t cp, ByteView object, ByteView value, int value_depth) {
    switch (cp) {
        case kCpQrydta:
        case kCpFdodta:
        case kCpExtdta:
        case kCpOpnqryrm:
        case kCpEndqryrm: break;
        default: return;
    }
    State& s = *s_;
    if (!s.in_buffer(object.data())) return;
    s.out = &out;
    s.hook = State::Hook();
    s.hook.kind = State::Hook::kObject;
    s.hook.offset = s.offset_of(object.data());
    s.hook.size = value.size();
    s.hook.cp = cp;
    s.hook.depth = value_depth;
    s.advance(s.hook.offset);
    s.hook = State::Hook();
}

void Conversation::buffer_end(TextWriter& out) {
    State& s = *s_;
    s.out = &out;
    s.hook = State::Hook();
    s.advance(SIZE_MAX);
}

void Conversation::bytes_missing(bool server_side) {
    const Side s = server_side ? kServer : kRequester;
    s_->cut[s].reset();
    s_->clear_lobs(s);
    for (Query& q : s_->queries)
        if (server_side && q.used && q.failure.empty()) q.failure = "bytes missing from the capture";
}

}  // namespace drda::rows
