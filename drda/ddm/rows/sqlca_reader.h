// SPDX-License-Identifier: Apache-2.0
// The SQL communications area (SQLCAGRP with its SQLCAXGRP and the
// indicator of its SQLDIAGGRP) read from traced bytes: one reader for the
// whole value of an SQLCARD, the SQLCA that opens an SQLDARD, and the SQLCA
// of a QRYDTA/SQLDTARD row that the row cursor is fed in pieces.
//
// How to call it:
//
//   // A whole SQLCARD value (or the start of an SQLDARD value):
//   drda::rows::SqlcaFormat fmt;          // from the sender's TYPDEF and
//   fmt.little = typdef_is_little_endian; // the SQLAM level of EXCSATRD
//   fmt.sqlam = sqlam;
//   drda::rows::Sqlca ca;
//   const drda::rows::SqlcaRead r = drda::rows::read_sqlca(value, fmt, ca);
//   if (!r.complete) { /* value ends in field r.ends_in, at byte r.end */ }
//   // ca.null: no SQLCA (success). Else ca.sqlcode, ca.sqlstate (5 bytes),
//   // ca.sqlerrproc (8), and when ca.has_errd: ca.sqlerrd[0..5] (SQLERRD3,
//   // the update count, is ca.sqlerrd[2]), ca.sqlwarn[0..10], the RDB name
//   // (ca.rdb_name()), the message field (ca.message()).
//   // ca.diag: a non-null SQLDIAGGRP follows at byte r.end (not read).
//
//   // Message tokens (SQLERRMC) of ca.message(), in the CCSID of its class
//   // (ca.message_is_mixed() ? the MBC : the SBC CCSID of the sender):
//   drda::rows::Token tok[drda::rows::kMaxTokens];
//   bool valid = false;
//   std::size_t n = drda::rows::split_tokens(ca.message(), ccsid, tok, kMaxTokens, valid);
//   // tok[i].offset/length are byte ranges of ca.message(); n may exceed
//   // kMaxTokens (only the first are filled). token_utf8() gives the text.
//
//   // Resumable, one field at a time (what the row cursor does):
//   drda::rows::SqlcaSteps steps;
//   steps.start(fmt);
//   while (!steps.done()) {
//       std::size_t n = steps.need();  // bytes of the next field
//       ... gather n bytes (keep at most kSqlcaKeep of them) ...
//       steps.take(first_bytes_kept);
//   }
//   const drda::rows::Sqlca& ca2 = steps.sqlca();
//
// Character fields are kept as bytes; decode them with the sender's CCSIDs
// (ccsid_tables.h). Numbers follow fmt.little; lengths are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/byte_view.h"

namespace drda::rows {

// Bytes kept of a varying-length field (SQLRDBNAME, SQLERRMSG_m/_s); longer
// ones are counted, not kept.
inline constexpr std::size_t kSqlcaKeep = 1024;
// Tokens a caller needs room for to see all that the tool shows.
inline constexpr std::size_t kMaxTokens = 32;

struct SqlcaFormat {
    bool little = false;  // SQLCODE and SQLERRD in little-endian order (QTDSQLX86, QTDSQLVAX, ...)
    int sqlam = 7;        // 6 and below: SQLRDBNME FCS(18) first in SQLCAXGRP, no SQLRDBNAME, no SQLDIAGGRP
};

// A varying-length character field: its length and its first bytes.
struct SqlcaText {
    std::size_t total = 0;
    std::size_t kept = 0;
    std::uint8_t bytes[kSqlcaKeep];
    ByteView view() const { return ByteView(bytes, kept); }

    SqlcaText() = default;
    // Copies only the bytes kept (most fields are empty).
    SqlcaText(const SqlcaText& o) : total(o.total), kept(o.kept) { std::memcpy(bytes, o.bytes, kept); }
    SqlcaText& operator=(const SqlcaText& o) {
        total = o.total;
        kept = o.kept;
        std::memmove(bytes, o.bytes, kept);
        return *this;
    }
};

struct Sqlca {
    bool null = true;             // SQLCAGRP null indicator (0x80-0xFF): no SQLCA
    std::uint8_t indicator = 0xFF;
    std::int32_t sqlcode = 0;
    std::uint8_t sqlstate[5] = {};
    std::uint8_t sqlerrproc[8] = {};
    bool has_errd = false;        // SQLCAXGRP present: SQLERRD, SQLWARN, names, message
    std::int32_t sqlerrd[6] = {};
    std::uint8_t sqlwarn[11] = {};
    std::uint8_t rdbnme[18] = {}; // SQLAM 6 and below
    SqlcaText rdbname;            // SQLAM 7 and above
    SqlcaText errmsg_m;           // mixed-byte message tokens
    SqlcaText errmsg_s;           // single-byte message tokens
    bool diag = false;            // a non-null SQLDIAGGRP follows (not read)
    int sqlam = 7;

    // The RDB name: SQLRDBNME (SQLAM 6 and below) or SQLRDBNAME.
    ByteView rdb_name() const { return sqlam <= 6 ? ByteView(rdbnme, sizeof rdbnme) : rdbname.view(); }
    // SQLERRMSG_m when not empty, else SQLERRMSG_s (its first kSqlcaKeep bytes).
    bool message_is_mixed() const { return errmsg_m.total != 0; }
    const SqlcaText& message_field() const { return errmsg_m.total ? errmsg_m : errmsg_s; }
    ByteView message() const { return message_field().view(); }
};

// The SQLCA read one field at a time. need() is the byte count of the next
// field; take() hands over its first min(need(), kSqlcaKeep) bytes.
class SqlcaSteps {
public:
    void start(const SqlcaFormat& f);
    bool done() const { return step_ == kDone; }
    std::size_t need() const { return need_; }
    // The name of the next field ("SQLCODE", "SQLERRD3", "SQLERRMSG_m length", ...).
    const char* field() const;
    void take(ByteView bytes);
    const Sqlca& sqlca() const { return ca_; }

private:
    enum Step : std::uint8_t {
        kInd, kCode, kState, kProc, kCaxInd, kRdbnme, kErrd, kWarn, kRdbLen, kRdbBody,
        kMsgMLen, kMsgMBody, kMsgSLen, kMsgSBody, kDiagInd, kDone,
    };
    void go(Step s);
    void after_cax();
    SqlcaFormat fmt_;
    Step step_ = kDone;
    int errd_ = 0;
    std::size_t need_ = 0;
    Sqlca ca_;
};

struct SqlcaRead {
    bool complete = false;
    const char* ends_in = nullptr;  // the field the value ended in, when not complete
    std::size_t end = 0;            // bytes read (at the field it ended in, when not complete)
};

// Reads the SQLCA at the start of `value` into `out`.
SqlcaRead read_sqlca(ByteView value, const SqlcaFormat& f, Sqlca& out);

struct Token {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Splits message tokens: at every X'FF' byte (Db2; not in the UTF-16 CCSIDs
// 1200, 1202 and 13488, whose characters may hold such bytes), then at
// every U+0014 of the text decoded in `ccsid` (Derby). Empty tokens are
// kept. Fills at most `max` tokens and returns how many there are; `valid`
// is false when the text cannot be decoded in `ccsid` (then only the X'FF'
// split is made).
std::size_t split_tokens(ByteView msg, std::uint32_t ccsid, Token* out, std::size_t max, bool& valid);

// The text of bytes in `ccsid` as UTF-8; false when they do not decode.
bool token_utf8(ByteView bytes, std::uint32_t ccsid, std::string& out);

}  // namespace drda::rows
