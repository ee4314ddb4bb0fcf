// SPDX-License-Identifier: Apache-2.0
// The text of row lines: the ROW line with its SQLCA, and COL lines with
// their type and value, written at a given depth.
#pragma once

#include <cstdint>
#include <string_view>

#include "ddm/rows/descriptor.h"
#include "ddm/rows/row_engine.h"
#include "ddm/rows/typdef.h"
#include "ddm/rows/value_format.h"
#include "common/text_writer.h"

namespace drda::rows {

// "ROW r:" [" SQLCA SQLCODE c SQLSTATE s SQLERRPROC p" [" SQLERRD e1 .. e6"]]
// [" NO DATA"], after the caller's indentation, with the newline.
void write_row_line(TextWriter& w, std::uint64_t row, const Sqlca* sqlca, bool no_data, const Typdef& td);

// The type as a COL line shows it: the name (or "TYPE hh"), "(n)" or
// "(p,s)", " (OUTOVR)".
void write_type(TextWriter& w, const Column& c);

// The CCSID a character column is read in: its late SDA's, else the
// TYPDEF's for its class; 0 when none is known.
std::uint32_t column_ccsid(const Column& c, const Typdef& td, const Descriptor* d);

// "COL c [NAME ]TYPE: VALUE" after the caller's indentation of `depth`,
// wrapped, with the newline; `name` as an SQLDA gave it (empty: none). Returns true when the value is a LOB placeholder that
// announces an EXTDTA.
bool write_column_line(TextWriter& w, int depth, const Column& c, const ColumnValue& v, const Typdef& td,
                       const Descriptor* d, std::string_view name = {});

// Characters a type takes at most as a COL line shows it.
inline constexpr std::size_t kTypeText = 64;
// Room a COL line's label "COL c [NAME ]TYPE: " takes at most.
constexpr std::size_t label_room(std::size_t name_size) { return 24 + name_size + kTypeText; }
// "[NAME ]TYPE: ", the label behind "COL c ", at p; returns the end.
char* format_label_tail(char* p, const Column& c, std::string_view name);

// The value of a COL line behind its label, wrapped, with the newline:
// what write_column_line writes after the label. `charset` and `ccsid`
// are those of character columns (find_charset(column_ccsid(...))).
bool write_column_value(WrapWriter& ww, const Column& c, const ColumnValue& v, const Typdef& td,
                        const Charset* charset, std::uint32_t ccsid);

// Upper-case hex pair of a byte.
void put_hex2(TextWriter& w, std::uint8_t b);
void put_num(TextWriter& w, std::uint64_t v);

}  // namespace drda::rows
