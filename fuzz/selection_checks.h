// SPDX-License-Identifier: Apache-2.0
// Selections in the whole-tool checks: a random selection drawn from the
// input's hash, run with one listing mode and one of -s and -j (two more
// runs of the tool per input, to keep executions fast), and the properties that hold for any selection, checked
// against the output of the same run without one:
//   - the listing, -f and -r text with a selection is, block by block, a
//     subsequence of the text without it (blocks: the file header, a record
//     from its record line, a CONNECTION line, an ERROR line, the IP
//     FRAGMENTS line), with every ERROR line and the header kept, and no
//     record or CONNECTION line that -c or -n leaves out;
//   - with -c and -n alone, exactly the blocks those lists let through;
//   - -j with a selection is, line by line, a subsequence of -j without.
// The status and the error stream are those of the run without a
// selection. The checks know the output only by its line starts; what a
// selection means for exchanges is left to tests/selection_check.py.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/selection.h"

namespace selcheck {

// FNV-1a over the input, then splitmix64 steps: the draws of one input.
class Draws {
public:
    Draws(const std::uint8_t* data, std::size_t size) {
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
        state_ = h;
    }
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
    bool chance(unsigned in) { return below(in) == 0; }

private:
    std::uint64_t state_;
};

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

inline bool in_ranges(const Ranges& r, std::uint64_t n) {
    if (r.empty()) return true;  // not given
    for (const auto& [a, b] : r)
        if (a <= n && n <= b) return true;
    return false;
}

// A selection as command-line words, with what the checks need to know of it.
struct RandomSelection {
    std::vector<std::string> args;
    Ranges conns, records;       // empty: not given
    bool only_lists = true;      // no time window and no exchange option
    int mode = 0;                // the listing mode to run: 0 listing, 1 -f, 2 -r
    bool summary = false;        // and then -s (else -j)
    std::string text() const {
        std::string t;
        for (const auto& a : args) t += (t.empty() ? "" : " ") + a;
        return t;
    }
};

// The printed times ("\ttime  ...") of a listing, for windows that cut it.
inline std::vector<std::string_view> printed_times(std::string_view listing) {
    std::vector<std::string_view> times;
    constexpr std::string_view kTime = "\n\ttime  ";
    for (std::size_t at = listing.find(kTime); at != std::string_view::npos && times.size() < 64;
         at = listing.find(kTime, at + 1)) {
        const std::size_t b = at + kTime.size();
        const std::size_t e = listing.find('\n', b);
        times.push_back(listing.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
    }
    return times;
}

// A time bound cut from a printed time: the date and time to the minute,
// second or a tenth, or the time of day alone; the time of day alone when
// the date is one the option does not take.
inline std::string time_bound(Draws& d, std::string_view printed) {
    static constexpr std::size_t kCuts[] = {16, 19, 21, 100};
    std::string t(printed.substr(0, kCuts[d.below(4)]));
    drda::TimeBound probe;
    if (d.chance(3) || !probe.parse(t)) {
        t = std::string(printed.size() > 11 ? printed.substr(11) : std::string_view("00:00"));
        static constexpr std::size_t kDay[] = {5, 8, 10};  // HH:MM, HH:MM:SS, HH:MM:SS.f
        t = t.substr(0, kDay[d.below(3)]);
        if (!probe.parse(t)) t = "00:00";
    }
    return t;
}

// One selection drawn from the input; `listing` (the output without a
// selection) gives the times of the window.
inline RandomSelection draw_selection(const std::uint8_t* data, std::size_t size, std::string_view listing) {
    Draws d(data, size);
    RandomSelection s;
    s.mode = static_cast<int>(d.below(3));
    s.summary = d.chance(2);
    auto list = [&](const char* opt, Ranges& r, unsigned span, unsigned width) {
        std::string v;
        for (unsigned k = 0, n = 1 + d.below(2); k < n; ++k) {
            const std::uint64_t a = 1 + d.below(span);
            const std::uint64_t b = a + (d.chance(2) ? 0 : d.below(width));
            r.emplace_back(a, b);
            v += (v.empty() ? "" : ",") + std::to_string(a) + (b == a ? "" : "-" + std::to_string(b));
        }
        s.args.insert(s.args.end(), {opt, v});
    };
    if (d.chance(2)) list("-c", s.conns, 4, 3);
    if (d.chance(2)) list("-n", s.records, 12, 8);
    if (d.chance(3)) {
        s.only_lists = false;
        const unsigned which = d.below(7);  // bits: --failed, --slow, --sql
        if ((which + 1) & 1) s.args.push_back("--failed");
        if ((which + 1) & 2) {
            static constexpr const char* kMs[] = {"0", "0.5", "5", "250", "100000"};
            s.args.insert(s.args.end(), {"--slow", kMs[d.below(5)]});
        }
        if ((which + 1) & 4) {
            static constexpr const char* kSql[] = {"select", "E", "from", "Sys", "values (", "call", "%"};
            s.args.insert(s.args.end(), {"--sql", kSql[d.below(7)]});
        }
    }
    const auto times = printed_times(listing);
    if (!times.empty() && d.chance(4)) {
        s.only_lists = false;
        const unsigned ends = 1 + d.below(3);  // 1: --from, 2: --to, 3: both
        if (ends & 1) s.args.insert(s.args.end(), {"--from", time_bound(d, times[d.below(times.size())])});
        if (ends & 2) s.args.insert(s.args.end(), {"--to", time_bound(d, times[d.below(times.size())])});
    }
    if (s.args.empty()) list("-n", s.records, 12, 8);
    return s;
}

// Reads the words into a Selection the way the command line does; "" or
// why the tool refused them.
inline std::string make_selection(const RandomSelection& s, drda::Selection& sel) {
    std::vector<const char*> argv;
    for (const auto& a : s.args) argv.push_back(a.c_str());
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const int argc = static_cast<int>(argv.size());
    for (int i = 0; i < argc; ++i)
        if (drda::parse_selection_option(argc, argv.data(), i, sel, sink ? sink : stderr) != 1)
            return "the tool refused the selection " + s.text();
    return "";
}

// ---------------------------------------------------------------------------
// Blocks of a listing, known by their first lines.

struct Block {
    enum Kind { header, record, connection, error, other } kind = header;
    std::uint64_t number = 0, conn = 0;  // a record's; a CONNECTION line's conn
    std::string_view text;               // without the empty lines at its end
};

inline bool read_digits(std::string_view line, std::size_t& at, std::uint64_t& n) {
    const std::size_t start = at;
    n = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && at - start < 18) n = n * 10 + (line[at++] - '0');
    return at > start;
}

// What kind of block `line` begins, if any.
inline bool block_start(std::string_view line, bool capture, Block& b) {
    std::size_t at = 0;
    std::uint64_t n = 0;
    if (read_digits(line, at, n) && at < line.size() && line[at] == '\t') {
        const std::string_view rest = line.substr(at + 1);
        if (!capture && rest.substr(0, 8) == "data ZEV") {
            b = {Block::record, n, 1, {}};
            return true;
        }
        std::size_t c = 11;
        std::uint64_t conn = 0;
        if (capture && rest.substr(0, 11) == "connection " && read_digits(rest, c, conn) && c < rest.size() &&
            rest[c] == ' ') {
            b = {Block::record, n, conn, {}};
            return true;
        }
        return false;
    }
    if (line.substr(0, 11) == "CONNECTION ") {
        at = 11;
        if (read_digits(line, at, n) && at < line.size() && line[at] == ':') {
            b = {Block::connection, 0, n, {}};
            return true;
        }
    }
    if (line.substr(0, 6) == "ERROR:") {
        b = {Block::error, 0, 0, {}};
        return true;
    }
    if (line.substr(0, 13) == "IP FRAGMENTS:") {
        b = {Block::other, 0, 0, {}};
        return true;
    }
    return false;
}

// The blocks of `text`, the header first (possibly empty). Empty lines at a
// block's end are left out: the empty line that sets a CONNECTION line
// apart depends on what was printed before it.
inline std::vector<Block> blocks(std::string_view text, bool capture) {
    std::vector<Block> out(1);
    std::size_t begin = 0;
    auto close = [&](std::size_t end) {
        std::string_view t = text.substr(begin, end - begin);
        while (!t.empty() && t.back() == '\n') t.remove_suffix(1);
        out.back().text = t;
    };
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        Block b;
        if (block_start(text.substr(pos, nl - pos), capture, b)) {
            close(pos);
            out.push_back(b);
            begin = pos;
        }
        pos = nl + 1;
    }
    close(text.size());
    return out;
}

inline const char* kind_name(Block::Kind k) {
    switch (k) {
        case Block::header: return "the header";
        case Block::record: return "a record";
        case Block::connection: return "a CONNECTION line";
        case Block::error: return "an ERROR line";
        default: return "a line";
    }
}

inline std::string describe(const Block& b) {
    std::string s = kind_name(b.kind);
    if (b.kind == Block::record)
        s += " (" + std::to_string(b.number) + " of connection " + std::to_string(b.conn) + ")";
    if (b.kind == Block::connection) s += " (" + std::to_string(b.conn) + ")";
    return s;
}

// The listing text `got` with selection `s` against `full`, the text of the
// same mode without it. "" when every property holds.
inline std::string check_listing_selection(std::string_view full, std::string_view got, const RandomSelection& s,
                                           bool capture) {
    const std::vector<Block> all = blocks(full, capture);
    const std::vector<Block> sel = blocks(got, capture);
    const std::string with = " with " + s.text();
    if (sel.front().text != all.front().text) return "the header differs" + with;
    // Block by block a subsequence of the whole, every ERROR and IP
    // FRAGMENTS line kept, and nothing that -c or -n leaves out.
    std::size_t j = 0;
    for (std::size_t i = 0; i < sel.size(); ++i) {
        const Block& b = sel[i];
        if (b.kind == Block::record &&
            (!in_ranges(s.conns, b.conn) || !in_ranges(s.records, b.number)))
            return describe(b) + " that -c or -n leaves out" + with;
        if (b.kind == Block::connection && !in_ranges(s.conns, b.conn))
            return describe(b) + " that -c leaves out" + with;
        while (j < all.size() && (all[j].kind != b.kind || all[j].text != b.text)) {
            if (all[j].kind == Block::error || all[j].kind == Block::other)
                return describe(all[j]) + " of the whole output left out" + with;
            ++j;
        }
        if (j == all.size())
            return describe(b) + " (block " + std::to_string(i) + ") not in the whole output in that place" + with;
        ++j;
    }
    for (; j < all.size(); ++j)
        if (all[j].kind == Block::error || all[j].kind == Block::other)
            return describe(all[j]) + " of the whole output left out" + with;
    if (!s.only_lists) return "";
    // -c and -n alone: exactly the blocks they let through.
    std::vector<const Block*> want;
    for (const Block& b : all) {
        if (b.kind == Block::record && (!in_ranges(s.conns, b.conn) || !in_ranges(s.records, b.number))) continue;
        if (b.kind == Block::connection && !in_ranges(s.conns, b.conn)) continue;
        want.push_back(&b);
    }
    for (std::size_t i = 0; i < want.size() || i < sel.size(); ++i) {
        if (i == sel.size()) return describe(*want[i]) + " missing" + with;
        if (i == want.size() || want[i]->text != sel[i].text)
            return describe(sel[i]) + " where " + (i < want.size() ? describe(*want[i]) : "nothing") + " belongs" +
                   with;
    }
    return "";
}

// -j with a selection: its lines a subsequence of the lines without.
inline std::string check_json_selection(std::string_view full, std::string_view got, const RandomSelection& s) {
    std::size_t j = 0;
    for (std::size_t p = 0; p < got.size();) {
        std::size_t e = got.find('\n', p);
        if (e == std::string_view::npos) e = got.size() - 1;
        const std::string_view line = got.substr(p, e + 1 - p);
        for (;;) {
            if (j >= full.size()) return "a -j line not in the -j output without the selection, with " + s.text();
            std::size_t f = full.find('\n', j);
            if (f == std::string_view::npos) f = full.size() - 1;
            const bool same = full.substr(j, f + 1 - j) == line;
            j = f + 1;
            if (same) break;
        }
        p = e + 1;
    }
    return "";
}

}  // namespace selcheck
