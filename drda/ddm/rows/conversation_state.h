// SPDX-License-Identifier: Apache-2.0
// The inside of the -r row decoder, shared by its parts: the code points it
// reads, the bounds of the state it keeps, the request, query and section
// tables (conversation_tables.cpp), the walk that routes objects to the row
// engine (conversation.cpp) and the lines it writes (conversation_print.cpp).
// Only those files include this header.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ddm/code_point_ids.h"
#include "ddm/rows/column_lines.h"
#include "ddm/rows/conversation.h"
#include "ddm/rows/descriptor.h"
#include "ddm/rows/dss_assembler.h"
#include "ddm/rows/object_walk.h"
#include "ddm/rows/row_engine.h"
#include "ddm/rows/typdef.h"

namespace drda::rows {

// Bounds of the state kept across buffers.
// A batch of 1,000 chained requests keeps its context until the replies.
constexpr std::size_t kMaxRequests = 1000;
constexpr std::size_t kMaxQueries = 64;
constexpr std::size_t kMaxStatements = 256;
constexpr std::size_t kMaxKey = 512;
constexpr std::size_t kStatementBytes = 256;
constexpr std::size_t kStatementChars = 60;
constexpr std::size_t kMaxResultSets = 32;
// Column names: sections that keep them, characters kept of a name, bytes
// of names kept in all.
constexpr std::size_t kMaxNamedSections = 64;
constexpr std::size_t kNameChars = 128;
constexpr std::size_t kMaxNameBytes = std::size_t{1} << 20;

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

// The column names an SQLDA gave, each as a COL line shows it.
struct Names {
    std::vector<std::string> text;
    std::uint64_t record = 0;  // where they came from
    const char* from = "SQLDARD";
    std::size_t bytes = 0;
};

struct Section {
    Key pkg;
    std::uint64_t gen = 0;
    bool has_text = false;
    Statement text;
    std::shared_ptr<const Names> names;  // of its output SQLDA
    std::uint64_t stamp = 0;
    std::uint64_t names_stamp = 0;
};

// One request (by correlator) and the context of its reply chain.
struct Request {
    bool used = false;
    std::uint16_t corr = 0;
    std::uint64_t stamp = 0;
    std::uint16_t cp = 0;  // the command; 0 when only a reply was seen
    bool has_pkg = false;
    int section = -1;          // its PKGNAMCSN's entry of the section table
    std::uint64_t section_gen = 0;
    std::uint8_t typsqlda = 0;  // TYPSQLDA of a PRPSQLSTT/DSCSQLSTT (0 when absent)
    bool has_text = false;      // an SQLSTT in the request chain (kept by its section)
    Insid insid{};
    bool has_typdef = false;  // TYPDEF objects of the request chain
    Typdef typdef;
    bool has_outovr = false;  // the OUTOVR of an OPNQRY, for the query it opens
    Descriptor outovr;
    std::string outovr_error;
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
    std::shared_ptr<const Names> names;  // the column names of its rows
    bool names_checked = false;          // against the column count, at its first QRYDTA
    RowEngine engine;
};

struct PendingLob {
    std::uint64_t row;
    std::uint32_t column;
    std::uint8_t drda;
    bool nullable;
    std::uint32_t ccsid;
};

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
    std::uint32_t unicodemgr = 0;   // CCSID of the UNICODEMGR level of EXCSATRD
    bool accrdbrm_seen = false;
    std::size_t name_bytes = 0;     // bytes of names the sections keep
    bool derby_status_byte = false;  // the requester appends a status byte to EXTDTA
    // Grown as requests come, to at most kMaxRequests slots, so that a
    // conversation of a few requests costs a few entries (a capture may hold
    // thousands of conversations at once).
    std::vector<Request> requests;
    std::unordered_map<std::uint16_t, std::uint16_t> by_corr;  // slot of each correlator in use
    // The last entry of by_corr found or made (memo_slot -1: none).
    std::uint16_t memo_corr = 0;
    int memo_slot = -1;
    std::size_t ring = 0;  // the next request slot to take
    // Both grow as entries are needed, up to kMaxQueries and kMaxStatements
    // (a capture may hold thousands of conversations at once); a deque keeps
    // the entries in place as it grows.
    std::deque<Query> queries;
    std::deque<Section> sections;
    // A hash of each section's key, by index: the lookup scans these few
    // words rather than the sections themselves.
    std::vector<std::uint64_t> section_tags;
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

    Out open(DssCtx& ctx, const Obj& anchor, std::string_view name, int& depth, const char* head = "ROWS");

    // --- context ------------------------------------------------------------
    Request* find_request(std::uint16_t corr);
    Request& request(std::uint16_t corr);
    void new_request(std::uint16_t corr, const Obj& o);
    Query* find_query(const Key& pkg, const Insid& insid);
    Query& alloc_query();
    Query* current_query(std::uint16_t corr);
    const Statement* section_text(const Key& pkg);
    Section* section_of(const Request& r);
    // The section of a PKGNAMCSN (its first kMaxKey bytes), made when new;
    // `index` is set to its entry.
    Section& section(ByteView pkg, int& index);
    void set_section_names(Section& s, std::shared_ptr<const Names> n);
    const Key* request_pkg(const Request& r);
    const Statement* request_text(const Request& r);
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
    void on_sqlcard(const Obj& o, DssCtx& ctx, int depth);
    void on_sqlda(const Obj& o, DssCtx& ctx, int depth, bool cinrd);
    Typdef sqlca_typdef(std::uint16_t corr);
    void sqlca_details(Out& g, int d, const Sqlca& ca, const Typdef& td);
    void sqlca_line(Out& g, int d, const Sqlca& ca, const Typdef& td);

    void apply_layout(Query& q);
    void rows_line(Out& o, int d, const char* what, const Query* q, std::size_t columns, const Typdef& td);
    void sql_line(Out& o, int d, const Statement* text);
    void clear_lobs(Side s) {
        lobs[s].clear();
        lob_next[s] = 0;
    }
};

// Writes the events of the row cursor as lines of a group; for a query, it
// also applies layout changes at row boundaries.
class RowPrinter final : public RowEvents {
public:
    using State = Conversation::State;
    RowPrinter(State& s, State::Out& out, int depth, const Typdef& td, RowEngine& engine, Query* q, Side side)
        : s_(s), out_(out), d_(depth), td_(td), engine_(engine), q_(q), side_(side) {}

    bool boundary(RowEngine& e) override {
        // Nothing to do at most row boundaries: no fault, no new layout.
        if (!q_ || (q_->pending_failure.empty() && q_->failure.empty() && !q_->dirty)) return true;
        return layout_or_fault(e);
    }
    void row_begin(std::uint64_t row, const Sqlca* ca, bool no_data) override;
    // Inline, for the row cursor's walk to call directly on every column.
    void column(std::uint64_t row, const Column& c, const ColumnValue& v) override {
        if (out_.pending) heading();
        if (lines_.write(*out_.w, d_ + 2, c, v, td_, engine_.descriptor(), q_ && q_->names ? &q_->names->text : nullptr))
            lob_announced(row, c, v);
    }
    void stop(std::uint64_t row, std::string_view reason, std::size_t at) override;

private:
    // A LOB placeholder announced an EXTDTA: it is matched to the EXTDTAs
    // that follow.
    // A row boundary with an OUTOVR fault, a failure or a new layout.
    bool layout_or_fault(RowEngine&);
    // The group's heading line, before its first line.
    [[gnu::noinline]] void heading();
    [[gnu::noinline]] void lob_announced(std::uint64_t row, const Column& c, const ColumnValue& v);
    State& s_;
    State::Out& out_;
    int d_;
    const Typdef& td_;
    RowEngine& engine_;
    Query* q_;
    Side side_;
    ColumnLines lines_;
};

}  // namespace drda::rows
