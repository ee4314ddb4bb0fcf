// SPDX-License-Identifier: Apache-2.0
#include "compare/run_aggregate.h"

#include <algorithm>
#include <cmath>

#include "ddm/code_point_ids.h"
#include "summary/views.h"

namespace drda::compare {
namespace {

// Commands that run the statement: a second one in the same section is
// another execution.
bool runs_statement(std::uint16_t cp) {
    return cp == kCpOpnqry || cp == kCpExcsqlstt || cp == kCpExcsqlimm || cp == kCpExcsqlset;
}

void add_fact(RunAggregate& run, Fact kind, const std::string& value) {
    if (value.empty()) return;
    auto& values = run.facts[static_cast<int>(kind)];
    auto it = values.find(value);
    if (it != values.end()) {
        ++it->second;
    } else if (values.size() < kMaxFactValues) {
        values.emplace(value, 1);
    } else {
        ++run.facts_more;
    }
}

void add_error(RunAggregate& run, const summary::Exchange& e) {
    std::string error, state;
    if (e.has_sqlca && e.sqlcode < 0) {
        error = std::to_string(e.sqlcode);
        state = e.sqlstate;
    } else {
        error = summary::outcome_text(e);
    }
    for (ErrorKind& k : run.errors) {
        if (k.error == error && k.sqlstate == state) {
            ++k.count;
            return;
        }
    }
    if (run.errors.size() >= summary::kMaxErrorKinds) {
        ++run.errors_more;
        return;
    }
    ErrorKind& k = run.errors.emplace_back();
    k.error = std::move(error);
    k.sqlstate = std::move(state);
    k.count = 1;
    k.record = e.sqlca_record && e.has_sqlca && e.sqlcode < 0 ? e.sqlca_record : e.reply_record;
    k.has_conn = e.has_conn;
    k.conn = e.conn;
}

}  // namespace

void RunCollector::add(Execution& x, const summary::Exchange& e) {
    if (!x.has_sql && e.has_sql) {
        x.has_sql = true;
        x.sql = e.sql;
    }
    if (e.failed()) x.failed = true;
    x.rows += e.has_rows ? e.rows : e.has_updated && e.updated > 0 ? static_cast<std::uint64_t>(e.updated) : 0;
    if (e.has_server && std::isfinite(e.server_ms)) {
        x.timed = true;
        x.ms += e.server_ms;
    }
    if (runs_statement(e.command)) x.ran = true;
}

void RunCollector::count(const Execution& x) {
    // An execution whose statement text never came (its prepare was before
    // the input began) has no shape.
    if (!x.has_sql) return;
    ++run_.executions;
    const bool timed = x.timed && std::isfinite(x.ms) && x.ms <= 3.0e38;  // kept as float
    if (timed) run_.all.add_time(x.ms);
    run_.shapes.add(x.sql, x.failed, x.rows, timed ? x.ms : -1.0);
}

void RunCollector::end(std::map<Key, Execution>::iterator it) {
    count(it->second);
    open_.erase(it);
}

void RunCollector::exchange(const summary::Exchange& e) {
    const bool failed = e.failed();
    run_.figures.add(e, failed);
    if (failed) add_error(run_, e);
    const std::uint16_t cp = e.command;
    if (e.section == 0) {
        // No package section named: an execution of its own, if a statement.
        Execution x;
        add(x, e);
        count(x);
        return;
    }
    const Key key{e.conn, e.section};
    auto it = open_.find(key);
    if (it != open_.end() && (cp == kCpPrpsqlstt || (runs_statement(cp) && it->second.ran))) {
        end(it);
        it = open_.end();
    }
    if (it == open_.end()) {
        if (open_.size() >= kMaxOpenExecutions) {
            auto oldest = std::min_element(open_.begin(), open_.end(), [](const auto& a, const auto& b) {
                return a.second.stamp < b.second.stamp;
            });
            ++run_.forced;
            end(oldest);
        }
        it = open_.emplace(key, Execution{}).first;
        it->second.stamp = ++stamp_;
    }
    add(it->second, e);
    if (cp == kCpClsqry) end(it);
}

void RunCollector::connection(const summary::ConnectionInfo& c) {
    ++run_.connections;
    run_.figures.add(c);
    add_fact(run_, Fact::user, c.user);
    add_fact(run_, Fact::database, c.database);
    add_fact(run_, Fact::client_product, c.client_product);
    add_fact(run_, Fact::server_product, c.server_product);
    add_fact(run_, Fact::secmec, c.secmec);
    for (auto it = open_.lower_bound(Key{c.conn, 0}); it != open_.end() && it->first.first == c.conn;) {
        count(it->second);
        it = open_.erase(it);
    }
}

void RunCollector::finish(const summary::Totals& totals) {
    // What is still open, in the order it began.
    std::vector<std::map<Key, Execution>::iterator> left;
    for (auto it = open_.begin(); it != open_.end(); ++it) left.push_back(it);
    std::sort(left.begin(), left.end(), [](const auto& a, const auto& b) { return a->second.stamp < b->second.stamp; });
    for (const auto& it : left) count(it->second);
    open_.clear();
    run_.totals = totals;
    run_.finished = true;
}

}  // namespace drda::compare
