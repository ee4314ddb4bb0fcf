// SPDX-License-Identifier: Apache-2.0
// The figures every view of the exchanges leads with, gathered the same way
// for the text summary (-s) and the page (--html): the overall counts and
// times, and the distinct errors.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/recent_cache.h"
#include "summary/exchange.h"
#include "summary/shapes.h"

namespace drda::summary {

inline constexpr std::size_t kMaxErrorKinds = 256;

// A count as every view writes it, and milliseconds to three places.
std::string num(std::uint64_t v);
std::string fixed3(double v);

// When an exchange began, the one definition -j, --from/--to and the page
// use: its request's time, or, when its request is not in the input, its
// first reply's. False when it has none.
bool start_time(const Exchange& e, double& t);

// The number a connection is shown and selected (-c) by: a capture's own,
// 1 for a trace file's one conversation.
inline std::uint32_t shown_conn(bool has_conn, std::uint32_t conn) { return has_conn ? conn : 1; }

// One kind of trouble the overview names: "bytes missing", and what it says.
struct Note {
    std::string label, text;
};
// The notes of an input and its totals, in the order the overview gives them.
std::vector<Note> overview_notes(const InputInfo& input, const Totals& totals);

// Counts, rows, bytes and the first and last time of the exchanges and
// connections seen.
struct Figures {
    std::uint64_t exchanges = 0, failed = 0;
    std::uint64_t rows_read = 0, rows_changed = 0;
    std::uint64_t bytes_out = 0, bytes_in = 0;
    bool has_first = false;
    double first = 0, last = 0;

    // Counts `e` (`failed`: as Exchange::failed() says) and its times.
    void add(const Exchange& e, bool failed);
    // A connection's first and last record.
    void add(const ConnectionInfo& c);
    void seen(bool has, double t);
};

// Each distinct failure (its outcome text) with its count, where its first
// occurrence is and that occurrence's message tokens; at most
// kMaxErrorKinds of them, further ones counted.
class ErrorTable {
public:
    struct Row {
        std::string outcome;
        std::uint64_t count = 0;
        int record = 0;           // the SQLCARD's record, else the first reply's
        std::uint64_t seq = 0;    // the exchange of the first occurrence
        std::vector<std::string> tokens;
    };
    void add(const Exchange& e, const std::string& outcome);
    const std::vector<Row>& rows() const { return rows_; }
    std::uint64_t not_grouped() const { return not_grouped_; }

private:
    std::vector<Row> rows_;
    std::uint64_t not_grouped_ = 0;
};

// Puts `row` into `rows`, which stay sorted by `before` and at most `cap`
// long; returns the row that no longer fits, if one does not.
template <class Row, class Before>
std::optional<Row> keep_top(std::vector<Row>& rows, Row&& row, std::size_t cap, Before before) {
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row, before), std::move(row));
    if (rows.size() <= cap) return std::nullopt;
    std::optional<Row> out(std::move(rows.back()));
    rows.pop_back();
    return out;
}

// The exchanges with the most server time, most first and the earlier
// (lower number) first among equals, as every view ranks them: at most
// `cap`, each kept as the view wants it (`Row`, made by `make(e)` only for
// an exchange that gets in).
template <class Row>
class SlowestExchanges {
public:
    struct Entry {
        double ms = 0;
        std::uint64_t seq = 0;
        Row row;
    };
    explicit SlowestExchanges(std::size_t cap) : cap_(cap) {}
    template <class Make>
    void offer(const Exchange& e, Make make) {
        if (!e.has_server || cap_ == 0) return;
        if (entries_.size() >= cap_ && !slower(e.server_ms, e.seq, entries_.back())) return;
        keep_top(entries_, Entry{e.server_ms, e.seq, make(e)}, cap_,
                 [](const Entry& a, const Entry& b) { return slower(a.ms, a.seq, b); });
    }
    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<Entry>& entries() { return entries_; }

private:
    static bool slower(double ms, std::uint64_t seq, const Entry& than) {
        return ms != than.ms ? ms > than.ms : seq < than.seq;
    }
    std::size_t cap_;
    std::vector<Entry> entries_;
};

// Connections whose end never came (a view handed only some exchanges):
// `add(info, stats)` for each of `open`, in number order, with what their
// exchanges tell; `open` is left empty.
template <class Stats, class Add>
void end_open_connections(std::unordered_map<std::uint32_t, Stats>& open, Add add) {
    std::vector<std::uint32_t> left;
    for (const auto& entry : open) left.push_back(entry.first);
    std::sort(left.begin(), left.end());
    for (std::uint32_t id : left) {
        ConnectionInfo info;
        info.conn = id;
        info.has_conn = id != 0;
        add(info, std::move(open[id]));
    }
    open.clear();
}

// What every view counts per connection.
struct ConnFigures {
    std::uint64_t exchanges = 0, failed = 0;
    double server_ms = 0;
};

// The connections of a view: figures of those still open, by number, and of
// those ended the `cap` with the most server time (the lower number first
// among equals); the rest summed up. `Stats` is ConnFigures or a view's
// extension of it.
template <class Stats = ConnFigures>
class ConnectionTable {
public:
    struct Row {
        ConnectionInfo info;
        Stats stats;
    };
    explicit ConnectionTable(std::size_t cap) : cap_(cap) {}

    // Counts an exchange to its connection; returns the connection's
    // figures for the view to add its own.
    Stats& add(const Exchange& e, bool failed) {
        Entry* entry = recent_.get(e.conn);
        if (!entry || entry->first != e.conn) {
            entry = &*open_.try_emplace(e.conn).first;
            recent_.put(e.conn, entry);
        }
        Stats& s = entry->second;
        ++s.exchanges;
        if (failed) ++s.failed;
        if (e.has_server) s.server_ms += e.server_ms;
        return s;
    }
    // A connection ended; `dropped(number, stats)` is called for the
    // figures of a connection that is not, or no longer, among the kept.
    template <class Dropped>
    void ended(const ConnectionInfo& c, Dropped dropped) {
        Row row{c, Stats()};
        const auto it = open_.find(c.conn);
        if (it != open_.end()) {
            row.stats = std::move(it->second);
            recent_.forget(c.conn, &*it);
            open_.erase(it);
        }
        keep(std::move(row), dropped);
    }
    // At the end: the connections whose end never came.
    template <class Dropped>
    void end_open(Dropped dropped) {
        recent_.clear();
        end_open_connections(open_, [&](const ConnectionInfo& info, Stats&& s) { keep(Row{info, std::move(s)}, dropped); });
    }

    const std::vector<Row>& rows() const { return rows_; }
    std::uint64_t total() const { return total_; }
    std::uint64_t more() const { return more_; }
    std::uint64_t more_exchanges() const { return more_exchanges_; }
    double more_ms() const { return more_ms_; }

private:
    template <class Dropped>
    void keep(Row&& row, Dropped dropped) {
        ++total_;
        const auto before = [](const Row& a, const Row& b) {
            return a.stats.server_ms != b.stats.server_ms ? a.stats.server_ms > b.stats.server_ms : a.info.conn < b.info.conn;
        };
        if (const auto out = keep_top(rows_, std::move(row), cap_, before)) {
            ++more_;
            more_exchanges_ += out->stats.exchanges;
            more_ms_ += out->stats.server_ms;
            dropped(out->info.conn, out->stats);
        }
    }

    using Entry = typename std::unordered_map<std::uint32_t, Stats>::value_type;
    std::size_t cap_;
    std::unordered_map<std::uint32_t, Stats> open_;
    RecentCache<Entry> recent_;  // in front of open_, by number
    std::vector<Row> rows_;
    std::uint64_t total_ = 0, more_ = 0, more_exchanges_ = 0;
    double more_ms_ = 0;
};

// What the lists of the slowest exchanges show of one.
struct SlowExchange {
    bool has_time = false;
    double time = 0;
    bool has_conn = false;
    std::uint32_t conn = 0;
    int record = 0;                  // where its request (or first reply) begins
    std::uint16_t command = 0;
    bool has_sql = false;
    std::string sql;
    bool sql_cut = false;            // its text was longer than kept
    std::string outcome;             // as -s says it
    bool failed = false;             // not ok or no reply
    std::vector<RecordSpan> records;
};

// What the lists of the slowest exchanges keep of `e`.
SlowExchange slow_exchange_of(const Exchange& e);

// The figures of the exchanges that every view of them shows, gathered
// once: counts and times, the connections with the most server time, the
// errors, the statements by shape and the slowest exchanges. It is fed
// before the views that read it, so that when their exchange or connection
// is called it has counted it already; they render it when they finish.
class Aggregate final : public ExchangeSink {
public:
    static constexpr std::size_t kConnections = 50;  // kept by server time
    static constexpr std::size_t kSlowest = 20;

    void exchange(const Exchange& e) override;
    void connection(const ConnectionInfo& c) override;
    void finish(const Totals& totals) override;

    // Told the number of each connection whose figures are no longer kept
    // (a view that keeps more of a connection lets go of it then).
    void on_dropped(std::function<void(std::uint32_t)> f) { on_dropped_ = std::move(f); }

    const Figures& figures() const { return figures_; }
    const ConnectionTable<>& connections() const { return conns_; }
    const ErrorTable& errors() const { return errors_; }
    const ShapeTable& shapes() const { return shapes_; }
    const SlowestExchanges<SlowExchange>& slowest() const { return slowest_; }

private:
    void dropped(std::uint32_t conn) {
        if (on_dropped_) on_dropped_(conn);
    }

    Figures figures_;
    ConnectionTable<> conns_{kConnections};
    ErrorTable errors_;
    ShapeTable shapes_;
    SlowestExchanges<SlowExchange> slowest_{kSlowest};
    std::function<void(std::uint32_t)> on_dropped_;
};

}  // namespace drda::summary
