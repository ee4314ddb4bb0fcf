// SPDX-License-Identifier: Apache-2.0
// Test helpers: DRDA conversations built byte by byte (DSSs, objects, the
// connect and query exchanges) and their -r decode, for the tests of what
// the real traces lack.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/rows_support.h"
#include "support/trace_builder.h"

namespace testsupport {

inline std::string be16(std::size_t v) { return std::string{static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }
inline std::string be32(std::size_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }

inline std::string obj(std::uint16_t cp, const std::string& value) { return be16(4 + value.size()) + be16(cp) + value; }

// A DSS: type 1 request, 2 reply, 3 object; `chained` sets 0x40.
inline std::string dss(int type, std::uint16_t corr, const std::string& objects, bool chained = false) {
    const char fmt = static_cast<char>(type | (chained ? 0x40 : 0));
    return be16(6 + objects.size()) + std::string("\xD0", 1) + fmt + be16(corr) + objects;
}

inline const std::string kPkg = obj(0x2113, "RDB               NULLID            SYSSH200          " + std::string(8, '\x01') + be16(1));
inline const std::string kPkg2 = obj(0x2113, "RDB               NULLID            SYSSH200          " + std::string(8, '\x01') + be16(2));
inline const std::string kInsid = obj(0x215B, std::string(7, '\0') + "\x07");

inline std::string typdefovr(int sbc, int dbc, int mbc) {
    std::string m;
    if (sbc) m += obj(0x119C, be16(static_cast<std::size_t>(sbc)));
    if (dbc) m += obj(0x119D, be16(static_cast<std::size_t>(dbc)));
    if (mbc) m += obj(0x119E, be16(static_cast<std::size_t>(mbc)));
    return obj(0x0035, m);
}

inline Record send(const std::string& buffer) {
    Record r;
    r.type = 'W';
    r.buffer = buffer;
    return r;
}
inline Record recv(const std::string& buffer) {
    Record r;
    r.type = 'R';
    r.function = "arRecvBuf";
    r.buffer = buffer;
    return r;
}

// ACCRDB and ACCRDBRM with the given TYPDEFNAMs, UTF-8 everywhere, UTF-16
// for the requester's graphic data.
inline std::vector<Record> connect(const std::string& req_typdef = "QTDSQLASC", const std::string& srv_typdef = "QTDSQLASC",
                            const std::string& prdid = "DNC10140") {
    const std::string accrdb = obj(0x2001, obj(0x2110, "RDB") + obj(0x112E, prdid) + obj(0x002F, req_typdef) +
                                               typdefovr(1208, 1200, 1208));
    const std::string accrdbrm = obj(0x2201, obj(0x1149, be16(0)) + obj(0x002F, srv_typdef) + typdefovr(1208, 0, 1208));
    return {send(dss(1, 1, accrdb)), recv(dss(2, 1, accrdbrm))};
}

inline std::string sqlstt(const std::string& text) { return obj(0x2414, std::string(1, '\0') + be32(text.size()) + text + "\xFF"); }

// PRPSQLSTT + SQLSTT (corr 1) and OPNQRY (corr 2) of section kPkg.
inline Record open_query(const std::string& text = "SELECT * FROM T") {
    return send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt(text), true) +
                dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767)))));
}

inline std::string opnqryrm() { return obj(0x2205, obj(0x1149, be16(0)) + kInsid); }
inline std::string qrydsc(const std::string& hex_triplets) { return obj(0x241A, hex(hex_triplets)); }
inline std::string qrydta(const std::string& hex_rows) { return obj(0x241B, hex(hex_rows)); }
inline const std::string kRlo = "0971E0540001D00001 0671F0E00000";

inline Record cntqry(std::uint16_t corr = 1, const std::string& more = "") {
    return send(dss(1, corr, obj(0x2006, kPkg + obj(0x2114, be32(32767)) + kInsid), !more.empty()) + more);
}

struct Decoded {
    std::string rows;   // the inserted row lines, "record|line"
    std::string sqlca;  // the inserted SQLCA and SQLDA lines, "record|line"
    std::string inserted;  // both, in order
    std::string all;    // the whole -r output
    std::string error;  // from the row-line check
    int status = 0;
};

inline Decoded decode(const std::vector<Record>& records) {
    const std::string trace = make_trace(records);
    const InProcess f = run_in_process(trace, true, false);
    const InProcess r = run_in_process(trace, true, true);
    Decoded d;
    d.all = r.out;
    d.status = r.status;
    EXPECT_EQ(f.status, r.status);
    const std::vector<RowLine> lines = row_lines(f.out, r.out, &d.error);
    d.rows = row_text(lines);
    d.sqlca = sqlca_text(lines);
    for (const RowLine& l : lines) d.inserted += std::to_string(l.record) + "|" + l.text + "\n";
    EXPECT_EQ(d.error, "");
    return d;
}

}  // namespace testsupport
