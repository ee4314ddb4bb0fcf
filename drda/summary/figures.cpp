// SPDX-License-Identifier: Apache-2.0
#include "summary/figures.h"

#include <cmath>

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

}  // namespace drda::summary
