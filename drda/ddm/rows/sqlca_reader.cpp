// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/sqlca_reader.h"

#include <cstring>

#include "ddm/rows/ccsid_tables.h"

namespace drda::rows {
namespace {

std::int32_t int32(ByteView v, bool little) {
    const std::uint32_t u = little ? (std::uint32_t{v.u8(0)} | std::uint32_t{v.u8(1)} << 8 |
                                      std::uint32_t{v.u8(2)} << 16 | std::uint32_t{v.u8(3)} << 24)
                                   : v.be32(0);
    return static_cast<std::int32_t>(u);
}

void keep(SqlcaText& t, ByteView v) {
    t.kept = v.size() < kSqlcaKeep ? v.size() : kSqlcaKeep;
    if (t.kept) std::memcpy(t.bytes, v.data(), t.kept);
}

const char* const kErrdNames[6] = {"SQLERRD1", "SQLERRD2", "SQLERRD3", "SQLERRD4", "SQLERRD5", "SQLERRD6"};

bool utf16(std::uint32_t ccsid) { return ccsid == 1200 || ccsid == 1202 || ccsid == 13488; }

}  // namespace

void SqlcaSteps::start(const SqlcaFormat& f) {
    fmt_ = f;
    ca_.null = true;
    ca_.indicator = 0xFF;
    ca_.sqlcode = 0;
    std::memset(ca_.sqlstate, 0, sizeof ca_.sqlstate);
    std::memset(ca_.sqlerrproc, 0, sizeof ca_.sqlerrproc);
    ca_.has_errd = false;
    std::memset(ca_.sqlerrd, 0, sizeof ca_.sqlerrd);
    std::memset(ca_.sqlwarn, 0, sizeof ca_.sqlwarn);
    std::memset(ca_.rdbnme, 0, sizeof ca_.rdbnme);
    ca_.rdbname.total = ca_.rdbname.kept = 0;
    ca_.errmsg_m.total = ca_.errmsg_m.kept = 0;
    ca_.errmsg_s.total = ca_.errmsg_s.kept = 0;
    ca_.diag = false;
    ca_.sqlam = f.sqlam;
    errd_ = 0;
    go(kInd);
}

void SqlcaSteps::go(Step s) {
    step_ = s;
    switch (s) {
        case kInd:
        case kCaxInd:
        case kDiagInd: need_ = 1; break;
        case kCode: need_ = 4; break;
        case kState: need_ = 5; break;
        case kProc: need_ = 8; break;
        case kRdbnme: need_ = 18; break;
        case kErrd: need_ = 4; break;
        case kWarn: need_ = 11; break;
        case kRdbLen:
        case kMsgMLen:
        case kMsgSLen: need_ = 2; break;
        case kRdbBody: need_ = ca_.rdbname.total; break;
        case kMsgMBody: need_ = ca_.errmsg_m.total; break;
        case kMsgSBody: need_ = ca_.errmsg_s.total; break;
        case kDone: need_ = 0; break;
    }
}

void SqlcaSteps::after_cax() { go(fmt_.sqlam >= 7 ? kDiagInd : kDone); }

const char* SqlcaSteps::field() const {
    switch (step_) {
        case kInd: return "SQLCAGRP indicator";
        case kCode: return "SQLCODE";
        case kState: return "SQLSTATE";
        case kProc: return "SQLERRPROC";
        case kCaxInd: return "SQLCAXGRP indicator";
        case kRdbnme: return "SQLRDBNME";
        case kErrd: return kErrdNames[errd_ < 6 ? errd_ : 5];
        case kWarn: return "SQLWARN";
        case kRdbLen: return "SQLRDBNAME length";
        case kRdbBody: return "SQLRDBNAME";
        case kMsgMLen: return "SQLERRMSG_m length";
        case kMsgMBody: return "SQLERRMSG_m";
        case kMsgSLen: return "SQLERRMSG_s length";
        case kMsgSBody: return "SQLERRMSG_s";
        case kDiagInd: return "SQLDIAGGRP indicator";
        case kDone: break;
    }
    return "";
}

void SqlcaSteps::take(ByteView b) {
    switch (step_) {
        case kInd:
            ca_.indicator = b.u8(0);
            ca_.null = ca_.indicator >= 0x80;
            return ca_.null ? go(kDone) : go(kCode);
        case kCode:
            ca_.sqlcode = int32(b, fmt_.little);
            return go(kState);
        case kState:
            std::memcpy(ca_.sqlstate, b.data(), b.size() < 5 ? b.size() : 5);
            return go(kProc);
        case kProc:
            std::memcpy(ca_.sqlerrproc, b.data(), b.size() < 8 ? b.size() : 8);
            return go(kCaxInd);
        case kCaxInd:
            if (b.u8(0) >= 0x80) return after_cax();
            ca_.has_errd = true;
            return go(fmt_.sqlam <= 6 ? kRdbnme : kErrd);
        case kRdbnme:
            std::memcpy(ca_.rdbnme, b.data(), b.size() < 18 ? b.size() : 18);
            return go(kErrd);
        case kErrd:
            ca_.sqlerrd[errd_] = int32(b, fmt_.little);
            return ++errd_ < 6 ? go(kErrd) : go(kWarn);
        case kWarn:
            std::memcpy(ca_.sqlwarn, b.data(), b.size() < 11 ? b.size() : 11);
            return go(fmt_.sqlam >= 7 ? kRdbLen : kMsgMLen);
        case kRdbLen:
            ca_.rdbname.total = b.be16(0);
            return go(kRdbBody);
        case kRdbBody:
            keep(ca_.rdbname, b);
            return go(kMsgMLen);
        case kMsgMLen:
            ca_.errmsg_m.total = b.be16(0);
            return go(kMsgMBody);
        case kMsgMBody:
            keep(ca_.errmsg_m, b);
            return go(kMsgSLen);
        case kMsgSLen:
            ca_.errmsg_s.total = b.be16(0);
            return go(kMsgSBody);
        case kMsgSBody:
            keep(ca_.errmsg_s, b);
            return after_cax();
        case kDiagInd:
            ca_.diag = b.u8(0) < 0x80;
            return go(kDone);
        case kDone: return;
    }
}

SqlcaRead read_sqlca(ByteView value, const SqlcaFormat& f, Sqlca& out) {
    SqlcaSteps s;
    s.start(f);
    SqlcaRead r;
    std::size_t pos = 0;
    while (!s.done()) {
        const std::size_t n = s.need();
        if (!value.has(pos, n)) {
            r.ends_in = s.field();
            r.end = pos;
            out = s.sqlca();
            return r;
        }
        s.take(value.sub(pos, n < kSqlcaKeep ? n : kSqlcaKeep));
        pos += n;
    }
    out = s.sqlca();
    r.complete = true;
    r.end = pos;
    return r;
}

std::size_t split_tokens(ByteView msg, std::uint32_t ccsid, Token* out, std::size_t max, bool& valid) {
    const Charset* cs = find_charset(ccsid);
    valid = cs != nullptr;
    const bool ff = !utf16(ccsid);
    std::size_t count = 0;
    std::size_t start = 0;
    const auto add = [&](std::size_t end) {
        if (count < max) out[count] = Token{start, end - start};
        ++count;
    };
    std::size_t at = 0;
    while (at < msg.size()) {
        const std::uint8_t b = msg.u8(at);
        if (ff && b == 0xFF) {
            add(at);
            start = ++at;
            continue;
        }
        if (!valid) {
            ++at;
            continue;
        }
        std::uint32_t cp = 0;
        const int k = decode_char(*cs, msg.data() + at, msg.size() - at, cp);
        if (k <= 0) {
            // A character cut at the end of what is kept is dropped; any
            // other undecodable byte makes the text undecodable.
            if (k < 0) valid = false;
            if (k == 0) break;
            ++at;
            continue;
        }
        if (cp == 0x14) {
            add(at);
            at += static_cast<std::size_t>(k);
            start = at;
            continue;
        }
        at += static_cast<std::size_t>(k);
    }
    add(at < msg.size() ? at : msg.size());
    return count;
}

bool token_utf8(ByteView bytes, std::uint32_t ccsid, std::string& out) {
    out.clear();
    const Charset* cs = find_charset(ccsid);
    if (!cs) return false;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::uint32_t cp = 0;
        const int k = decode_char(*cs, bytes.data() + at, bytes.size() - at, cp);
        if (k <= 0) return false;
        at += static_cast<std::size_t>(k);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return true;
}

}  // namespace drda::rows
