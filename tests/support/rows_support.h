// SPDX-License-Identifier: Apache-2.0
// Helpers of the -r tests: reading DRDADBG files back into records, running
// the reader in process, and telling the row lines of a -r output from the
// -f lines around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/trace_builder.h"

namespace testsupport {

// The records of a DRDADBG file (the time as its 8 raw bytes).
std::vector<Record> parse_trace(const std::string& bytes);

// Runs the trace reader on `bytes` in this process; the listing and the
// exit code (0 or -1).
struct InProcess {
    int status = 0;
    std::string out;
};
// `summary` and `json` as -s and -j set them.
InProcess run_in_process(const std::string& bytes, bool format, bool rows, bool summary = false, bool json = false);

// One line that -r inserted: the record it stands in and the line.
struct RowLine {
    int record = 0;
    std::string text;
    bool sqlca = false;  // an SQLCA or SQLDA line (or its continuation), not a row line
};

// Splits a -r output into the -f output and the inserted lines: every line
// of `f_out` must come in `r_out` in order, and every other line must be a
// row line in a group (a group opens with a ROWS, ROW or EXTDTA line, holds
// no empty line, and every line in it is a row line or the continuation of
// a wrapped value). Returns the inserted lines; sets `error` when the
// outputs break these rules.
std::vector<RowLine> row_lines(const std::string& f_out, const std::string& r_out, std::string* error);

// The inserted row lines of `records` (all when empty), one string, each
// line prefixed with "record|"; SQLCA and SQLDA lines are left out.
std::string row_text(const std::vector<RowLine>& lines, const std::vector<int>& records = {});
// The same for the SQLCA and SQLDA lines only.
std::string sqlca_text(const std::vector<RowLine>& lines, const std::vector<int>& records = {});

// The DSSs of a buffer, walked plainly: offset and length of each.
struct DssSpan {
    std::size_t offset;
    std::size_t length;
};
std::vector<DssSpan> dss_spans(const std::string& buffer);

// The value of the first object of the DSS at `span` (after the 6-byte
// header and the 4-byte object header).
std::string first_value(const std::string& buffer, const DssSpan& span);

// Where a shared trace lives in the source tree (NAME without .drdadbg).
std::string trace_path(const std::string& name);

// -f and -r of a shared trace through the built binary (cached): the
// inserted lines, checked to leave the -f output whole.
struct Rows {
    std::vector<RowLine> lines;
    std::string text;  // row_text of all records
    std::string r_out;
};
const Rows& rows_of(const std::string& name);

}  // namespace testsupport
