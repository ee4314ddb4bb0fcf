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

}  // namespace drda::rows
