// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/sqlda_reader.h"

namespace drda::rows {

bool SqldaReader::fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    left_ = 0;
    return false;
}

bool SqldaReader::need(std::size_t n, const char* field) {
    if (v_.has(off_, n)) return true;
    return ends_in(field);
}

bool SqldaReader::ends_in(const char* field) {
    return fail(std::string("object ends in ") + field + " (at byte " + std::to_string(off_) + " of this object)");
}

bool SqldaReader::i2(std::int16_t& x, const char* field) {
    if (!need(2, field)) return false;
    const std::uint16_t u = little_ ? static_cast<std::uint16_t>(v_.u8(off_) | v_.u8(off_ + 1) << 8) : v_.be16(off_);
    x = static_cast<std::int16_t>(u);
    off_ += 2;
    return true;
}

// A VCS or VCM: a big-endian 2-byte length, then the bytes.
bool SqldaReader::text(ByteView& t, const char* field) {
    if (!need(2, field)) return false;
    const std::size_t n = v_.be16(off_);
    off_ += 2;
    if (!need(n, field)) return false;
    t = v_.sub(off_, n);
    off_ += n;
    return true;
}

bool SqldaReader::both_set(const char* m, const char* s) {
    std::string f(m);
    const std::size_t cut = f.rfind('_');
    if (cut != std::string::npos) f.resize(cut);
    return fail(f + ": both " + m + " and " + s + " are set");
}

// The mixed and single-byte forms of one field; at most one may be set.
bool SqldaReader::pair(SqldaText& t, const char* m, const char* s) {
    ByteView a, b;
    if (!text(a, m) || !text(b, s)) return false;
    if (!a.empty() && !b.empty()) return both_set(m, s);
    t.mixed = !a.empty();
    t.bytes = t.mixed ? a : b;
    return true;
}

bool SqldaReader::header(SqldaHeader& h) {
    if (sqlam_ >= 9 || (cinrd_ && sqlam_ < 7)) {
        return fail(std::string(cinrd_ ? "SQLCINRD" : "SQLDA") + " at SQLAM " + std::to_string(sqlam_));
    }
    if (sqlam_ >= 7) {
        if (!need(1, "SQLDHGRP indicator")) return false;
        const std::uint8_t ind = v_.u8(off_++);
        if (ind < 0x80) {
            static const char* const kNames[6] = {"SQLDHOLD", "SQLDRETURN", "SQLDSCROLL",
                                                  "SQLDSENSITIVE", "SQLDFCODE", "SQLDKEYTYPE"};
            h.has_dh = true;
            for (int i = 0; i < 6; ++i)
                if (!i2(h.dh[i], kNames[i])) return false;
            if (!text(h.rdbnam.bytes, "SQLDRDBNAM") || !pair(h.schema, "SQLDSCHEMA_m", "SQLDSCHEMA_s")) return false;
        }
    }
    std::int16_t n = 0;
    if (!i2(n, "SQLNUMROW")) return false;
    if (n < 0 || n > kMaxSqldaRows) return fail("SQLNUMROW " + std::to_string(n));
    h.count = n;
    left_ = n;
    return true;
}

bool SqldaReader::next(SqldaColumn& c) {
    if (left_ <= 0) return false;
    c = SqldaColumn();
    if (!i2(c.precision, "SQLPRECISION") || !i2(c.scale, "SQLSCALE")) return false;
    const std::size_t lsize = sqlam_ >= 6 ? 8 : 4;
    if (!need(lsize, "SQLLENGTH")) return false;
    std::uint64_t len = 0;
    for (std::size_t i = 0; i < lsize; ++i) {
        const std::size_t at = little_ ? off_ + lsize - 1 - i : off_ + i;
        len = (len << 8) | v_.u8(at);
    }
    c.length = lsize == 8 ? static_cast<std::int64_t>(len) : static_cast<std::int32_t>(len);
    off_ += lsize;
    if (!i2(c.sqltype, "SQLTYPE")) return false;
    if (!need(2, "SQLCCSID")) return false;
    c.ccsid = v_.be16(off_);  // always big-endian
    off_ += 2;
    bool names = true;
    if (sqlam_ >= 7) {
        if (!need(1, "SQLDOPTGRP indicator")) return false;
        names = v_.u8(off_++) < 0x80;
        if (names && !i2(c.unnamed, "SQLUNNAMED")) return false;
    }
    if (names) {
        c.has_opt = true;
        if (!pair(c.name, "SQLNAME_m", "SQLNAME_s") || !pair(c.label, "SQLLABEL_m", "SQLLABEL_s") ||
            !pair(c.comments, "SQLCOMMENTS_m", "SQLCOMMENTS_s"))
            return false;
        if (sqlam_ >= 6) {
            const int even = c.sqltype & ~1;
            bool udt = false;
            if (even == 2000 && sqlam_ >= 7) {
                // Derby's Java-object columns: the group with no indicator,
                // its name and class.
                udt = true;
            } else {
                if (!need(1, "SQLUDTGRP indicator")) return false;
                udt = v_.u8(off_++) < 0x80;
                if (udt && sqlam_ >= 7) {
                    ByteView rdb;
                    SqldaText schema;
                    if (!need(4, "SQLUDTXTYPE")) return false;
                    off_ += 4;
                    if (!text(rdb, "SQLUDTRDB") ||
                        !pair(schema, "SQLUDTSCHEMA_m", "SQLUDTSCHEMA_s"))
                        return false;
                }
            }
            if (udt) {
                c.has_udt = true;
                if (!pair(c.udt_name, "SQLUDTNAME_m", "SQLUDTNAME_s")) return false;
                if (even == 2000 && sqlam_ >= 7 && !pair(c.udt_class, "SQLUDTCLASSNAME_m", "SQLUDTCLASSNAME_s"))
                    return false;
            }
        }
        if (sqlam_ >= 7) {
            if (!need(1, "SQLDXGRP indicator")) return false;
            if (v_.u8(off_++) < 0x80) {
                c.has_dx = true;
                if (!i2(c.keymem, "SQLXKEYMEM") || !i2(c.updatable, "SQLXUPDATEABLE") ||
                    !i2(c.generated, "SQLXGENERATED") || !i2(c.parmmode, "SQLXPARMMODE") ||
                    !text(c.rdbnam.bytes, "SQLXRDBNAM") || !pair(c.corname, "SQLXCORNAME_m", "SQLXCORNAME_s") ||
                    !pair(c.basename, "SQLXBASENAME_m", "SQLXBASENAME_s") ||
                    !pair(c.schema, "SQLXSCHEMA_m", "SQLXSCHEMA_s") || !pair(c.xname, "SQLXNAME_m", "SQLXNAME_s"))
                    return false;
            }
        }
    }
    --left_;
    return true;
}

}  // namespace drda::rows
