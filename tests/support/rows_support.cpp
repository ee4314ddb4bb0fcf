// SPDX-License-Identifier: Apache-2.0
#include "support/rows_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <stdexcept>

#include "common/text_writer.h"
#include "app/driver.h"

namespace testsupport {
namespace {

std::uint32_t be32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
    return v;
}

std::vector<std::string> split_lines(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at <= s.size()) {
        std::size_t nl = s.find('\n', at);
        if (nl == std::string::npos) nl = s.size();
        lines.push_back(s.substr(at, nl - at));
        at = nl + 1;
    }
    return lines;
}

bool starts(const std::string& s, std::size_t at, const char* prefix) { return s.compare(at, std::string(prefix).size(), prefix) == 0; }

enum class Kind { kNone, kOpen, kValue, kOther };

// What a line of a row group is: one that may open a group, one whose value
// may wrap onto continuation lines, another row line.
bool sqlca_open(const std::string& line) {
    const std::size_t at = line.find_first_not_of(' ');
    return at != std::string::npos && (starts(line, at, "SQLCA: ") || starts(line, at, "SQLDA: "));
}

// A detail line of a row's SQLCA, under its ROW line.
bool sqlca_detail(const std::string& line) {
    const std::size_t at = line.find_first_not_of(' ');
    return at != std::string::npos && (starts(line, at, "SQLERRMC") || starts(line, at, "SQLWARN: ") ||
                                       starts(line, at, "SQLRDBNAME: ") || starts(line, at, "SQLRDBNME: ") ||
                                       starts(line, at, "SQLDIAGGRP: "));
}

Kind kind(const std::string& line) {
    const std::size_t at = line.find_first_not_of(' ');
    if (at == std::string::npos || at < 4) return Kind::kNone;
    if (starts(line, at, "ROWS: ") || starts(line, at, "ROW ") || starts(line, at, "EXTDTA: ") ||
        starts(line, at, "SQLCA: ") || starts(line, at, "SQLDA: "))
        return Kind::kOpen;
    if (starts(line, at, "COL ") || starts(line, at, "VALUE: ") || starts(line, at, "SQL: ") ||
        starts(line, at, "SQLERRMC") || starts(line, at, "SQLRDBNAME: ") || starts(line, at, "SQLRDBNME: "))
        return Kind::kValue;
    if (starts(line, at, "SQLDH: ") || starts(line, at, "PARAM ") || starts(line, at, "SQLWARN: ") ||
        starts(line, at, "SQLDIAGGRP: "))
        return Kind::kOther;
    return Kind::kNone;
}

}  // namespace

std::vector<Record> parse_trace(const std::string& d) {
    std::vector<Record> out;
    std::size_t p = 11;
    while (p < d.size()) {
        Record r;
        r.type = d.at(p);
        const std::uint32_t n = be32(d, p + 1);
        r.function = d.substr(p + 5, n);
        p += 5 + n;
        const std::uint32_t count = be32(d, p);
        r.time_bytes = d.substr(p + 4, 8);
        p += 12;
        r.role = static_cast<std::uint8_t>(d.at(p));
        r.buffer = d.substr(p + 1, count - 1);
        p += count;
        out.push_back(r);
    }
    return out;
}

InProcess run_in_process(const std::string& bytes, bool format, bool rows, bool summary, bool json) {
    std::string copy = bytes;
    std::FILE* in = fmemopen(copy.data(), copy.size(), "rb");
    std::FILE* err = std::fopen("/dev/null", "w");
    if (!in || !err) throw std::runtime_error("fmemopen failed");
    InProcess r;
    {
        drda::StringSink sink(r.out);
        drda::TextWriter w(sink);
        drda::CommandLine line;
        line.input = "trace";
        line.format = format;
        line.rows = rows;
        line.summary = summary;
        line.exchange_lines = summary;  // -s -x: the tests read the exchange lines
        line.json = json;
        drda::Plan options;
        if (!drda::make_plan(line, options, stderr)) throw std::runtime_error("options that do not go together");
        r.status = drda::read_trace_stream(in, "trace", w, err, options);
        w.flush();
    }
    std::fclose(in);
    std::fclose(err);
    return r;
}

std::vector<RowLine> row_lines(const std::string& f_out, const std::string& r_out, std::string* error) {
    const std::vector<std::string> f = split_lines(f_out);
    const std::vector<std::string> r = split_lines(r_out);
    std::vector<RowLine> out;
    std::size_t i = 0;
    int record = 0;
    Kind last = Kind::kNone;  // kind of the last inserted line of the current group
    bool in_group = false;
    bool sqlca_group = false;  // the group opened with an SQLCA or SQLDA line
    bool sqlca_line = false;   // the last line was an SQLCA line
    std::string problem;
    for (std::size_t k = 0; k < r.size(); ++k) {
        const std::string& line = r[k];
        if (i < f.size() && line == f[i]) {
            ++i;
            in_group = false;
            const std::size_t tab = line.find("\tdata ZEV DRDA Communication Manager");
            if (tab != std::string::npos && tab > 0) record = std::stoi(line.substr(0, tab));
            continue;
        }
        Kind kd = kind(line);
        if (kd == Kind::kNone) {
            // A continuation line of a wrapped value: indented, not empty.
            const bool continuation = in_group && (last == Kind::kValue || last == Kind::kOther) &&
                                      !line.empty() && line[0] == ' ' && line.find_first_not_of(' ') != std::string::npos;
            if (!continuation && problem.empty())
                problem = "line " + std::to_string(k + 1) + " is neither a -f line nor a row line: [" + line + "]";
            kd = Kind::kOther;
        } else if (!in_group && kd != Kind::kOpen && problem.empty()) {
            problem = "line " + std::to_string(k + 1) + " begins a group but is no ROWS/ROW/EXTDTA line: [" + line + "]";
        }
        if (!in_group) sqlca_group = sqlca_open(line);
        if (kind(line) != Kind::kNone) sqlca_line = sqlca_group || sqlca_detail(line);
        in_group = true;
        last = kd;
        out.push_back(RowLine{record, line, sqlca_line});
    }
    if (i != f.size() && problem.empty())
        problem = "-f line " + std::to_string(i + 1) + " missing from the -r output: [" + f[i] + "]";
    if (error) *error = problem;
    return out;
}

namespace {

std::string lines_text(const std::vector<RowLine>& lines, const std::vector<int>& records, bool sqlca) {
    std::string s;
    for (const RowLine& l : lines) {
        if (l.sqlca != sqlca) continue;
        bool take = records.empty();
        for (int r : records) take = take || r == l.record;
        if (!take) continue;
        s += std::to_string(l.record) + "|" + l.text + "\n";
    }
    return s;
}

}  // namespace

std::string row_text(const std::vector<RowLine>& lines, const std::vector<int>& records) {
    return lines_text(lines, records, false);
}

std::string sqlca_text(const std::vector<RowLine>& lines, const std::vector<int>& records) {
    return lines_text(lines, records, true);
}

std::vector<DssSpan> dss_spans(const std::string& b) {
    std::vector<DssSpan> out;
    std::size_t p = 0;
    while (p + 6 <= b.size()) {
        std::size_t ll = (static_cast<unsigned char>(b[p]) << 8) | static_cast<unsigned char>(b[p + 1]);
        ll &= 0x7FFF;
        if (ll < 6) break;
        out.push_back(DssSpan{p, ll});
        p += ll;
    }
    return out;
}

std::string first_value(const std::string& b, const DssSpan& s) {
    const std::size_t at = s.offset + 6;
    const std::size_t ll = (static_cast<unsigned char>(b.at(at)) << 8) | static_cast<unsigned char>(b.at(at + 1));
    return b.substr(at + 4, ll - 4);
}

namespace {
std::string source(const std::string& rel) { return std::string(DSSVIEW_SOURCE_DIR) + "/" + rel; }
}  // namespace

// Where each shared trace lives in the source tree.
std::string trace_path(const std::string& name) {
    for (const char* in_examples : {"s01_connect.req", "s03_types.req", "s06_errors.req"})
        if (name == in_examples) return source("examples/" + name + ".drdadbg");
    return data_path(name + ".drdadbg");
}

// -f and -r of a trace through the built binary; the inserted lines, checked.
const Rows& rows_of(const std::string& name) {
    static std::map<std::string, Rows> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return it->second;
    const RunResult f = run_dssview({"-f", trace_path(name)});
    const RunResult r = run_dssview({"-r", trace_path(name)});
    EXPECT_EQ(f.status, 0) << name;
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.err, "") << name;
    Rows rows;
    std::string error;
    rows.lines = row_lines(f.out, r.out, &error);
    EXPECT_EQ(error, "") << name;
    rows.text = row_text(rows.lines);
    rows.r_out = r.out;
    return cache.emplace(name, std::move(rows)).first->second;
}

}  // namespace testsupport
