// SPDX-License-Identifier: Apache-2.0
// The tables of the row decoder and their linking: requests by correlator,
// open queries by section and QRYINSID, statement texts by section, the
// result sets of a CALL, and the conversation facts (TYPDEFs, SQLAM level,
// the requester's product) that the handlers below take from the objects.
#include <cstring>
#include <string>

#include "ddm/rows/conversation_state.h"
#include "ddm/rows/row_text.h"

namespace drda::rows {

// --- context -----------------------------------------------------------------

// At most one entry per correlator is in use (a new request ends the last
// one's chain), so the table is indexed by correlator.
Request* Conversation::State::find_request(std::uint16_t corr) {
    // The objects of a chain ask for one correlator many times in a row:
    // the last answer of the map is kept.
    std::size_t slot;
    if (memo_slot >= 0 && memo_corr == corr) {
        slot = static_cast<std::size_t>(memo_slot);
    } else {
        const auto it = by_corr.find(corr);
        if (it == by_corr.end()) return nullptr;
        slot = it->second;
        memo_corr = corr;
        memo_slot = static_cast<int>(slot);
    }
    Request& r = requests[slot];
    return r.used && r.corr == corr ? &r : nullptr;
}

namespace {

// The first unused slot of a table, else a new one while it holds fewer
// than `max`, else the least recently used one.
template <class Slots>
auto& reuse_slot(Slots& slots, std::size_t max) {
    for (auto& slot : slots)
        if (!slot.used) return slot;
    if (slots.size() < max) return slots.emplace_back();
    auto* oldest = &slots[0];
    for (auto& slot : slots)
        if (slot.stamp < oldest->stamp) oldest = &slot;
    return *oldest;
}

// The index of an entry of a table.
template <class Slots, class T>
int index_of(const Slots& slots, const T* entry) {
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (&slots[i] == entry) return static_cast<int>(i);
    return -1;
}

}  // namespace

Request& Conversation::State::request(std::uint16_t corr) {
    if (Request* r = find_request(corr)) return *r;
    // The slots are taken in turn: the one reused is the one taken
    // kMaxRequests requests ago (or freed since).
    const std::size_t i = ring;
    ring = (ring + 1) % kMaxRequests;
    if (i == requests.size()) requests.emplace_back();
    Request& slot = requests[i];
    // The correlator the slot held no longer finds it.
    if (const auto it = by_corr.find(slot.corr); it != by_corr.end() && it->second == i) by_corr.erase(it);
    slot = Request();
    by_corr[corr] = static_cast<std::uint16_t>(i);
    memo_corr = corr;
    memo_slot = static_cast<int>(i);
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
            Section& s = section(m.value, r.section);
            r.section_gen = s.gen;
            r.has_pkg = true;
        } else if (m.cp == kCpQryinsid) {
            for (std::size_t i = 0; i < 8; ++i) r.insid[i] = m.value.u8(i);
        } else if (m.cp == kCpTypsqlda && !m.value.empty()) {
            r.typsqlda = m.value.u8(0);
        }
    });
    // A new prepare of a section voids the names its last SQLDA gave.
    if (r.cp == kCpPrpsqlstt) {
        if (Section* s = section_of(r)) set_section_names(*s, nullptr);
    }
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
    Query& q = reuse_slot(queries, kMaxQueries);
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
    if (r->cp == kCpCntqry && request_pkg(*r)) {
        if (Query* q = find_query(*request_pkg(*r), r->insid)) {
            r->query = index_of(queries, q);
            r->query_gen = q->gen;
            return q;
        }
    }
    return nullptr;
}

namespace {

// The tag of a section key (its first kMaxKey bytes): the bytes eight at a
// time, multiplied and folded with the length.
std::uint64_t key_tag(ByteView pkg) {
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15u;
    const std::size_t len = pkg.size() < kMaxKey ? pkg.size() : kMaxKey;
    std::uint64_t h = (len + 1) * kMul;
    std::size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, pkg.data() + i, 8);
        h = (h ^ w) * kMul;
        h ^= h >> 29;
    }
    if (i < len) {
        std::uint64_t w = 0;
        std::memcpy(&w, pkg.data() + i, len - i);
        h = (h ^ w) * kMul;
        h ^= h >> 29;
    }
    return h;
}

}  // namespace

const Statement* Conversation::State::section_text(const Key& pkg) {
    const std::uint64_t tag = key_tag(ByteView(pkg.bytes.data(), pkg.len));
    for (std::size_t i = 0; i < sections.size(); ++i)
        if (section_tags[i] == tag && sections[i].pkg == pkg) return sections[i].has_text ? &sections[i].text : nullptr;
    return nullptr;
}

// The entry of a PKGNAMCSN, made when there is none (the least recently
// used one is taken when the table is full).
Section& Conversation::State::section(ByteView pkg, int& index) {
    // Keys of one package differ mostly in their last bytes (the section
    // number): those are compared first.
    const std::size_t len = pkg.size() < kMaxKey ? pkg.size() : kMaxKey;
    const auto same = [&](const Key& k) {
        return k.len == len && (len == 0 || (k.bytes[len - 1] == pkg.u8(len - 1) &&
                                             std::memcmp(k.bytes.data(), pkg.data(), len) == 0));
    };
    Section* slot = nullptr;
    int at = -1;
    // Keys are unique in the table: the first match is the one.
    const std::uint64_t tag = key_tag(pkg);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (section_tags[i] == tag && same(sections[i].pkg)) {
            slot = &sections[i];
            at = static_cast<int>(i);
            break;
        }
    }
    if (!slot) {
        if (sections.size() < kMaxStatements) {
            slot = &sections.emplace_back();
            section_tags.push_back(tag);
            at = static_cast<int>(sections.size() - 1);
        } else {
            at = 0;
            for (std::size_t i = 0; i < sections.size(); ++i)
                if (sections[i].stamp < sections[static_cast<std::size_t>(at)].stamp) at = static_cast<int>(i);
            slot = &sections[static_cast<std::size_t>(at)];
            section_tags[static_cast<std::size_t>(at)] = tag;
        }
        set_section_names(*slot, nullptr);
        *slot = Section();
        slot->pkg.set(pkg);
        slot->gen = ++gen;
    }
    slot->stamp = ++clock;
    index = at;
    return *slot;
}

Section* Conversation::State::section_of(const Request& r) {
    if (r.section < 0 || static_cast<std::size_t>(r.section) >= sections.size()) return nullptr;
    Section& s = sections[static_cast<std::size_t>(r.section)];
    return s.gen == r.section_gen ? &s : nullptr;
}

const Key* Conversation::State::request_pkg(const Request& r) {
    if (!r.has_pkg) return nullptr;
    const Section* s = section_of(r);
    return s ? &s->pkg : nullptr;
}

const Statement* Conversation::State::request_text(const Request& r) {
    const Section* s = section_of(r);
    return s && s->has_text ? &s->text : nullptr;
}

// Gives a section names (or none), within the bounds: names of at most
// kMaxNamedSections sections and kMaxNameBytes bytes in all, the oldest
// dropped first.
void Conversation::State::set_section_names(Section& s, std::shared_ptr<const Names> n) {
    if (s.names) name_bytes -= s.names->bytes;
    s.names.reset();
    if (!n) return;
    for (;;) {
        std::size_t named = 0;
        Section* oldest = nullptr;
        for (Section& o : sections) {
            if (!o.names) continue;
            ++named;
            if (!oldest || o.names_stamp < oldest->names_stamp) oldest = &o;
        }
        if (!oldest || (named < kMaxNamedSections && name_bytes + n->bytes <= kMaxNameBytes)) break;
        name_bytes -= oldest->names->bytes;
        oldest->names.reset();
    }
    if (n->bytes > kMaxNameBytes) return;
    name_bytes += n->bytes;
    s.names = std::move(n);
    s.names_stamp = ++clock;
}

Statement Conversation::State::parse_sqlstt(ByteView v, const Typdef& td) const {
    Statement t;
    bool single_byte = false;
    const ByteView text = sqlstt_text(v, single_byte);
    const std::uint32_t ccsid = single_byte ? td.sbc : td.mbc;
    t.total = text.size();
    t.len = static_cast<std::uint16_t>(text.size() < kStatementBytes ? text.size() : kStatementBytes);
    if (t.len) std::memcpy(t.bytes.data(), text.data(), t.len);
    t.ccsid = ccsid;
    return t;
}

// --- handlers ------------------------------------------------------------------

void Conversation::State::on_accrdb(const Obj& o, Typdef& td, bool requester) {
    if (!requester) accrdbrm_seen = true;
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
            else if (m.value.be16(i) == kCpUnicodemgr) unicodemgr = m.value.be16(i + 2);
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
    Key pkg;
    if (const Key* k = request_pkg(r)) pkg = *k;
    // The result sets of a CALL take their names from their SQLCINRD only.
    bool from_call = false;
    if (rslset.active && rslset.corr == ctx.corr && rslset.next < rslset.count) {
        pkg = rslset.keys[rslset.next++];
        from_call = true;
    }
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
    q.names.reset();
    q.names_checked = false;
    if (!from_call) {
        for (const Section& s : sections)
            if (s.pkg == pkg) q.names = s.names;
    }
    q.typdef = q.desc_typdef = r.has_reply_typdef ? r.reply_typdef : srv_typdef;
    if (r.cp == kCpOpnqry && r.has_outovr) {
        q.has_ovr = true;
        q.ovr = r.outovr;
    }
    if (r.cp == kCpOpnqry && !r.outovr_error.empty()) q.pending_failure = r.outovr_error;
    r.query = index_of(queries, &q);
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

void Conversation::State::on_outovr(const Obj& o, const DssCtx& ctx) {
    Request& r = request(ctx.corr);
    DescriptorBuilder b;
    b.add(o.value);
    const std::string error = b.failed() ? b.error() : std::string();
    if (r.cp == kCpCntqry && request_pkg(r)) {
        Query* q = find_query(*request_pkg(r), r.insid);
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
    // Kept once, by section; a request with no PKGNAMCSN keeps it under
    // the empty key.
    Section* s = section_of(r);
    if (!s) {
        s = &section(ByteView(), r.section);
        r.section_gen = s->gen;
    }
    s->text = parse_sqlstt(o.value, r.has_typdef ? r.typdef : req_typdef);
    s->has_text = true;
    r.has_text = true;
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

}  // namespace drda::rows
