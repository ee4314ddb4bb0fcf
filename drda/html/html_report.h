// SPDX-License-Identifier: Apache-2.0
// The --html view: one self-contained page (overview, timeline, latency,
// the -s tables, and the -r text of the failed and slowest exchanges),
// built from bounded aggregates as the exchanges complete and written once
// at the end. The -r text of the chosen exchanges comes from a second pass
// over the input (html/evidence.h), handed in before the page is written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/text_writer.h"
#include "summary/exchange.h"
#include "summary/figures.h"
#include "summary/shapes.h"

namespace drda::html {

// An exchange whose records the page shows in full, and their text.
struct Evidence {
    std::uint64_t seq = 0;
    bool has_conn = false;
    std::uint32_t conn = 0;
    int record = 0;                  // where its request (or first reply) begins
    std::uint16_t command = 0;
    std::string outcome;             // as -s says it
    bool failed = false;             // not ok or no reply (as --failed selects)
    int slow_rank = 0;               // 1.. among the slowest; 0: not among them
    bool has_server = false;
    double server_ms = 0;
    std::string sql;                 // the statement's start
    std::vector<summary::RecordSpan> records;
    // Filled by the second pass: the -r text of its records, in order.
    std::string text;
    bool cut = false;                // the text was cut at kEvidenceBytes
};

// Counts per time slot over a window that widens as times come: a fixed
// number of slots whose width doubles (two slots merged into one) when a
// time falls outside.
class TimeBins {
public:
    static constexpr std::size_t kSlots = 240;
    void add(double t, bool error);
    bool empty() const { return !started_; }
    double start() const { return lo_; }
    double width() const { return w_; }
    std::uint64_t count(std::size_t i) const { return all_[i]; }
    std::uint64_t errors(std::size_t i) const { return err_[i]; }

private:
    void widen(bool left);
    bool started_ = false;
    double lo_ = 0, w_ = 0.001;
    std::uint64_t all_[kSlots] = {}, err_[kSlots] = {};
};

class HtmlReport final : public summary::ExchangeSink {
public:
    // Caps: beyond them the page says how much it leaves out.
    static constexpr std::size_t kLanes = summary::Aggregate::kConnections;  // timeline lanes (connections)
    // Timeline marks drawn per lane: past them, a regular sample of the
    // lane's exchanges (every second one kept, then every fourth, ...).
    static constexpr std::size_t kLaneMarks = 200;
    static constexpr std::size_t kMaxMarks = 50000;      // marks held at once, open connections included
    static constexpr std::size_t kShownShapes = 50;
    static constexpr std::size_t kShownSlowest = 10;
    static constexpr std::size_t kHistShapes = 10;
    static constexpr std::size_t kEvidenceSlowest = summary::Aggregate::kSlowest;
    static constexpr std::size_t kEvidenceFailed = 200;
    static constexpr std::size_t kEvidenceBytes = 256 * 1024;    // -r text kept per exchange
    static constexpr std::size_t kEvidenceTotal = 10 * 1024 * 1024;  // and for all of them
    static constexpr std::size_t kTitleSql = 80;         // statement bytes in a mark's title
    static constexpr std::size_t kEvidenceSql = 200;     // statement bytes in an evidence heading

    // With `shared` the caller feeds that aggregate before the page (and may
    // show it in another view too); without, the page keeps and feeds its own.
    HtmlReport(std::string input_name, std::string version, summary::Aggregate* shared = nullptr);

    void exchange(const summary::Exchange& e) override;
    void connection(const summary::ConnectionInfo& c) override;
    void input(const summary::InputInfo& info) override { input_ = info; }
    void finish(const summary::Totals& totals) override;

    // A record was read.
    void record_seen(int number) { last_record_ = number; }
    // The input could not be read to its end; `line` is the ERROR line of
    // the listing when there is one.
    void stopped(std::string line);

    // After finish: the exchanges whose -r text the page wants, in the
    // order of their first record; the second pass fills their text.
    std::vector<Evidence>& evidence() { return evidence_; }
    // Why there is no evidence text (the input could not be read again).
    void no_evidence(std::string why) { no_evidence_ = std::move(why); }

    void write(TextWriter& out) const;

private:
    // What a mark's title tells, kept as data: the title is written only
    // for the marks of the connections shown.
    struct Mark {
        double from = 0, to = 0;
        std::uint64_t seq = 0;
        std::uint8_t kind = 0;  // 0 ok, 1 error, 2 no reply
        std::uint16_t command = 0;
        bool has_sql = false, sql_cut = false, has_server = false;
        double server_ms = 0;
        int record = 0;
        std::string sql;        // at most kTitleSql bytes
        std::string outcome;
    };
    static void put_mark_title(TextWriter& w, const Mark& m);
    // A connection's lane of the timeline, kept while the connection is
    // open or among those the aggregate keeps.
    struct Lane {
        std::vector<Mark> marks;
        std::uint64_t timed = 0;     // exchanges with a time
        std::uint64_t stride = 1;    // every stride-th of them has a mark
        std::uint64_t unmarked = 0;  // exchanges without one
    };
    using ConnRow = summary::ConnectionTable<>::Row;

    void add_mark(Lane& lane, const summary::Exchange& e, double t, std::uint8_t kind);
    void drop_lane(std::uint32_t conn);
    const Lane& lane_of(std::uint32_t conn) const;
    static Evidence evidence_from(std::uint64_t seq, bool has_server, double server_ms,
                                  const summary::SlowExchange& x);
    const Evidence* evidence_of(std::uint64_t seq) const;
    void write_overview(TextWriter& w) const;
    void write_timeline(TextWriter& w) const;
    void write_latency(TextWriter& w) const;
    void write_errors(TextWriter& w) const;
    void write_slowest(TextWriter& w) const;
    void write_shapes(TextWriter& w) const;
    void write_connections(TextWriter& w) const;
    void write_evidence(TextWriter& w) const;
    void evidence_link(TextWriter& w, std::uint64_t seq) const;

    std::string input_name_, version_;
    summary::InputInfo input_;
    summary::Totals totals_;
    bool finished_ = false;
    std::string stopped_;
    bool has_stopped_ = false;
    int last_record_ = 0;
    std::string no_evidence_;

    std::unique_ptr<summary::Aggregate> own_;  // the page's own figures, when not shared
    summary::Aggregate* agg_;
    const summary::Figures& figures_;
    const summary::ConnectionTable<>& conns_;    // lanes: the kLanes with the most server time
    std::uint64_t no_reply_ = 0;
    TimeBins bins_;
    std::unordered_map<std::uint32_t, Lane> lanes_;
    std::size_t marks_held_ = 0;

    std::vector<Evidence> failed_ev_;   // the first kEvidenceFailed failed ones
    std::uint64_t failed_ev_more_ = 0;
    std::vector<Evidence> evidence_;    // after finish: those and the slowest, by first record
};

}  // namespace drda::html
