// SPDX-License-Identifier: Apache-2.0
// The properties of -r against -f on a whole input (trace or capture), read
// from memory: shared by the fuzz_tool_rows target and the corpus replay
// test (fuzz/corpus/tool_rows).
//
// -r and -f end with the same result; every line of the -f output comes in
// the -r output, in order, and every other line is a row line in a group (a
// group opens with a ROWS, ROW or EXTDTA line at a depth of 4 or more,
// holds no empty line, and its other lines are row lines or continuations
// of a wrapped value, which may begin with any text); every character is
// printable ASCII or a newline (tabs only in -f lines); the text stays
// within a bound linear in the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/driver.h"
#include "common/text_writer.h"

namespace rowscheck {

inline int run(const std::uint8_t* data, std::size_t size, bool rows, std::string& text) {
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    std::FILE* err = std::fopen("/dev/null", "w");
    if (!in || !err) std::abort();
    drda::StringSink sink(text);
    int status;
    {
        drda::TextWriter out(sink);
        drda::Plan options;
        options.decode = rows ? drda::Plan::Decode::rows : drda::Plan::Decode::format;
        status = drda::read_trace_stream(in, "fuzz", out, err, options);
        out.flush();
    }
    std::fclose(in);
    std::fclose(err);
    return status;
}

inline bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// 0: not a row line; 1: opens a group; 2: may be followed by continuations.
inline int row_kind(std::string_view line) {
    const std::size_t at = line.find_first_not_of(' ');
    if (at == std::string_view::npos || at < 4) return 0;
    const std::string_view t = line.substr(at);
    if (starts(t, "ROWS: ") || starts(t, "ROW ") || starts(t, "EXTDTA: ") || starts(t, "SQLCA: ") ||
        starts(t, "SQLDA: "))
        return 1;
    if (starts(t, "COL ") || starts(t, "VALUE: ") || starts(t, "SQL: ") || starts(t, "SQLERRMC") ||
        starts(t, "SQLRDBNAME: ") || starts(t, "SQLRDBNME: "))
        return 2;
    // Detail lines of an SQLCA or SQLDA: inside a group, never wrapped.
    if (starts(t, "SQLDH: ") || starts(t, "PARAM ") || starts(t, "SQLWARN: ") || starts(t, "SQLDIAGGRP: "))
        return 4;
    return 0;
}

// Empty when every property holds, else what failed (and the line).
inline std::string check(const std::uint8_t* data, std::size_t size) {
    const auto failed = [](const char* what, std::string_view line = {}) {
        std::string s = what;
        if (!line.empty()) s += ": \"" + std::string(line) + "\"";
        return s;
    };
    std::string f, r;
    const int fs = run(data, size, false, f);
    const int rs = run(data, size, true, r);
    if (fs != rs) return failed("-r changed the result");
    if (r.size() > 4096 * size + 65536) return failed("output not linear in the input");

    std::size_t fi = 0, ri = 0;
    bool in_group = false;
    int last = 0;
    std::size_t prev_size = 0;
    while (ri < r.size()) {
        std::size_t re = r.find('\n', ri);
        if (re == std::string::npos) re = r.size();
        const std::string_view line(r.data() + ri, re - ri);
        std::size_t fe = fi < f.size() ? f.find('\n', fi) : std::string::npos;
        if (fi < f.size() && fe == std::string::npos) fe = f.size();
        if (fi < f.size() && std::string_view(f.data() + fi, fe - fi) == line) {
            fi = fe + 1;
            in_group = false;
        } else {
            for (char c : line)
                if (c < 0x20 || c > 0x7E) return failed("unprintable character in a row line", line);
            int kind = row_kind(line);
            const bool may_continue = in_group && (last == 2 || last == 3) && !line.empty() && line[0] == ' ' &&
                                      line.find_first_not_of(' ') != std::string_view::npos;
            // A wrapped value goes on at the indentation of its first line,
            // 70 characters a line, so its text can begin with anything,
            // "PARAM " or "ROW " included: a line that follows a full one
            // is taken as its continuation.
            const std::size_t indent = line.find_first_not_of(' ');
            if (kind != 0 && may_continue && prev_size >= 70 && prev_size - 70 <= indent) kind = 3;
            if (kind == 0) {
                if (!may_continue) return failed("a line that is neither -f output nor a row line", line);
                kind = 3;
            } else if (!in_group && kind != 1) {
                return failed("a row group that opens with no ROWS, ROW or EXTDTA line", line);
            }
            in_group = true;
            last = kind;
        }
        prev_size = line.size();
        ri = re + 1;
    }
    if (fi < f.size()) return failed("a -f line is missing from the -r output");
    return {};
}

}  // namespace rowscheck
