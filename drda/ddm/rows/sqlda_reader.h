// SPDX-License-Identifier: Apache-2.0
// The SQL descriptor area of an SQLDARD or SQLCINRD read from its value:
// SQLDHGRP, SQLNUMROW and one SQLDAGRP (with its SQLDOPTGRP, SQLUDTGRP and
// SQLDXGRP) per column or parameter, at SQLAM 5 to 8. A cursor over the
// bounded view: the groups are read one at a time, nothing is copied.
//
//   SqldaReader r(value, offset_after_sqlca, little, sqlam);
//   SqldaHeader h;  if (!r.header(h)) -> r.error()
//   SqldaColumn c;  while (r.next(c)) ...;  if (!r.error().empty()) ...
//   r.offset() < value.size(): bytes after the last SQLDAGRP
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/byte_view.h"

namespace drda::rows {

// Most SQLDAGRPs read from one SQLDA (the column bound of the row decoder).
inline constexpr int kMaxSqldaRows = 4096;

// A varying-length character field: the mixed (_m) or single-byte (_s)
// form, whichever is set.
struct SqldaText {
    ByteView bytes;
    bool mixed = false;
    bool empty() const { return bytes.empty(); }
};

struct SqldaHeader {
    bool has_dh = false;          // SQLDHGRP present and not null
    std::int16_t dh[6] = {};      // SQLDHOLD, SQLDRETURN, SQLDSCROLL, SQLDSENSITIVE, SQLDFCODE, SQLDKEYTYPE
    SqldaText rdbnam, schema;
    int count = 0;                // SQLNUMROW
};

struct SqldaColumn {
    std::int16_t precision = 0, scale = 0;
    std::int64_t length = 0;
    std::int16_t sqltype = 0;
    std::uint16_t ccsid = 0;
    bool has_opt = false;         // SQLDOPTGRP (or the SQLAM 6 and below names)
    std::int16_t unnamed = 0;
    SqldaText name, label, comments;
    bool has_udt = false;
    SqldaText udt_name, udt_class;
    bool has_dx = false;
    std::int16_t keymem = 0, updatable = 0, generated = 0, parmmode = 0;
    SqldaText rdbnam, corname, basename, schema, xname;
};

class SqldaReader {
public:
    // `cinrd`: an SQLCINRD (no SQLCA before it; only SQLAM 7 and 8).
    SqldaReader(ByteView value, std::size_t offset, bool little, int sqlam, bool cinrd)
        : v_(value), off_(offset), little_(little), sqlam_(sqlam), cinrd_(cinrd) {}

    // SQLDHGRP (SQLAM 7 and above) and SQLNUMROW.
    bool header(SqldaHeader& h);
    // The next SQLDAGRP; false after the last one or on a fault (error()).
    bool next(SqldaColumn& c);
    const std::string& error() const { return error_; }
    std::size_t offset() const { return off_; }

private:
    bool need(std::size_t n, const char* field);
    // The faults, out of the way of the reads.
    [[gnu::noinline, gnu::cold]] bool ends_in(const char* field);
    [[gnu::noinline, gnu::cold]] bool both_set(const char* m, const char* s);
    bool i2(std::int16_t& x, const char* field);
    bool text(ByteView& t, const char* field);
    bool pair(SqldaText& t, const char* m, const char* s);
    bool fail(const std::string& why);

    ByteView v_;
    std::size_t off_;
    bool little_;
    int sqlam_;
    bool cinrd_;
    int left_ = 0;
    std::string error_;
};

// The name an SQLTYPE is shown with ("INTEGER", ...; "SQLTYPE" when unknown),
// whatever its nullability bit.
const char* sqltype_name(int sqltype);

}  // namespace drda::rows

namespace drda::rows {
// True when the SQLTYPE table is sorted, even and unique (a table test).
bool sqltype_table_ok();
}  // namespace drda::rows
