// SPDX-License-Identifier: Apache-2.0
// What to print of the input: connections (-c), records (-n), a time window
// (--from, --to) and exchanges by outcome, server time and statement text
// (--failed, --slow, --sql).
//
// Every record is still read and decoded; a selection only decides which
// records' blocks are printed (listing, -f, -r) and which exchanges the
// summary views count (-s, -j). The pieces here:
//   - Selection: the options as read from the command line, and the tests
//     of a record and of an exchange against them;
//   - SelectedRecords: the records that hold a DSS of an exchange the
//     exchange options select, collected by a first pass over the input;
//   - RecordFilter: decides from a record's own fields whether the listing
//     shows it;
//   - SelectingSink: passes the selected exchanges on to -s or -j.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/record.h"
#include "common/text_writer.h"
#include "summary/exchange.h"
#include "summary/figures.h"

namespace drda {

// A list of numbers as "3,7-9": sorted, merged runs.
class NumberList {
public:
    // False when `text` is not a list of numbers and ranges N-M (N <= M).
    bool parse(std::string_view text);
    bool given() const { return given_; }
    // True when nothing was given or n is in the list.
    bool pass(std::uint64_t n) const;
    // Whether any number in first..last is in the list (or nothing was given).
    bool overlaps(std::uint64_t first, std::uint64_t last) const;

private:
    struct Run {
        std::uint64_t first, last;
    };
    std::vector<Run> runs_;
    bool given_ = false;
};

// One end of the time window: a date and time as the output prints it, or
// a time of day that means that time on the day of the input's first record.
class TimeBound {
public:
    // False when `text` is not "YYYY-MM-DD HH:MM[:SS[.fraction]]" or
    // "HH:MM[:SS[.fraction]]".
    bool parse(std::string_view text);
    bool given() const { return given_; }
    // Fixes the day of a time of day: the local date of `t`.
    void set_day(double t);
    bool resolved() const { return given_ && !key_.empty(); }
    // The printed time (the text of a "time" line) against the bound: -1,
    // 0 or 1 as the printed time cut to the bound's length sorts before,
    // equal to or after it.
    int compare(std::string_view printed) const;
    // The bound as a span of seconds since the epoch: [begin, end), end
    // being begin plus the unit of its last digit.
    double begin() const { return begin_; }
    double end() const { return end_; }

private:
    void resolve();
    bool given_ = false;
    bool has_date_ = false;
    std::string text_;  // as given
    std::string key_;   // "YYYY-MM-DD HH:MM..." once the date is known
    double begin_ = 0, end_ = 0;
};

struct Selection {
    NumberList conns;    // -c
    NumberList records;  // -n
    TimeBound from, to;  // --from, --to
    bool failed = false;  // --failed
    bool has_slow = false;  // --slow
    double slow_ms = 0;
    bool has_sql = false;  // --sql
    std::string sql;       // lower-case ASCII
    std::string text;      // the options as given, for the summary: "-c 3 --failed"

    bool any() const { return conns.given() || records.given() || window() || exchange_options(); }
    bool window() const { return from.given() || to.given(); }
    // Options decided by an exchange's end: its outcome, time, statement.
    bool exchange_options() const { return failed || has_slow || has_sql; }

    // The connection number the output shows: a capture's own, 1 for a
    // trace file's one conversation.
    static std::uint64_t shown_conn(bool has_conn, std::uint32_t conn) { return summary::shown_conn(has_conn, conn); }

    // Fixes the day of times of day from the input's first time.
    void first_time(double t) {
        from.set_day(t);
        to.set_day(t);
    }
    // A record's printed time (empty: none) within --from/--to.
    bool time_text_passes(std::string_view printed) const;
    // The exchange options alone.
    bool exchange_kind_passes(const summary::Exchange& e) const;
    // Everything, for -s and -j: -c by the connection, -n by any record
    // of the exchange, --from/--to by its request time (or its first
    // reply's when it has no request), and the exchange options.
    bool exchange_passes(const summary::Exchange& e) const;
};

// Reads the selection option at argv[i] and its value. Returns 0 when
// argv[i] is none, 1 when it was read (i is left at its value), -1 when it
// is malformed (the message, naming the option, is on `err`).
int parse_selection_option(int argc, const char* const* argv, int& i, Selection& sel, std::FILE* err);

// The records that hold a request or reply DSS of an exchange the exchange
// options select (and -c lets through), gathered while the tracker runs
// over the whole input: runs of record numbers per connection. At most
// kMaxRuns runs are held; an exchange past them is not held and the
// records from its first on are reported as not tested.
class SelectedRecords final : public summary::ExchangeSink {
public:
    static constexpr std::size_t kMaxRuns = std::size_t{1} << 21;

    explicit SelectedRecords(const Selection& sel) : sel_(sel) {}
    void exchange(const summary::Exchange& e) override;
    void finish(const summary::Totals&) override;

    // Whether record `number` of connection `conn` (0 for a trace file)
    // holds a DSS of a selected exchange.
    bool holds(std::uint32_t conn, int number) const;
    // The first record of an exchange that could not be held; 0: none.
    int not_held_from() const { return not_held_from_; }

private:
    struct Run {
        std::uint32_t conn;
        int first, last;
    };
    const Selection& sel_;
    std::vector<Run> runs_;
    int not_held_from_ = 0;
};

// Which records the listing shows, from each record's own fields: its
// connection (-c), its number (-n), its time as its header shows it
// (--from, --to) and, with exchange options, whether a first pass found it
// in a selected exchange (`held`, may be null otherwise).
class RecordFilter {
public:
    RecordFilter(const Selection& sel, bool capture, const SelectedRecords* held)
        : sel_(sel), capture_(capture), held_(held) {}

    // Whether a connection's records can be shown at all (-c): when not, its
    // decoders need not run and its CONNECTION lines are left out.
    bool conn_shown(std::uint32_t conn) const { return sel_.conns.pass(Selection::shown_conn(capture_, conn)); }
    // `time_text`: the record's time as its header shows it, empty when none.
    bool shows(const Record& rec, std::string_view time_text) const;
    // A record the input ends inside, read as far as it goes: its time and
    // exchanges are not known, so it is shown only by -c and -n.
    bool shows_cut(int number) const;
    // Records a first pass could not hold, from number on; 0: none.
    int not_held_from() const { return held_ ? held_->not_held_from() : 0; }

private:
    const Selection& sel_;
    bool capture_;
    const SelectedRecords* held_;
};

// Passes on to `next` the exchanges the selection lets through, the
// connections of those exchanges (of every connection -c lets through when
// -c is the only option), and the input with the selection's text.
class SelectingSink final : public summary::ExchangeSink {
public:
    SelectingSink(const Selection& sel, summary::ExchangeSink& next) : sel_(sel), next_(next) {}
    void exchange(const summary::Exchange& e) override;
    void connection(const summary::ConnectionInfo& c) override;
    void input(const summary::InputInfo& info) override;
    void finish(const summary::Totals& totals) override;

private:
    const Selection& sel_;
    summary::ExchangeSink& next_;
    std::unordered_set<std::uint32_t> with_selected_;  // connections still open that had one
    std::uint64_t passed_ = 0;
};

}  // namespace drda
