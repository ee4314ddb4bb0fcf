// SPDX-License-Identifier: Apache-2.0
#include "summary/tracker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <unordered_map>
#include <string>
#include <utility>
#include <vector>

#include "common/recent_cache.h"
#include "ddm/code_point_ids.h"
#include "ddm/rows/descriptor.h"
#include "ddm/rows/dss_assembler.h"
#include "ddm/rows/object_walk.h"
#include "ddm/rows/row_engine.h"
#include "ddm/rows/row_engine_feed.h"
#include "ddm/rows/sqlca_reader.h"
#include "ddm/rows/typdef.h"
#include "summary/secmec_table.h"
#include "summary/text_decode.h"

namespace drda::summary {
namespace {

using rows::Obj;
using rows::for_each_member;
using rows::object_at;

constexpr std::size_t kMaxKey = 512;
constexpr std::size_t kMaxResultSets = 32;

enum Side : int { kRequester = 0, kServer = 1 };

// The requester's buffers: sent with role AR (1) or received with role AS.
// A record without bytes (a capture's gap) counts as the requester's view.
Side side_of(const Record& r) {
    const std::uint8_t role = r.data.empty() ? 1 : r.data.u8(0);
    const bool sent = r.direction == kDirectionSend;
    return (sent && role == 1) || (!sent && role != 1) ? kRequester : kServer;
}

// A PKGNAMCSN (its first 512 bytes).
// A PKGNAMCSN (its first 512 bytes) by two 64-bit hashes of its bytes and
// its length: 16 bytes instead of the name itself in every exchange,
// statement text and query, for a chance of two names taken for one far
// below that of a damaged byte.
struct Key {
    std::uint64_t a = 0, b = 0;
    bool operator==(const Key&) const = default;
};
Key key_of(ByteView v) {
    const std::size_t n = v.size() < kMaxKey ? v.size() : kMaxKey;
    std::uint64_t a = 0xcbf29ce484222325ull ^ n, b = 0x9E3779B97F4A7C15ull + n;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = v.u8(i);
        a = (a ^ c) * 0x100000001b3ull;                 // FNV-1a
        b = (b + c + 1) * 0xff51afd7ed558ccdull;        // a multiplicative hash
        b ^= b >> 29;
    }
    return Key{a, b};
}
using Insid = std::array<std::uint8_t, 8>;

struct Text {
    std::uint32_t slot = 0;
    bool used = false;
    std::uint64_t stamp = 0;
    std::uint32_t conn = 0;
    Key pkg;
    std::shared_ptr<const std::string> sql;
    std::size_t total = 0;
};

struct Query {
    std::uint32_t slot = 0;
    bool used = false;
    std::uint64_t stamp = 0;
    std::uint64_t gen = 0;
    std::uint32_t conn = 0;
    Key pkg;
    Insid insid{};
    bool little = false;
    int sqlam = 7;
    rows::DescriptorBuilder builder;
    bool have_desc = false;
    rows::Descriptor base, ovr, current;
    bool has_ovr = false;
    bool dirty = false;
    bool started = false;
    bool failed = false;  // its rows can no longer be counted
    rows::RowEngine engine;
};

// What few exchanges carry: their own data representation, an output
// override, result sets, SQLCA tokens, more reply objects or record spans
// than the exchange holds itself. Kept apart so that an exchange waiting
// for its answer (a batch has hundreds at once) stays small.
struct OpenExtra {
    rows::Typdef req_typdef;
    bool has_req_typdef = false;
    rows::Typdef reply_typdef;
    bool has_reply_typdef = false;
    bool has_outovr = false;
    rows::Descriptor outovr;
    std::vector<Key> rslset;
    std::size_t rslset_next = 0;
    std::vector<std::string> tokens;       // of the SQLCA shown
    std::vector<std::uint16_t> replies;    // reply objects past Open::kReplies
    std::uint64_t replies_more = 0;        // past kMaxReplyNames
    std::vector<RecordSpan> spans;         // record spans past Open::kSpans
};

// An exchange while it waits for its answer or for those before it on its
// connection: its figures, with what it shares held by reference (its
// statement text with the statement's, the user with the connection's);
// the connection's addresses are added when it is handed on. 256 bytes:
// a connection in the middle of a long batch keeps hundreds.
struct alignas(64) Open {
    static constexpr std::size_t kReplies = 6;
    static constexpr std::size_t kSpans = 2;

    // Four cache lines, by when they are read: an exchange comes back to
    // mind long after it was asked, out of the processor's caches by then
    // when many connections are in flight. The first line is what finding
    // the exchange of a reply DSS and adding it reads; the second what
    // its reply objects set; the third its end; the fourth its request.
    std::uint64_t chain = 0;         // the request chain it came in (0: none)
    Open* next_same = nullptr;       // the next open exchange of its correlator
    std::unique_ptr<OpenExtra> extra;
    double first_reply = 0, last_reply = 0;
    // The last reply on the connection before this exchange's first: the
    // server could not start on it before then.
    double bound = 0;
    int reply_record = 0;
    std::uint16_t corr = 0;
    std::uint8_t nspans = 0;         // in spans (more in extra)
    std::uint8_t nreplies = 0;       // in replies (more in extra)
    bool closed : 1 = false;
    bool reply_done : 1 = false;     // a reply DSS of it announced no more of its group
    bool same_corr_next : 1 = false; // its last request DSS announced the same correlator next
    bool has_first : 1 = false;
    bool has_last : 1 = false;
    bool has_bound : 1 = false;
    bool has_time : 1 = false;
    bool has_request : 1 = false;
    bool has_sqlca : 1 = false;
    bool has_updated : 1 = false;
    bool has_rows : 1 = false;
    bool has_server : 1 = false;
    bool has_pkg : 1 = false;
    bool has_sql : 1 = false;
    bool has_svrcod : 1 = false;
    std::uint8_t sqlca_rank = 0;     // 0 none, 1 zero SQLCODE, 2 other, 3 negative
    std::uint8_t statements = 0;     // SQLSTTs of its own request (up to 255 counted)
    std::uint16_t command = 0;
    std::uint16_t svrcod_cp = 0;     // the reply message of the highest SVRCOD

    RecordSpan spans[kSpans];
    std::uint64_t bytes_in = 0;
    std::int32_t sqlcode = 0;
    int sqlca_record = 0;
    std::uint16_t replies[kReplies] = {};
    std::uint16_t svrcod = 0;        // the highest SVRCOD, when has_svrcod
    std::uint8_t sqlstate_size = 0;
    char sqlstate[16] = {};          // as decoded (5 characters, UTF-8), at most 16 bytes

    std::shared_ptr<const std::string> sql;   // shared with the statement's text
    std::shared_ptr<const std::string> user;  // the connection's USRID when it closed
    double time = 0;
    double server_ms = 0;
    std::uint64_t rows = 0;
    std::int32_t updated = 0;        // SQLERRD3
    std::uint32_t sql_total = 0;     // the text's length in the input (held at 2^32 - 1)

    std::uint64_t seq = 0;           // 1, 2, ... in request order
    Key pkg;
    Insid insid{};
    std::uint64_t bytes_out = 0;
    std::uint64_t query_gen = 0;
    int record = 0;
    int query = -1;

    bool replied() const { return reply_record != 0; }
    OpenExtra& more() {
        if (!extra) extra = std::make_unique<OpenExtra>();
        return *extra;
    }
    const rows::Typdef& req_typdef(const rows::Typdef& conn) const {
        return extra && extra->has_req_typdef ? extra->req_typdef : conn;
    }
    const rows::Typdef& reply_typdef(const rows::Typdef& conn) const {
        return extra && extra->has_reply_typdef ? extra->reply_typdef : conn;
    }
    void add_reply(std::uint16_t cp) {
        if (nreplies < kReplies) {
            replies[nreplies++] = cp;
            return;
        }
        OpenExtra& m = more();
        if (kReplies + m.replies.size() < kMaxReplyNames) m.replies.push_back(cp);
        else ++m.replies_more;
    }
};

// A length as an exchange holds it: past 2^32 - 1 it stays there (it only
// tells whether the text kept is all of it).
std::uint32_t held_length(std::uint64_t n) {
    return n < 0xFFFFFFFFu ? static_cast<std::uint32_t>(n) : 0xFFFFFFFFu;
}

// A connection's open exchanges by correlator: for each correlator its
// list in request order, linked through Open::next_same, in a table of
// open addressing. A correlator whose list empties keeps its entry (the
// next chain often uses it again) until the table is half full; then the
// table is made anew with the correlators that have open exchanges.
class CorrTable {
public:
    Open* first(std::uint16_t corr) const {
        const Entry* e = find(corr);
        return e ? e->head : nullptr;
    }
    Open* last(std::uint16_t corr) const {
        const Entry* e = find(corr);
        return e ? e->tail : nullptr;
    }
    void push(std::uint16_t corr, Open* x) {
        x->next_same = nullptr;
        Entry* e = find(corr);
        if (!e) {
            if (2 * (keys_ + 1) > slots_.size()) rebuild();
            e = &insert(corr);
        }
        if (e->tail) e->tail->next_same = x;
        else e->head = x;
        e->tail = x;
    }
    void remove(std::uint16_t corr, Open* x) {
        Entry* e = find(corr);
        if (!e) return;
        Open* prev = nullptr;
        for (Open* o = e->head; o; prev = o, o = o->next_same) {
            if (o != x) continue;
            (prev ? prev->next_same : e->head) = o->next_same;
            if (e->tail == o) e->tail = prev;
            o->next_same = nullptr;
            return;
        }
    }

private:
    struct Entry {
        bool used = false;
        std::uint16_t corr = 0;
        Open* head = nullptr;
        Open* tail = nullptr;
    };
    // Correlators are mostly small and consecutive: the low bits spread them.
    const Entry* find(std::uint16_t corr) const {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = corr & mask;; i = (i + 1) & mask) {
            if (!slots_[i].used) return nullptr;
            if (slots_[i].corr == corr) return &slots_[i];
        }
    }
    Entry* find(std::uint16_t corr) { return const_cast<Entry*>(std::as_const(*this).find(corr)); }
    Entry& insert(std::uint16_t corr) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = corr & mask;
        while (slots_[i].used) i = (i + 1) & mask;
        ++keys_;
        slots_[i].used = true;
        slots_[i].corr = corr;
        return slots_[i];
    }
    void rebuild() {
        std::size_t live = 0;
        for (const Entry& e : slots_)
            if (e.used && e.head) ++live;
        std::size_t size = 8;
        while (size < 4 * (live + 1)) size *= 2;
        std::vector<Entry> old(size);
        old.swap(slots_);
        keys_ = 0;
        for (const Entry& e : old) {
            if (!e.used || !e.head) continue;
            Entry& n = insert(e.corr);
            n.head = e.head;
            n.tail = e.tail;
        }
    }

    std::vector<Entry> slots_;
    std::size_t keys_ = 0;
};

// Where exchanges live: made in blocks of kOpenBlock, one next to the
// other; an exchange handed on is cleared and taken again first. Blocks are
// kept until the tracker ends, so memory stays at the most exchanges that
// waited at once (at most kMaxOpenExchanges plus a block).
inline constexpr std::size_t kOpenBlock = 256;

class OpenPool {
public:
    Open* take() {
        if (free_.empty()) {
            blocks_.push_back(std::make_unique<Open[]>(kOpenBlock));
            Open* block = blocks_.back().get();
            for (std::size_t i = kOpenBlock; i-- > 0;) free_.push_back(block + i);
        }
        Open* x = free_.back();
        free_.pop_back();
        return x;
    }
    void give(Open* x) {
        *x = Open{};
        free_.push_back(x);
    }

private:
    std::vector<std::unique_ptr<Open[]>> blocks_;
    std::vector<Open*> free_;
};

// The exchanges of a connection in request order: taken from the front,
// added at the back, each at a fixed address; nothing is allocated while it
// is empty (thousands of connections wait with none).
class ExchangeQueue {
public:
    bool empty() const { return head_ == items_.size(); }
    std::size_t size() const { return items_.size() - head_; }
    Open& operator[](std::size_t i) { return *items_[head_ + i]; }
    Open& front() { return *items_[head_]; }
    const Open& front() const { return *items_[head_]; }
    Open& emplace_back(OpenPool& pool) {
        items_.push_back(pool.take());
        return *items_.back();
    }
    void pop_front(OpenPool& pool) {
        pool.give(items_[head_++]);
        if (head_ == items_.size()) {
            items_.clear();
            head_ = 0;
        } else if (head_ >= 64 && 2 * head_ >= items_.size()) {
            items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }
    // Hands its exchanges back (the connection is dropped with them).
    void give_all(OpenPool& pool) {
        for (std::size_t i = head_; i < items_.size(); ++i) pool.give(items_[i]);
        items_.clear();
        head_ = 0;
    }

private:
    std::vector<Open*> items_;
    std::size_t head_ = 0;
};

struct Conn {
    std::uint64_t stamp = 0;
    std::uint32_t id = 0;
    bool has_conn = false;
    std::string client, server;
    ConnectionInfo info;
    // Its exchanges in request order, from the oldest not handed on yet:
    // each is handed on once it and all before it are complete.
    ExchangeQueue queue;
    // Its open exchanges by correlator, each list in request order: the
    // exchange a request or reply DSS belongs to is found without a walk
    // through the queue (a batch keeps hundreds open at once).
    CorrTable by_corr;
    bool has_last_reply = false;     // the time of its last reply DSS
    double last_reply = 0;
    rows::Typdef req_typdef, srv_typdef;
    int sqlam = 7;
    rows::DssAssembler cut[2];
    std::uint64_t cut_bytes[2] = {0, 0};
    bool cut_has_time[2] = {false, false};
    double cut_time[2] = {0, 0};
    std::uint64_t chain = 0;         // the current request chain
    // The exchange the last reply DSS went to, its correlator, and whether
    // it announced the same correlator for the next one.
    Open* reply_to = nullptr;
    std::uint16_t reply_corr = 0;
    bool reply_more = false;
    bool chain_open = false;         // the last request DSS was chained
    bool in_fronts = false;          // in State::fronts
    std::shared_ptr<const std::string> user;  // info.user, shared with its exchanges; null when empty
    // The statement text and query slots it took (some since taken by
    // others): given up when it ends.
    std::vector<std::uint32_t> text_slots, query_slots;
};

// Counts the rows of one object through the row cursor and keeps the
// first SQLCA with a non-zero SQLCODE.
class RowCounter final : public rows::RowEvents {
public:
    explicit RowCounter(Query* q) : q_(q) {}
    bool boundary(rows::RowEngine& e) override;
    void row_begin(std::uint64_t, const rows::Sqlca* ca, bool no_data) override {
        if (!no_data) ++rows;
        if (ca && !ca->null && ca->sqlcode != 0 && !has_ca) {
            has_ca = true;
            sqlca.emplace(*ca);
        }
    }
    void column(std::uint64_t, const rows::Column&, const rows::ColumnValue&) override {}
    void stop(std::uint64_t, std::string_view, std::size_t) override { stopped = true; }

    std::uint64_t rows = 0;
    bool has_ca = false;
    std::optional<rows::Sqlca> sqlca;
    bool stopped = false;

private:
    Query* q_;  // the query whose layout may change at a row boundary; null for an FDODTA
};

void apply_layout(Query& q) {
    q.current = q.has_ovr ? rows::apply_override(q.base, q.ovr) : q.base;
    q.dirty = false;
    if (rows::empty_columns(q.current) > rows::kMaxEmptyColumns) q.failed = true;
    if (!q.started) {
        q.engine.start(&q.current, q.little, q.sqlam);
        q.started = true;
    } else {
        q.engine.set_descriptor(&q.current);
    }
}

bool RowCounter::boundary(rows::RowEngine&) {
    if (!q_) return true;
    if (!q_->failed && q_->dirty) apply_layout(*q_);
    return !q_->failed;
}

// Whether the statement of a command changes rows, so that SQLERRD3 is its update
// count: its text begins with INSERT, UPDATE, DELETE or MERGE; without a
// text, any EXCSQLIMM or EXCSQLSTT.
bool changes_rows(std::uint16_t command, const std::string* text) {
    if (command != kCpExcsqlimm && command != kCpExcsqlstt) return false;
    if (!text) return true;
    const std::string& sql = *text;
    std::size_t i = 0;
    while (i < sql.size() && (sql[i] == ' ' || sql[i] == '(' || sql[i] == '\t' || sql[i] == '\n' || sql[i] == '\r')) ++i;
    std::string word;
    while (i < sql.size() && word.size() < 6 && std::isalpha(static_cast<unsigned char>(sql[i])))
        word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++]))));
    return word == "INSERT" || word == "UPDATE" || word == "DELETE" || word == "MERGE";
}

// The message tokens of `ca` as UTF-8 where they decode; at most
// rows::kMaxTokens of them, from the first 1 KiB of the field.
void set_tokens(std::vector<std::string>& tokens, const rows::Sqlca& ca, const rows::Typdef& td) {
    tokens.clear();
    const ByteView msg = ca.message();
    if (msg.empty()) return;
    const std::uint32_t ccsid = ca.message_is_mixed() ? td.mbc : td.sbc;
    rows::Token tok[rows::kMaxTokens];
    bool valid = false;
    std::size_t n = rows::split_tokens(msg, ccsid, tok, rows::kMaxTokens, valid);
    if (n > rows::kMaxTokens) n = rows::kMaxTokens;
    // Decoded, the tokens take at most three times their bytes.
    std::size_t room = 3 * rows::kSqlcaKeep;
    for (std::size_t i = 0; i < n; ++i) {
        std::string& u = tokens.emplace_back();
        append_decoded(u, msg.sub(tok[i].offset, tok[i].length), ccsid, room);
        room -= u.size();
    }
}

// Statement texts or queries: slots made as they are needed, up to `cap`;
// a slot given up is taken again first; when all are in use the one used
// least recently is handed out (the caller forgets what it held).
template <class T>
class Slots {
public:
    explicit Slots(std::size_t cap) : cap_(cap) {}
    T& operator[](std::size_t i) { return *slots_[i]; }
    std::size_t size() const { return slots_.size(); }
    std::size_t index(const T& t) const { return t.slot; }
    T& take() {
        if (!free_.empty()) {
            T& t = *slots_[free_.back()];
            free_.pop_back();
            return t;
        }
        if (slots_.size() < cap_) {
            slots_.push_back(std::make_unique<T>());
            slots_.back()->slot = static_cast<std::uint32_t>(slots_.size() - 1);
            return *slots_.back();
        }
        T* oldest = slots_[0].get();
        for (auto& t : slots_)
            if (t->stamp < oldest->stamp) oldest = t.get();
        return *oldest;
    }
    void give_up(T& t) {
        if (!t.used) return;
        t.used = false;
        free_.push_back(t.slot);
    }

private:
    std::size_t cap_;
    std::vector<std::unique_ptr<T>> slots_;
    std::vector<std::uint32_t> free_;
};

// Notes slot i in a connection's list; past twice the slots it holds the
// list keeps only those it still holds.
template <class Holds>
void keep_slot(std::vector<std::uint32_t>& list, std::uint32_t i, Holds holds) {
    list.push_back(i);
    if (list.size() < 64 || list.size() < 2 * std::max<std::size_t>(kMaxTexts, kMaxQueries)) return;
    std::erase_if(list, [&](std::uint32_t j) { return !holds(j); });
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

}  // namespace

struct ExchangeTracker::State {
    State(ExchangeSink& s, std::size_t limit) : sink(s), max_waiting(limit) {}

    ExchangeSink& sink;
    std::size_t max_waiting;
    Totals totals;
    std::uint64_t clock = 0;
    std::uint64_t seq = 0;
    std::uint64_t gen = 0;
    OpenPool pool;
    std::unordered_map<std::uint32_t, std::unique_ptr<Conn>> conns;
    RecentCache<Conn> recent;        // in front of conns, by number
    Conn* last_conn = nullptr;
    Slots<Text> texts{kMaxTexts};
    // The slot of each text in use, by connection and package section.
    struct TextKey {
        std::uint32_t conn;
        Key pkg;
        bool operator==(const TextKey&) const = default;
    };
    struct TextKeyHash {
        std::size_t operator()(const TextKey& k) const noexcept {
            return static_cast<std::size_t>(k.pkg.a ^ (k.pkg.b << 1) ^ (std::uint64_t{k.conn} * 0x9E3779B97F4A7C15ull));
        }
    };
    std::unordered_map<TextKey, std::size_t, TextKeyHash> text_index;
    Slots<Query> queries{kMaxQueries};
    // The slot of each query in use, by connection, package section and
    // query instance.
    struct QueryKey {
        std::uint32_t conn;
        Key pkg;
        Insid insid;
        bool operator==(const QueryKey&) const = default;
    };
    struct QueryKeyHash {
        std::size_t operator()(const QueryKey& k) const noexcept {
            std::uint64_t h = k.pkg.a ^ (k.pkg.b << 1) ^ (std::uint64_t{k.conn} * 0x9E3779B97F4A7C15ull);
            for (const std::uint8_t b : k.insid) h = (h ^ b) * 0x100000001b3ull;
            return static_cast<std::size_t>(h);
        }
    };
    std::unordered_map<QueryKey, std::uint32_t, QueryKeyHash> query_index;
    void drop_query(Query& q) {
        if (!q.used) return;
        query_index.erase(QueryKey{q.conn, q.pkg, q.insid});
        queries.give_up(q);
    }
    void drop_text(Text& t) {
        if (!t.used) return;
        text_index.erase(TextKey{t.conn, t.pkg});
        t.sql.reset();
        texts.give_up(t);
    }
    std::size_t queued = 0;          // exchanges in all queues
    // Once too many wait, the oldest exchange of all is handed on before
    // its end each time another comes. From then on: the connections with
    // waiting exchanges, as (seq, number) in a heap, smallest seq on top.
    // A connection is in it at most once, under the seq its oldest had when
    // it was put in (fronts only move on, so a stale entry comes out early
    // and is put back under the new front).
    bool at_cap = false;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> fronts;
    void put_front(Conn& c) {
        c.in_fronts = true;
        fronts.emplace_back(c.queue.front().seq, c.id);
        std::push_heap(fronts.begin(), fronts.end(), std::greater<>());
    }

    // The exchange being handed on, made anew each time in the same room.
    Exchange out;

    // The record being read.
    const Record* rec = nullptr;
    Conn* conn = nullptr;
    Side side = kRequester;

    void feed(const Record& r);
    void walk(ByteView buf);
    void joined(rows::DssAssembler& a);
    void dss(ByteView d, std::uint64_t wire, int start_record, bool has_time, double time);
    void request_dss(ByteView d, std::uint64_t wire, int start_record, bool has_time, double time);
    void reply_dss(ByteView d, std::uint64_t wire, int start_record, bool has_time, double time);
    void reply_object(Open& x, const Obj& o, int start_record);
    void unreadable(std::size_t n) {
        if (n == 0) return;
        totals.unreadable_bytes += n;
        ++totals.unreadable_places;
    }

    Conn& connection(const Record& r);
    Conn* lookup(std::uint32_t id);
    void end_connection(Conn& c, ConnEnd how);
    Open* newest(std::uint16_t corr);
    Open* reply_owner(std::uint16_t corr);
    Open* reply_target(std::uint16_t corr);
    Open& add(std::uint16_t corr, int record, bool has_time, double time);
    void note_record(Open& x, int first, int last);
    void close(Conn& c, Open& x);
    void close_through(std::uint64_t chain);
    void drain(Conn& c);
    void emit_front(Conn& c);
    const Exchange& hand_on(const Conn& c, Open& x);
    void force_oldest();
    void request_facts(const Obj& o);
    void reply_facts(const Obj& o);

    const Text* text_of(const Key& pkg);
    void put_text(const Key& pkg, std::shared_ptr<const std::string> sql, std::size_t total);
    Query* query_of(Open& x);
    Query* find_query(const Key& pkg, const Insid& insid);
    void count_rows(Open& x, Query* q, ByteView data, bool fdo, const rows::Descriptor* d, const rows::Typdef& td);
    void take_sqlca(Open& x, const rows::Sqlca& ca, const rows::Typdef& td, int record);
};

// --- records and DSSs ---------------------------------------------------------

Conn* ExchangeTracker::State::lookup(std::uint32_t id) {
    if (last_conn && last_conn->id == id) return last_conn;
    if (Conn* c = recent.get(id); c && c->id == id) return c;
    const auto it = conns.find(id);
    if (it == conns.end()) return nullptr;
    recent.put(id, it->second.get());
    return it->second.get();
}

Conn& ExchangeTracker::State::connection(const Record& r) {
    if (Conn* c = lookup(r.connection)) {
        c->stamp = ++clock;
        last_conn = c;
        return *c;
    }
    if (conns.size() >= kMaxConnections) {
        // The connection idle longest is no longer followed.
        Conn* idle = nullptr;
        for (auto& [id, c] : conns)
            if (!idle || c->stamp < idle->stamp) idle = c.get();
        end_connection(*idle, ConnEnd::dropped);
    }
    std::unique_ptr<Conn>& slot = conns[r.connection];
    slot = std::make_unique<Conn>();
    Conn& c = *slot;
    c.stamp = ++clock;
    c.id = r.connection;
    c.has_conn = r.connection != 0 || !r.client.empty() || !r.server.empty();
    c.client = std::string(r.client.substr(0, 64));
    c.server = std::string(r.server.substr(0, 64));
    c.info.has_conn = c.has_conn;
    c.info.conn = c.id;
    c.info.client = c.client;
    c.info.server = c.server;
    last_conn = &c;
    return c;
}

// Its open exchanges are over and handed on, then what is known of the
// connection.
void ExchangeTracker::State::end_connection(Conn& c, ConnEnd how) {
    for (int d = 0; d < 2; ++d) {
        if (c.cut[d].active()) {
            unreadable(static_cast<std::size_t>(c.cut_bytes[d]));
            c.cut[d].reset();
        }
    }
    for (std::size_t i = 0; i < c.queue.size(); ++i)
        if (!c.queue[i].closed) close(c, c.queue[i]);
    drain(c);
    for (const std::uint32_t i : c.query_slots)
        if (queries[i].conn == c.id) drop_query(queries[i]);
    for (const std::uint32_t i : c.text_slots)
        if (texts[i].conn == c.id) drop_text(texts[i]);
    c.info.how = how;
    sink.connection(c.info);
    if (last_conn == &c) last_conn = nullptr;
    if (conn == &c) conn = nullptr;
    c.queue.give_all(pool);
    recent.forget(c.id, &c);
    conns.erase(c.id);
}

void ExchangeTracker::State::feed(const Record& r) {
    rec = &r;
    conn = &connection(r);
    side = side_of(r);
    if (r.has_time) {
        ConnectionInfo& info = conn->info;
        if (!info.has_start) info.start = r.time, info.has_start = true;
        if (!info.has_end || r.time > info.end) info.end = r.time;
        info.has_end = true;
    }
    walk(r.data.sub(1));
}

void ExchangeTracker::State::walk(ByteView buf) {
    std::size_t pos = 0;
    rows::DssAssembler& a = conn->cut[side];
    if (a.active()) {
        const std::uint64_t held = conn->cut_bytes[side];
        const std::size_t n = a.feed(buf);
        conn->cut_bytes[side] += n;
        if (a.malformed()) {
            // What the last record left over frames no DSS: those bytes are
            // lost, and this record is read on its own.
            unreadable(static_cast<std::size_t>(held));
            a.reset();
        } else if (!a.complete()) {
            return;
        } else {
            pos = n;
            joined(a);
        }
    }
    while (pos < buf.size()) {
        const ByteView rest = buf.sub(pos);
        const std::uint16_t ll = rest.be16(0);
        if (rest.size() >= 6) {
            if (rest.u8(2) != 0xD0 || (!(ll & 0x8000u) && ll < 6)) {
                unreadable(rest.size());
                return;
            }
            if (!(ll & 0x8000u) && ll <= rest.size()) {
                dss(rest.first(ll), ll, rec->number, rec->has_time, rec->time);
                pos += ll;
                continue;
            }
        }
        // Continued in segments, or running past the end of this record.
        a.start(static_cast<std::uint64_t>(rec->number));
        conn->cut_has_time[side] = rec->has_time;
        conn->cut_time[side] = rec->time;
        const std::size_t n = a.feed(rest);
        conn->cut_bytes[side] = n;
        pos += n;
        if (a.malformed()) {
            unreadable(rest.size());
            a.reset();
            return;
        }
        if (a.complete()) joined(a);
    }
}

void ExchangeTracker::State::joined(rows::DssAssembler& a) {
    const int start = static_cast<int>(a.record());
    const std::uint64_t wire = conn->cut_bytes[side];
    if (a.dropped()) {
        // Too long to keep: its objects are not read, its bytes still count.
        std::uint8_t h[6];
        const ByteView held = a.header();
        for (std::size_t i = 0; i < 6; ++i) h[i] = held.u8(i);
        unreadable(static_cast<std::size_t>(wire));
        const ByteView hv(h, 6);
        if (side == kServer) {
            if (Open* x = reply_owner(hv.be16(4))) {
                if (Query* q = query_of(*x)) q->failed = true;
            }
        }
        dss(hv, wire, start, conn->cut_has_time[side], conn->cut_time[side]);
    } else {
        dss(a.joined(), wire, start, conn->cut_has_time[side], conn->cut_time[side]);
    }
    a.reset();
}

void ExchangeTracker::State::dss(ByteView d, std::uint64_t wire, int start_record, bool has_time, double time) {
    if (side == kRequester) {
        request_dss(d, wire, start_record, has_time, time);
    } else {
        reply_dss(d, wire, start_record, has_time, time);
    }
}

// --- exchanges ------------------------------------------------------------------

// The connection's open exchange of `corr` asked last: the one further
// request DSSs of the same command belong to.
Open* ExchangeTracker::State::newest(std::uint16_t corr) {
    return conn->by_corr.last(corr);
}

Open& ExchangeTracker::State::add(std::uint16_t corr, int record, bool has_time,
                                                          double time) {
    if (queued >= max_waiting) {
        ++totals.forced;
        force_oldest();
    }
    Open& x = conn->queue.emplace_back(pool);
    ++queued;
    x.seq = ++seq;
    conn->by_corr.push(corr, &x);
    if (at_cap && !conn->in_fronts) put_front(*conn);
    x.corr = corr;
    x.record = record;
    x.has_time = has_time;
    x.time = time;
    return x;
}

void ExchangeTracker::State::note_record(Open& x, int first, int last) {
    const std::size_t more = x.extra ? x.extra->spans.size() : 0;
    const std::size_t n = x.nspans + more;
    RecordSpan* back = more ? &x.extra->spans.back() : x.nspans ? &x.spans[x.nspans - 1] : nullptr;
    if (back && first <= back->last + 1) {
        if (last > back->last) back->last = last;
        return;
    }
    if (n >= kMaxRecordSpans) {
        back->last = last;
        return;
    }
    if (x.nspans < Open::kSpans) x.spans[x.nspans++] = RecordSpan{first, last};
    else x.more().spans.push_back(RecordSpan{first, last});
}

// The exchange is complete: its server time and the user of its
// connection are known now.
void ExchangeTracker::State::close(Conn& c, Open& x) {
    x.closed = true;
    c.by_corr.remove(x.corr, &x);
    if (x.has_time && x.has_last) {
        const double start = x.has_bound && x.bound > x.time ? x.bound : x.time;
        const double ms = (x.last_reply - start) * 1000.0;
        if (std::isfinite(ms)) {
            x.has_server = true;
            x.server_ms = ms > 0 ? ms : 0;
        }
    }
    x.user = c.user;
}

void ExchangeTracker::State::emit_front(Conn& c) {
    Open& x = c.queue.front();
    if (!x.closed) close(c, x);  // forced out before its end
    if (c.reply_to == &x) c.reply_to = nullptr;
    ++totals.exchanges;
    sink.exchange(hand_on(c, x));
    c.queue.pop_front(pool);
    --queued;
}

// The exchange as the views see it: its figures, its connection's
// addresses, its statement text and user.
const Exchange& ExchangeTracker::State::hand_on(const Conn& c, Open& x) {
    // Every field is set here (in the room `out` had): one added to
    // Exchange must be added here too.
#if defined(__GLIBCXX__) && defined(__x86_64__)
    static_assert(sizeof(Exchange) == 432, "a field added to Exchange is set in hand_on");
#endif
    Exchange& e = out;
    e.seq = x.seq;
    e.has_conn = c.has_conn;
    e.conn = c.id;
    e.client = c.client;
    e.server = c.server;
    e.corr = x.corr;
    e.command = x.command;
    e.has_request = x.has_request;
    e.record = x.record;
    e.reply_record = x.reply_record;
    e.sqlca_record = x.sqlca_record;
    e.has_time = x.has_time;
    e.time = x.time;
    e.has_first = x.has_first;
    e.has_last = x.has_last;
    e.first_reply = x.first_reply;
    e.last_reply = x.last_reply;
    e.has_sql = x.has_sql;
    if (x.sql) e.sql = *x.sql;
    else e.sql.clear();
    e.sql_total = static_cast<std::size_t>(x.sql_total);
    e.replies.assign(x.replies, x.replies + x.nreplies);
    e.records.assign(x.spans, x.spans + x.nspans);
    e.tokens.clear();
    e.replies_more = 0;
    if (x.extra) {
        e.replies.insert(e.replies.end(), x.extra->replies.begin(), x.extra->replies.end());
        e.replies_more = static_cast<std::size_t>(x.extra->replies_more);
        e.records.insert(e.records.end(), x.extra->spans.begin(), x.extra->spans.end());
        e.tokens.swap(x.extra->tokens);
    }
    e.svrcod = x.has_svrcod ? x.svrcod : -1;
    e.svrcod_cp = x.svrcod_cp;
    e.has_sqlca = x.has_sqlca;
    e.sqlcode = x.sqlcode;
    e.sqlstate.assign(x.sqlstate, x.sqlstate_size);
    e.has_updated = x.has_updated;
    e.updated = x.updated;
    e.has_rows = x.has_rows;
    e.rows = x.rows;
    e.bytes_out = x.bytes_out;
    e.bytes_in = x.bytes_in;
    e.chain = x.chain;
    e.has_server = x.has_server;
    e.server_ms = x.server_ms;
    e.has_user = x.user != nullptr;
    if (x.user) e.user = *x.user;
    else e.user.clear();
    e.section = x.has_pkg ? (x.pkg.a ^ (x.pkg.b << 1)) | 1 : 0;
    return e;
}

void ExchangeTracker::State::drain(Conn& c) {
    while (!c.queue.empty() && c.queue.front().closed) emit_front(c);
}

// Too many exchanges wait: the one asked first of all is handed on as it
// stands, and what was waiting behind it on its connection.
void ExchangeTracker::State::force_oldest() {
    if (!at_cap) {
        at_cap = true;
        for (auto& [id, c] : conns)
            if (!c->queue.empty()) put_front(*c);
    }
    while (!fronts.empty()) {
        std::pop_heap(fronts.begin(), fronts.end(), std::greater<>());
        const auto [front_seq, id] = fronts.back();
        fronts.pop_back();
        Conn* c = lookup(id);
        if (!c) continue;  // ended since
        c->in_fronts = false;
        if (c->queue.empty()) continue;
        if (c->queue.front().seq == front_seq) {
            emit_front(*c);
            drain(*c);
            if (!c->queue.empty()) put_front(*c);
            return;
        }
        put_front(*c);  // its oldest was handed on since: under the new one
    }
}

void ExchangeTracker::State::close_through(std::uint64_t chain) {
    for (std::size_t i = 0; i < conn->queue.size(); ++i)
        if (!conn->queue[i].closed && conn->queue[i].chain <= chain) close(*conn, conn->queue[i]);
    drain(*conn);
}

// --- requests ------------------------------------------------------------------

void ExchangeTracker::State::request_dss(ByteView d, std::uint64_t wire, int start_record, bool has_time,
                                         double time) {
    const std::uint8_t fmt = d.u8(3);
    const int type = fmt & 0x0F;
    const bool chained = (fmt & 0x40) != 0;
    const bool same_corr = (fmt & 0x10) != 0;
    const std::uint16_t corr = d.be16(4);
    if (!conn->chain_open) ++conn->chain;
    conn->chain_open = chained;
    const ByteView payload = d.sub(6);

    Open* x = newest(corr);
    const bool command = type == 1 || type == 5;
    if (command && !(x && x->chain == conn->chain && x->same_corr_next)) {
        // A new command. An open exchange of the same correlator stays
        // open: replies are paired first in, first out.
        Open& n = add(corr, start_record, has_time, time);
        n.chain = conn->chain;
        x = &n;
        Obj o;
        if (object_at(payload, 0, o)) {
            x->command = o.cp;
            for_each_member(o.value, [&](const Obj& m) {
                if (m.cp == kCpPkgnamcsn) {
                    x->pkg = key_of(m.value);
                    x->has_pkg = true;
                } else if (m.cp == kCpQryinsid) {
                    for (std::size_t i = 0; i < 8; ++i) x->insid[i] = m.value.u8(i);
                }
            });
            const std::uint16_t cp = o.cp;
            if (x->has_pkg && (cp == kCpExcsqlstt || cp == kCpOpnqry || cp == kCpDscsqlstt || cp == kCpCntqry)) {
                if (const Text* t = text_of(x->pkg)) {
                    x->has_sql = true;
                    x->sql = t->sql;
                    x->sql_total = held_length(t->total);
                }
            }
        }
    } else if (!x) {
        // Objects of a command that is not in the input.
        Open& n = add(corr, start_record, has_time, time);
        n.chain = conn->chain;
        x = &n;
    }
    note_record(*x, start_record, rec->number);
    x->same_corr_next = same_corr;
    x->has_request = true;
    x->bytes_out += wire;
    if (type == 4) return;  // encrypted objects

    Obj o;
    std::size_t off = 0;
    for (; object_at(payload, off, o); off += o.whole.size()) {
        switch (o.cp) {
            case kCpSqlstt: {
                bool single = false;
                const ByteView t = rows::sqlstt_text(o.value, single);
                const rows::Typdef& td = x->req_typdef(conn->req_typdef);
                // Several statements of one command are kept in order,
                // joined by "; ".
                std::string text;
                if (x->statements == 0 || !x->sql) {
                    x->sql_total = 0;
                } else {
                    text = *x->sql;
                    if (text.size() + 2 <= kTextBytes) text += "; ";
                    x->sql_total = held_length(std::uint64_t{x->sql_total} + 2);
                }
                if (x->statements < 255) ++x->statements;
                append_decoded(text, t, single ? td.sbc : td.mbc, kTextBytes);
                x->sql_total = held_length(std::uint64_t{x->sql_total} + t.size());
                x->has_sql = true;
                x->sql = std::make_shared<const std::string>(std::move(text));
                if (x->has_pkg) put_text(x->pkg, x->sql, static_cast<std::size_t>(x->sql_total));
                break;
            }
            case kCpTypdefnam:
            case kCpTypdefovr: {
                OpenExtra& m = x->more();
                if (!m.has_req_typdef) m.req_typdef = conn->req_typdef;
                m.has_req_typdef = true;
                if (o.cp == kCpTypdefnam) m.req_typdef.set_name(o.value);
                else m.req_typdef.set_ccsids(o.value);
                break;
            }
            case kCpOutovr: {
                rows::DescriptorBuilder b;
                b.add(o.value);
                if (x->command == kCpCntqry && x->has_pkg) {
                    // A new layout for the rows still to come of the query.
                    if (Query* q = find_query(x->pkg, x->insid)) {
                        if (b.failed()) {
                            q->failed = true;
                        } else {
                            q->ovr = b.take();
                            q->has_ovr = true;
                            q->dirty = true;
                            if (q->have_desc && (!q->started || q->engine.at_boundary())) apply_layout(*q);
                        }
                    }
                } else if (!b.failed()) {
                    x->more().has_outovr = true;
                    x->more().outovr = b.take();
                }
                break;
            }
            case 0x2001: {  // ACCRDB: the requester's data representation
                for_each_member(o.value, [&](const Obj& m) {
                    if (m.cp == kCpTypdefnam) conn->req_typdef.set_name(m.value);
                    if (m.cp == kCpTypdefovr) conn->req_typdef.set_ccsids(m.value);
                });
                request_facts(o);
                break;
            }
            case kCpExcsat:
            case kCpAccsec:
            case kCpSecchk: request_facts(o); break;
            default: break;
        }
    }
    if (off < payload.size()) unreadable(payload.size() - off);
}

// --- replies -------------------------------------------------------------------

// The exchange a reply DSS that starts a reply group belongs to. The
// server answers request chains in order, and within a chain each command
// under its correlator: so the group belongs to the oldest exchange of its
// correlator in the chain being answered whose own group has not ended
// (first in, first out). A correlator that only a later chain waits for
// means the end of this chain's answer went missing; one that no waiting
// exchange used is taken, in order, by the chain's next exchange after the
// last one answered.
Open* ExchangeTracker::State::reply_target(std::uint16_t corr) {
    // The chain being answered: that of the oldest open exchange of a request.
    std::size_t at = conn->queue.size();
    for (std::size_t i = 0; i < conn->queue.size(); ++i) {
        const Open& o = conn->queue[i];
        if (!o.closed && o.chain != 0) {
            at = i;
            break;
        }
    }
    const std::uint64_t current = at < conn->queue.size() ? conn->queue[at].chain : 0;
    if (Open* head = conn->by_corr.first(corr)) {
        Open* again = nullptr;  // an exchange of this chain whose group ended
        Open* later = nullptr;  // the oldest of a later chain
        for (Open* o = head; o; o = o->next_same) {
            if (o->chain == current && current != 0) {
                if (!o->reply_done) return o;
                if (!again) again = o;
            } else if (o->chain > current && !later) {
                later = o;
            }
        }
        if (later && !later->replied()) {
            // The chains before it got no (further) answer: they are over.
            for (std::size_t i = at; i < conn->queue.size() && conn->queue[i].chain < later->chain; ++i)
                if (!conn->queue[i].closed) close(*conn, conn->queue[i]);
            return later;
        }
        if (again) return again;
    }
    // A correlator no open exchange of the requester used: the chain's next
    // exchange after the last one answered, when there is one.
    Open* next = nullptr;
    for (std::size_t i = at; i < conn->queue.size() && conn->queue[i].chain == current && current != 0; ++i) {
        Open& o = conn->queue[i];
        if (o.replied() || o.closed) next = nullptr;
        else if (!next) next = &o;
    }
    return next;
}

// The exchange a reply DSS of `corr` belongs to: a DSS that the one before
// announced (same correlator next) goes on with that reply group.
Open* ExchangeTracker::State::reply_owner(std::uint16_t corr) {
    if (conn->reply_to && conn->reply_more && conn->reply_corr == corr) return conn->reply_to;
    return reply_target(corr);
}

void ExchangeTracker::State::reply_dss(ByteView d, std::uint64_t wire, int start_record, bool has_time,
                                       double time) {
    const std::uint8_t fmt = d.u8(3);
    const int type = fmt & 0x0F;
    const bool chained = (fmt & 0x40) != 0;
    const bool same_next = chained && (fmt & 0x10) != 0;
    const std::uint16_t corr = d.be16(4);
    Open* x = reply_owner(corr);
    if (!x) {
        // A reply whose request is not in the input.
        x = &add(corr, start_record, false, 0);
        x->chain = 0;
    }
    conn->reply_to = x;
    conn->reply_corr = corr;
    conn->reply_more = same_next;
    if (!same_next) x->reply_done = true;
    if (!x->replied()) {
        x->reply_record = start_record;
        x->has_first = has_time;
        x->first_reply = time;
        x->has_bound = conn->has_last_reply;
        x->bound = conn->last_reply;
    }
    x->has_last = rec->has_time;
    x->last_reply = rec->time;
    if (rec->has_time) {
        conn->has_last_reply = true;
        conn->last_reply = rec->time;
    }
    note_record(*x, start_record, rec->number);
    x->bytes_in += wire;
    if (type != 4 && d.size() > 6) {
        const ByteView payload = d.sub(6);
        Obj o;
        std::size_t off = 0;
        for (; object_at(payload, off, o); off += o.whole.size()) reply_object(*x, o, start_record);
        if (off < payload.size()) unreadable(payload.size() - off);
    }
    if (!chained) {
        // The end of the chain's answer: its exchanges without a reply of
        // their own got none.
        conn->reply_to = nullptr;
        conn->reply_more = false;
        close_through(x->chain);
    }
}

Query* ExchangeTracker::State::find_query(const Key& pkg, const Insid& insid) {
    const auto it = query_index.find(QueryKey{conn->id, pkg, insid});
    if (it == query_index.end()) return nullptr;
    Query& q = queries[it->second];
    q.stamp = ++clock;
    return &q;
}

Query* ExchangeTracker::State::query_of(Open& x) {
    if (x.query >= 0) {
        Query& q = queries[static_cast<std::size_t>(x.query)];
        if (q.used && q.gen == x.query_gen) return &q;
        return nullptr;
    }
    if (x.command == kCpCntqry && x.has_pkg) {
        if (Query* q = find_query(x.pkg, x.insid)) {
            x.query = static_cast<int>(q->slot);
            x.query_gen = q->gen;
            return q;
        }
    }
    return nullptr;
}

const Text* ExchangeTracker::State::text_of(const Key& pkg) {
    const auto it = text_index.find(TextKey{conn->id, pkg});
    if (it == text_index.end()) return nullptr;
    Text& t = texts[it->second];
    t.stamp = ++clock;
    return &t;
}

void ExchangeTracker::State::put_text(const Key& pkg, std::shared_ptr<const std::string> sql, std::size_t total) {
    Text* slot = nullptr;
    const auto it = text_index.find(TextKey{conn->id, pkg});
    if (it != text_index.end()) {
        slot = &texts[it->second];
    } else {
        slot = &texts.take();
        if (slot->used) text_index.erase(TextKey{slot->conn, slot->pkg});
        text_index.emplace(TextKey{conn->id, pkg}, slot->slot);
        keep_slot(conn->text_slots, slot->slot, [&](std::uint32_t i) { return texts[i].used && texts[i].conn == conn->id; });
    }
    slot->used = true;
    slot->stamp = ++clock;
    slot->conn = conn->id;
    slot->pkg = pkg;
    slot->sql = std::move(sql);
    slot->total = total;
}

void ExchangeTracker::State::take_sqlca(Open& x, const rows::Sqlca& ca, const rows::Typdef& td, int record) {
    // The SQLCA shown: the first negative one, else the first with another
    // non-zero SQLCODE, else the first. A null SQLCA is success.
    const std::int32_t code = ca.null ? 0 : ca.sqlcode;
    const int rank = code < 0 ? 3 : code != 0 ? 2 : 1;
    if (rank < x.sqlca_rank) return;
    const bool tokens = !ca.message().empty();
    if (rank == x.sqlca_rank) {
        // The same SQLCA again (a row's, then the SQLCARD's): its tokens.
        if (code == x.sqlcode && tokens && (!x.extra || x.extra->tokens.empty())) set_tokens(x.more().tokens, ca, td);
        return;
    }
    x.sqlca_rank = static_cast<std::uint8_t>(rank);
    x.has_sqlca = true;
    x.sqlcode = code;
    std::string state;
    if (ca.null) state = "00000";
    else append_decoded(state, ByteView(ca.sqlstate, sizeof ca.sqlstate), td.sbc, sizeof x.sqlstate);
    x.sqlstate_size = static_cast<std::uint8_t>(std::min(state.size(), sizeof x.sqlstate));
    std::memcpy(x.sqlstate, state.data(), x.sqlstate_size);
    x.sqlca_record = record;
    if (tokens) set_tokens(x.more().tokens, ca, td);
    else if (x.extra) x.extra->tokens.clear();
    x.has_updated = changes_rows(x.command, x.sql.get()) && !ca.null && ca.has_errd && code >= 0 && ca.sqlerrd[2] >= 0;
    x.updated = ca.sqlerrd[2];
}

void ExchangeTracker::State::count_rows(Open& x, Query* q, ByteView data, bool fdo, const rows::Descriptor* d,
                                        const rows::Typdef& td) {
    RowCounter counter(q);
    rows::RowEngine* engine;
    std::optional<rows::RowEngine> fdo_engine;
    if (fdo) {
        engine = &fdo_engine.emplace();
        engine->start(d, td.little, conn->sqlam);
    } else {
        engine = &q->engine;
        engine->begin_object();
    }
    // Through the counter's own type: its calls per row and column inline.
    engine->feed_as(data, counter);
    if (counter.stopped || (fdo && engine->mid_row())) {
        if (q) q->failed = true;
        ++totals.uncounted;
    }
    x.has_rows = true;
    x.rows += counter.rows;
    if (counter.has_ca) take_sqlca(x, *counter.sqlca, td, rec->number);
}

void ExchangeTracker::State::reply_object(Open& x, const Obj& o, int start_record) {
    x.add_reply(o.cp);
    const rows::Typdef& srv = x.reply_typdef(conn->srv_typdef);

    switch (o.cp) {
        case kCpSqlcard: {
            rows::Sqlca ca;
            const rows::SqlcaRead r = rows::read_sqlca(o.value, rows::SqlcaFormat{srv.little, conn->sqlam}, ca);
            // Read what is there: at least the indicator, SQLCODE and SQLSTATE.
            if (r.complete || (!ca.null && r.end >= 10)) {
                take_sqlca(x, ca, srv, start_record);
                if (!r.complete) unreadable(o.value.size() - r.end);
            } else {
                unreadable(o.value.size());
            }
            return;
        }
        case kCpTypdefnam:
        case kCpTypdefovr: {
            OpenExtra& m = x.more();
            if (!m.has_reply_typdef) m.reply_typdef = conn->srv_typdef;
            m.has_reply_typdef = true;
            if (o.cp == kCpTypdefnam) m.reply_typdef.set_name(o.value);
            else m.reply_typdef.set_ccsids(o.value);
            return;
        }
        case kCpAccrdbrm:
            for_each_member(o.value, [&](const Obj& m) {
                if (m.cp == kCpTypdefnam) conn->srv_typdef.set_name(m.value);
                if (m.cp == kCpTypdefovr) conn->srv_typdef.set_ccsids(m.value);
            });
            reply_facts(o);
            break;
        case kCpAccsecrd: reply_facts(o); return;
        case kCpExcsatrd:
            reply_facts(o);
            for_each_member(o.value, [&](const Obj& m) {
                if (m.cp != kCpMgrlvlls) return;
                for (std::size_t i = 0; i + 4 <= m.value.size(); i += 4)
                    if (m.value.be16(i) == kCpSqlam) conn->sqlam = m.value.be16(i + 2);
            });
            return;
        case kCpRslsetrm:
            x.more().rslset.clear();
            x.more().rslset_next = 0;
            for_each_member(o.value, [&](const Obj& m) {
                if (m.cp != kCpPkgsnlst) return;
                for_each_member(m.value, [&](const Obj& p) {
                    if (p.cp == kCpPkgnamcsn && x.more().rslset.size() < kMaxResultSets)
                        x.more().rslset.push_back(key_of(p.value));
                });
            });
            break;
        case kCpOpnqryrm: {
            Key pkg = x.pkg;
            if (x.extra && x.extra->rslset_next < x.extra->rslset.size()) pkg = x.extra->rslset[x.extra->rslset_next++];
            Insid insid{};
            for_each_member(o.value, [&](const Obj& m) {
                if (m.cp == kCpQryinsid)
                    for (std::size_t i = 0; i < 8; ++i) insid[i] = m.value.u8(i);
            });
            if (Query* old = find_query(pkg, insid)) drop_query(*old);
            Query& q = queries.take();
            if (q.used) query_index.erase(QueryKey{q.conn, q.pkg, q.insid});
            query_index[QueryKey{conn->id, pkg, insid}] = q.slot;
            keep_slot(conn->query_slots, q.slot,
                      [&](std::uint32_t i) { return queries[i].used && queries[i].conn == conn->id; });
            q.used = true;
            q.stamp = ++clock;
            q.gen = ++gen;
            q.conn = conn->id;
            q.pkg = pkg;
            q.insid = insid;
            q.little = srv.little;
            q.sqlam = conn->sqlam;
            q.builder.reset();
            q.have_desc = false;
            q.base = rows::Descriptor();
            q.has_ovr = x.command == kCpOpnqry && x.extra && x.extra->has_outovr;
            q.ovr = q.has_ovr ? x.extra->outovr : rows::Descriptor();
            q.current = rows::Descriptor();
            q.dirty = false;
            q.started = false;
            q.failed = false;
            x.query = static_cast<int>(q.slot);
            x.query_gen = q.gen;
            break;
        }
        case kCpEndqryrm:
            if (Query* q = query_of(x)) drop_query(*q);
            break;
        case kCpQrydsc: {
            Query* q = query_of(x);
            if (!q) return;
            if (q->builder.failed() || q->builder.complete()) q->builder.reset();
            if (!q->builder.add(o.value)) {
                q->failed = true;
                return;
            }
            if (!q->builder.complete()) return;
            q->base = q->builder.take();
            q->little = srv.little;
            q->have_desc = true;
            q->dirty = true;
            if (!q->started || q->engine.at_boundary()) apply_layout(*q);
            return;
        }
        case kCpQrydta: {
            Query* q = query_of(x);
            if (!q || !q->have_desc || q->failed) {
                ++totals.uncounted;
                if (q) q->failed = true;
                return;
            }
            count_rows(x, q, o.value, false, nullptr, srv);
            return;
        }
        case kCpSqldtard: {
            rows::Typdef td = srv;
            rows::DescriptorBuilder b;
            bool have = false;
            for_each_member(o.value, [&](const Obj& m) {
                if (m.cp == kCpTypdefnam) td.set_name(m.value);
                if (m.cp == kCpTypdefovr) td.set_ccsids(m.value);
                if (m.cp == kCpFdodsc) {
                    b.reset();
                    have = b.add(m.value) && b.complete();
                }
                if (m.cp != kCpFdodta) return;
                if (!have) {
                    ++totals.uncounted;
                    return;
                }
                const rows::Descriptor d = b.take();
                have = false;
                if (rows::empty_columns(d) > rows::kMaxEmptyColumns) {
                    ++totals.uncounted;
                    return;
                }
                count_rows(x, nullptr, m.value, true, &d, td);
            });
            return;
        }
        default: break;
    }
    // Reply messages: the highest SVRCOD.
    for_each_member(o.value, [&](const Obj& m) {
        if (m.cp != kCpSvrcod || m.value.size() != 2) return;
        const int sev = m.value.be16(0);
        if (!x.has_svrcod || sev > x.svrcod) {
            x.has_svrcod = true;
            x.svrcod = static_cast<std::uint16_t>(sev);
            x.svrcod_cp = o.cp;
        }
    });
}

// --- what the connection says about itself --------------------------------------

namespace {

// A DDM character field: plain ASCII as it stands, else EBCDIC (CCSID 500),
// in which requesters send these names before any other CCSID is agreed.
std::string ddm_name(ByteView v) {
    bool ascii = true;
    for (std::size_t i = 0; i < v.size() && ascii; ++i) ascii = v.u8(i) >= 0x20 && v.u8(i) < 0x7F;
    std::string out;
    append_decoded(out, v, ascii ? 367 : 500, 256);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
    return out;
}

std::string secmec_name(ByteView v) {
    if (v.size() < 2) return std::string();
    const std::uint16_t m = v.be16(0);
    if (m < std::size(kSecmecNames)) return std::string(kSecmecNames[m]);
    return std::to_string(m);
}

}  // namespace

void ExchangeTracker::State::request_facts(const Obj& o) {
    ConnectionInfo& info = conn->info;
    std::string extnam, srvrlslv;
    for_each_member(o.value, [&](const Obj& m) {
        switch (m.cp) {
            case kCpUsrid:
                info.user = ddm_name(m.value);
                if (info.user.empty()) conn->user.reset();
                else if (!conn->user || *conn->user != info.user) conn->user = std::make_shared<const std::string>(info.user);
                break;
            case kCpRdbnam: info.database = ddm_name(m.value); break;
            case kCpSecmec: info.secmec = secmec_name(m.value); break;
            case kCpExtnam: extnam = ddm_name(m.value); break;
            case kCpSrvrlslv: srvrlslv = ddm_name(m.value); break;
            case kCpPrdid:
                if (info.client_product.empty()) info.client_product = ddm_name(m.value);
                break;
            default: break;
        }
    });
    if (o.cp == kCpExcsat) {
        if (!srvrlslv.empty()) info.client_product = srvrlslv;
        else if (!extnam.empty()) info.client_product = extnam;
    }
}

void ExchangeTracker::State::reply_facts(const Obj& o) {
    ConnectionInfo& info = conn->info;
    for_each_member(o.value, [&](const Obj& m) {
        switch (m.cp) {
            case kCpSrvrlslv:
                if (o.cp == kCpExcsatrd) info.server_product = ddm_name(m.value);
                break;
            case kCpPrdid:
                if (info.server_product.empty()) info.server_product = ddm_name(m.value);
                break;
            case kCpSecmec:
                // The server's choice, when it names one and the requester
                // named none.
                if (info.secmec.empty()) info.secmec = secmec_name(m.value);
                break;
            default: break;
        }
    });
}

// --- the tracker ----------------------------------------------------------------

ExchangeTracker::ExchangeTracker(ExchangeSink& sink, std::size_t max_waiting)
    : s_(std::make_unique<State>(sink, max_waiting > 0 ? max_waiting : 1)) {}
ExchangeTracker::~ExchangeTracker() = default;

void ExchangeTracker::feed(const Record& rec) { s_->feed(rec); }

void ExchangeTracker::gap(const Record& rec) {
    State& s = *s_;
    Conn* c = s.lookup(rec.connection);
    if (!c) return;
    const int side = side_of(rec);
    if (c->cut[side].active()) {
        s.unreadable(static_cast<std::size_t>(c->cut_bytes[side]));
        c->cut[side].reset();
    }
}

void ExchangeTracker::closed(const Record& rec, ConnEnd how) {
    State& s = *s_;
    if (Conn* c = s.lookup(rec.connection)) s.end_connection(*c, how);
}

void ExchangeTracker::finish(ConnEnd how) {
    State& s = *s_;
    // Connections still followed end here, in the order they were seen.
    std::vector<Conn*> left;
    for (auto& [id, c] : s.conns) left.push_back(c.get());
    std::sort(left.begin(), left.end(), [](const Conn* a, const Conn* b) { return a->id < b->id; });
    for (Conn* c : left) s.end_connection(*c, how);
    s.sink.finish(s.totals);
}

}  // namespace drda::summary
