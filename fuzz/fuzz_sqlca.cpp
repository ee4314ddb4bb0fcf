// SPDX-License-Identifier: Apache-2.0
// libFuzzer target: the SQLCA reader (whole and a field at a time, as the
// row cursor feeds it) and the SQLDA reader.
//
// Input: byte 0 = options (bit 0: little-endian numbers, bits 1-3: SQLAM
// level 5 + n, bit 4: the value is an SQLCINRD, bits 5-7: piece size - 1
// for the resumable SQLCA reading); the rest is the object's value.
//
// Properties (a failure aborts, so libFuzzer keeps the input): the SQLCA
// read whole and read from pieces of any size agree; what is read never
// lies outside the value; every token lies inside the message and tokens
// come in order; the SQLDA cursor ends, moves forward only, never past the
// value, and gives at most SQLNUMROW (at most 4,096) groups.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ddm/rows/sqlca_reader.h"
#include "ddm/rows/sqlda_reader.h"
#include "common/byte_view.h"

namespace {

using namespace drda;
using namespace drda::rows;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "PROPERTY FAILED: %s\n", what);
    std::abort();
}

bool same(const Sqlca& a, const Sqlca& b) {
    const auto text_same = [](const SqlcaText& x, const SqlcaText& y) {
        return x.total == y.total && x.kept == y.kept && std::memcmp(x.bytes, y.bytes, x.kept) == 0;
    };
    return a.null == b.null && a.sqlcode == b.sqlcode && std::memcmp(a.sqlstate, b.sqlstate, 5) == 0 &&
           std::memcmp(a.sqlerrproc, b.sqlerrproc, 8) == 0 && a.has_errd == b.has_errd &&
           std::memcmp(a.sqlerrd, b.sqlerrd, sizeof a.sqlerrd) == 0 &&
           std::memcmp(a.sqlwarn, b.sqlwarn, 11) == 0 && std::memcmp(a.rdbnme, b.rdbnme, 18) == 0 &&
           text_same(a.rdbname, b.rdbname) && text_same(a.errmsg_m, b.errmsg_m) &&
           text_same(a.errmsg_s, b.errmsg_s) && a.diag == b.diag;
}

// The SQLCA fed in pieces of `piece` bytes, a field gathered across pieces
// the way the row cursor does (its first kSqlcaKeep bytes kept).
bool read_in_pieces(ByteView v, const SqlcaFormat& f, std::size_t piece, Sqlca& out, std::size_t& end) {
    static SqlcaSteps s;
    s.start(f);
    static std::uint8_t keep[kSqlcaKeep];
    std::size_t have = 0;
    std::size_t pos = 0;
    while (!s.done()) {
        const std::size_t need = s.need();
        if (have == need) {
            s.take(ByteView(keep, need < kSqlcaKeep ? need : kSqlcaKeep));
            have = 0;
            continue;
        }
        if (pos >= v.size()) return false;
        const ByteView p = v.sub(pos, piece);
        std::size_t take = need - have;
        if (take > p.size()) take = p.size();
        for (std::size_t i = 0; i < take; ++i)
            if (have + i < kSqlcaKeep) keep[have + i] = p.u8(i);
        have += take;
        pos += take;
    }
    out = s.sqlca();
    end = pos;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    if (size < 1) return 0;
    const std::uint8_t opts = in.u8(0);
    const ByteView value = in.sub(1);
    const SqlcaFormat fmt{(opts & 1) != 0, 5 + ((opts >> 1) & 7)};
    const bool cinrd = (opts & 0x10) != 0;
    const std::size_t piece = static_cast<std::size_t>(opts >> 5) + 1;

    std::size_t off = 0;
    if (!cinrd) {
        static Sqlca whole, pieces;
        const SqlcaRead r = read_sqlca(value, fmt, whole);
        if (r.end > value.size()) fail("SQLCA read past the value");
        std::size_t end = 0;
        const bool done = read_in_pieces(value, fmt, piece, pieces, end);
        if (done != r.complete) fail("pieces and whole disagree on completeness");
        if (done && (end != r.end || !same(whole, pieces))) fail("pieces give another SQLCA than the whole value");
        if (!r.complete) return 0;
        const SqlcaText& msg = whole.message_field();
        if (msg.kept > msg.total || msg.kept > kSqlcaKeep) fail("message longer than its field");
        Token tok[kMaxTokens];
        bool valid = false;
        const std::size_t n = split_tokens(msg.view(), fmt.little ? 1200 : 1208, tok, kMaxTokens, valid);
        if (n == 0) fail("no token");
        std::size_t last = 0;
        for (std::size_t i = 0; i < n && i < kMaxTokens; ++i) {
            if (tok[i].offset < last || tok[i].offset + tok[i].length > msg.kept) fail("token outside the message");
            last = tok[i].offset + tok[i].length;
        }
        if (whole.diag) return 0;
        off = r.end;
    }
    SqldaReader rd(value, off, fmt.little, fmt.sqlam, cinrd);
    SqldaHeader h;
    if (!rd.header(h)) return 0;
    if (h.count < 0 || h.count > kMaxSqldaRows) fail("SQLNUMROW out of bounds");
    SqldaColumn c;
    int n = 0;
    std::size_t at = rd.offset();
    while (rd.next(c)) {
        if (++n > h.count) fail("more groups than SQLNUMROW");
        if (rd.offset() <= at || rd.offset() > value.size()) fail("SQLDA cursor stood still or ran past the value");
        at = rd.offset();
        if (c.name.bytes.size() && (c.name.bytes.data() < value.data() ||
                                    c.name.bytes.data() + c.name.bytes.size() > value.data() + value.size()))
            fail("name outside the value");
    }
    return 0;
}
