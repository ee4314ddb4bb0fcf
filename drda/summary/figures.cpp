// SPDX-License-Identifier: Apache-2.0
#include "summary/figures.h"

#include <cmath>
#include <cstdio>

#include "summary/tracker.h"
#include "summary/views.h"

namespace drda::summary {

void Figures::seen(bool has, double t) {
    if (!has || !std::isfinite(t)) return;
    if (!has_first || t < first) first = t;
    if (!has_first || t > last) last = t;
    has_first = true;
}

void Figures::add(const Exchange& e, bool is_failed) {
    ++exchanges;
    if (is_failed) ++failed;
    if (e.has_rows) rows_read += e.rows;
    if (e.has_updated && e.updated > 0) rows_changed += static_cast<std::uint64_t>(e.updated);
    bytes_out += e.bytes_out;
    bytes_in += e.bytes_in;
    seen(e.has_time, e.time);
    seen(e.has_first, e.first_reply);
    seen(e.has_last, e.last_reply);
}

void Figures::add(const ConnectionInfo& c) {
    seen(c.has_start, c.start);
    seen(c.has_end, c.end);
}

void ErrorTable::add(const Exchange& e, const std::string& outcome) {
    for (Row& r : rows_) {
        if (r.outcome == outcome) {
            ++r.count;
            return;
        }
    }
    if (rows_.size() >= kMaxErrorKinds) {
        ++not_grouped_;
        return;
    }
    Row& r = rows_.emplace_back();
    r.outcome = outcome;
    r.count = 1;
    r.record = e.sqlca_record && e.has_sqlca && e.sqlcode < 0 ? e.sqlca_record : e.reply_record;
    r.seq = e.seq;
    r.tokens = e.tokens;
}

std::string num(std::uint64_t v) { return std::to_string(v); }

std::string fixed3(double v) {
    char b[48];
    std::snprintf(b, sizeof b, "%.3f", v);
    return b;
}

bool start_time(const Exchange& e, double& t) {
    if (e.has_time) t = e.time;
    else if (!e.has_request && e.has_first) t = e.first_reply;
    else return false;
    return std::isfinite(t);
}

std::vector<Note> overview_notes(const InputInfo& input, const Totals& t) {
    std::vector<Note> notes;
    if (input.tls_keyed || input.tls_unkeyed)
        notes.push_back({"encrypted", num(input.tls_keyed + input.tls_unkeyed) + " TLS connections: " +
                                          num(input.tls_keyed) + " decrypted, " + num(input.tls_unkeyed) +
                                          " without keys"});
    if (input.gaps)
        notes.push_back({"bytes missing", num(input.missing_bytes) + " bytes in " + num(input.gaps) +
                                              " places are not in the capture"});
    if (input.cut_packets)
        notes.push_back({"snap length", "the packets were cut to " + num(input.snaplen) + " bytes when captured (" +
                                            num(input.cut_packets) + " of " + num(input.packets) +
                                            " packets), so most of the DRDA data is not in the file; capture whole "
                                            "packets (-s 0)"});
    if (t.unreadable_bytes)
        notes.push_back({"unreadable", num(t.unreadable_bytes) + " bytes in " + num(t.unreadable_places) +
                                           " places could not be read as DSSs or objects"});
    if (t.uncounted) notes.push_back({"rows not counted", num(t.uncounted) + " row objects without a usable descriptor"});
    if (t.forced)
        notes.push_back({"shown early", num(t.forced) + " exchanges shown before their end: more than " +
                                            num(kMaxOpenExchanges) + " waiting at once"});
    return notes;
}

SlowExchange slow_exchange_of(const Exchange& e) {
    SlowExchange s;
    s.has_time = e.has_time;
    s.time = e.time;
    s.has_conn = e.has_conn;
    s.conn = e.conn;
    s.record = e.has_request ? e.record : e.reply_record;
    s.command = e.command;
    s.has_sql = e.has_sql;
    s.sql = e.sql;
    s.sql_cut = e.sql_total > e.sql.size() && e.sql.size() >= kTextBytes;
    s.outcome = outcome_text(e);
    s.failed = e.failed() || !e.replied();
    s.records = e.records;
    return s;
}

void Aggregate::exchange(const Exchange& e) {
    const bool failed = e.failed();
    figures_.add(e, failed);
    conns_.add(e, failed);
    const std::uint64_t rows =
        e.has_rows ? e.rows : e.has_updated && e.updated > 0 ? static_cast<std::uint64_t>(e.updated) : 0;
    if (e.has_sql) shapes_.add(e.sql, failed, rows, e.has_server ? e.server_ms : -1.0);
    slowest_.offer(e, slow_exchange_of);
    if (failed) errors_.add(e, outcome_text(e));
}

void Aggregate::connection(const ConnectionInfo& c) {
    figures_.add(c);
    conns_.ended(c, [&](std::uint32_t conn, const ConnFigures&) { dropped(conn); });
}

void Aggregate::finish(const Totals&) {
    conns_.end_open([&](std::uint32_t conn, const ConnFigures&) { dropped(conn); });
}

}  // namespace drda::summary
