// SPDX-License-Identifier: Apache-2.0
#include "app/selection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace drda {
namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Digits at `at` as a number: false when there are none or more than 18.
bool read_number(std::string_view text, std::size_t& at, std::uint64_t& v) {
    const std::size_t start = at;
    v = 0;
    while (at < text.size() && digit(text[at])) {
        if (at - start == 18) return false;
        v = v * 10 + static_cast<std::uint64_t>(text[at++] - '0');
    }
    return at > start;
}

// Exactly n digits at `at`, within lo..hi.
bool read_field(std::string_view text, std::size_t& at, int n, int lo, int hi, int& v) {
    if (text.size() - at < static_cast<std::size_t>(n)) return false;
    v = 0;
    for (int k = 0; k < n; ++k) {
        if (!digit(text[at])) return false;
        v = v * 10 + (text[at++] - '0');
    }
    return v >= lo && v <= hi;
}

bool lower_contains(std::string_view hay, std::string_view needle_lower) {
    if (needle_lower.empty()) return true;
    if (hay.size() < needle_lower.size()) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i + needle_lower.size() <= hay.size(); ++i) {
        std::size_t k = 0;
        while (k < needle_lower.size() && lower(hay[i + k]) == needle_lower[k]) ++k;
        if (k == needle_lower.size()) return true;
    }
    return false;
}

}  // namespace

// --- lists and times ----------------------------------------------------------

bool NumberList::parse(std::string_view text) {
    std::size_t at = 0;
    for (;;) {
        Run r{};
        if (!read_number(text, at, r.first)) return false;
        r.last = r.first;
        if (at < text.size() && text[at] == '-') {
            ++at;
            if (!read_number(text, at, r.last) || r.last < r.first) return false;
        }
        runs_.push_back(r);
        if (at == text.size()) break;
        if (text[at++] != ',') return false;
    }
    std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
    std::vector<Run> merged;
    for (const Run& r : runs_) {
        if (!merged.empty() && r.first <= merged.back().last + 1) merged.back().last = std::max(merged.back().last, r.last);
        else merged.push_back(r);
    }
    runs_.swap(merged);
    given_ = true;
    return true;
}

bool NumberList::overlaps(std::uint64_t first, std::uint64_t last) const {
    if (!given_) return true;
    // The first run that ends at or after `first`.
    auto it = std::lower_bound(runs_.begin(), runs_.end(), first, [](const Run& r, std::uint64_t v) { return r.last < v; });
    return it != runs_.end() && it->first <= last;
}

bool NumberList::pass(std::uint64_t n) const { return overlaps(n, n); }

bool TimeBound::parse(std::string_view text) {
    // "YYYY-MM-DD " before the time of day, when given.
    std::size_t at = 0;
    int v = 0;
    has_date_ = text.size() > 10 && text[4] == '-';
    if (has_date_) {
        if (!read_field(text, at, 4, 1900, 9999, v) || text[at++] != '-' || !read_field(text, at, 2, 1, 12, v) ||
            text[at++] != '-' || !read_field(text, at, 2, 1, 31, v) || text[at++] != ' ')
            return false;
    }
    if (!read_field(text, at, 2, 0, 23, v) || at >= text.size() || text[at++] != ':' ||
        !read_field(text, at, 2, 0, 59, v))
        return false;
    if (at < text.size()) {
        if (text[at++] != ':' || !read_field(text, at, 2, 0, 60, v)) return false;
        if (at < text.size()) {
            if (text[at++] != '.') return false;
            const std::size_t digits = text.size() - at;
            if (digits < 1 || digits > 9) return false;
            for (; at < text.size(); ++at)
                if (!digit(text[at])) return false;
        }
    }
    text_ = std::string(text);
    given_ = true;
    if (has_date_) {
        key_ = text_;
        resolve();
    }
    return true;
}

void TimeBound::set_day(double t) {
    if (!given_ || !key_.empty() || !std::isfinite(t) || t < 0 || t > 9.0e15) return;
    std::tm tmv{};
    const std::time_t tt = static_cast<std::time_t>(t);
    if (!localtime_r(&tt, &tmv)) return;
    char date[32];
    if (std::strftime(date, sizeof date, "%Y-%m-%d ", &tmv) == 0) return;
    key_ = date + text_;
    resolve();
}

void TimeBound::resolve() {
    // key_ is "YYYY-MM-DD HH:MM[:SS[.f]]", checked by parse.
    const auto field = [&](std::size_t at, int n) { return std::atoi(key_.substr(at, static_cast<std::size_t>(n)).c_str()); };
    std::tm tmv{};
    tmv.tm_year = field(0, 4) - 1900;
    tmv.tm_mon = field(5, 2) - 1;
    tmv.tm_mday = field(8, 2);
    tmv.tm_hour = field(11, 2);
    tmv.tm_min = field(14, 2);
    tmv.tm_sec = key_.size() > 16 ? field(17, 2) : 0;
    tmv.tm_isdst = -1;
    begin_ = static_cast<double>(std::mktime(&tmv));
    double unit = key_.size() > 16 ? 1.0 : 60.0;
    if (key_.size() > 20) {
        const std::string frac = key_.substr(20);
        begin_ += std::strtod(("0." + frac).c_str(), nullptr);
        unit = std::pow(10.0, -static_cast<double>(frac.size()));
    }
    end_ = begin_ + unit;
}

int TimeBound::compare(std::string_view printed) const {
    const std::string_view cut = printed.substr(0, std::min(printed.size(), key_.size()));
    const int c = cut.compare(key_);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// --- the selection -------------------------------------------------------------

bool Selection::time_text_passes(std::string_view printed) const {
    if (!window()) return true;
    if (printed.empty()) return false;
    if (from.given() && (!from.resolved() || from.compare(printed) < 0)) return false;
    if (to.given() && (!to.resolved() || to.compare(printed) > 0)) return false;
    return true;
}

bool Selection::exchange_kind_passes(const summary::Exchange& e) const {
    // Not ok as -s counts it, or no reply at all.
    if (failed && !(e.failed() || !e.replied())) return false;
    if (has_slow && !(e.has_server && e.server_ms >= slow_ms)) return false;
    if (has_sql && !(e.has_sql && lower_contains(e.sql, sql))) return false;
    return true;
}

bool Selection::exchange_passes(const summary::Exchange& e) const {
    if (!conns.pass(shown_conn(e.has_conn, e.conn))) return false;
    if (records.given()) {
        bool any = false;
        for (const summary::RecordSpan& r : e.records)
            if (r.first > 0 && r.last >= r.first && records.overlaps(static_cast<std::uint64_t>(r.first),
                                                                    static_cast<std::uint64_t>(r.last)))
                any = true;
        if (!any) return false;
    }
    if (window()) {
        double t = 0;
        if (!summary::start_time(e, t)) return false;
        if (from.given() && (!from.resolved() || t < from.begin())) return false;
        if (to.given() && (!to.resolved() || t >= to.end())) return false;
    }
    return exchange_kind_passes(e);
}

int parse_selection_option(int argc, const char* const* argv, int& i, Selection& sel, std::FILE* err) {
    const std::string_view opt = argv[i];
    const bool takes_value = opt == "-c" || opt == "-n" || opt == "--slow" || opt == "--sql" || opt == "--from" ||
                             opt == "--to";
    if (!takes_value && opt != "--failed") return 0;
    sel.text += sel.text.empty() ? "" : " ";
    sel.text += opt;
    if (opt == "--failed") {
        sel.failed = true;
        return 1;
    }
    if (i + 1 >= argc) {
        std::fprintf(err, "%s: a value must follow\n", argv[i]);
        return -1;
    }
    const char* value = argv[++i];
    const std::string_view v = value;
    sel.text += ' ';
    sel.text += v;
    const auto bad = [&](const char* what) {
        std::fprintf(err, "%s %s: %s\n", argv[i - 1], value, what);
        return -1;
    };
    if (opt == "-c" || opt == "-n") {
        NumberList& list = opt == "-c" ? sel.conns : sel.records;
        if (list.given()) return bad("given twice");
        if (!list.parse(v)) return bad("not a list of numbers and ranges (such as 3,7-9)");
    } else if (opt == "--slow") {
        char* end = nullptr;
        const double ms = std::strtod(value, &end);
        if (v.empty() || !digit(v[0]) || *end != '\0' || !std::isfinite(ms) || ms < 0)
            return bad("not a number of milliseconds");
        sel.has_slow = true;
        sel.slow_ms = ms;
    } else if (opt == "--sql") {
        sel.has_sql = true;
        sel.sql.clear();
        for (char c : v) sel.sql += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    } else {
        TimeBound& bound = opt == "--from" ? sel.from : sel.to;
        if (bound.given()) return bad("given twice");
        if (!bound.parse(v))
            return bad("not a time as the output prints it (YYYY-MM-DD HH:MM:SS.fraction, or HH:MM:SS.fraction)");
    }
    return 1;
}

// --- records of the selected exchanges -------------------------------------------

void SelectedRecords::exchange(const summary::Exchange& e) {
    if (!sel_.conns.pass(Selection::shown_conn(e.has_conn, e.conn)) || !sel_.exchange_kind_passes(e)) return;
    for (const summary::RecordSpan& r : e.records) {
        if (r.first <= 0 || r.last < r.first) continue;
        if (runs_.size() >= kMaxRuns) {
            if (not_held_from_ == 0 || r.first < not_held_from_) not_held_from_ = r.first;
            continue;
        }
        runs_.push_back(Run{e.conn, r.first, r.last});
    }
}

void SelectedRecords::finish(const summary::Totals&) {
    std::sort(runs_.begin(), runs_.end(),
              [](const Run& a, const Run& b) { return a.conn != b.conn ? a.conn < b.conn : a.first < b.first; });
    std::vector<Run> merged;
    for (const Run& r : runs_) {
        if (!merged.empty() && merged.back().conn == r.conn && r.first <= merged.back().last + 1)
            merged.back().last = std::max(merged.back().last, r.last);
        else
            merged.push_back(r);
    }
    runs_.swap(merged);
    runs_.shrink_to_fit();
}

bool SelectedRecords::holds(std::uint32_t conn, int number) const {
    if (not_held_from_ && number >= not_held_from_) return false;
    // The last run that begins at or before (conn, number).
    auto it = std::upper_bound(runs_.begin(), runs_.end(), std::make_pair(conn, number),
                               [](const std::pair<std::uint32_t, int>& k, const Run& r) {
                                   return k.first != r.conn ? k.first < r.conn : k.second < r.first;
                               });
    if (it == runs_.begin()) return false;
    --it;
    return it->conn == conn && number <= it->last;
}

// --- the listing's records ----------------------------------------------------------

bool RecordFilter::shows(const Record& rec, std::string_view time_text) const {
    if (!conn_shown(rec.connection) || !sel_.records.pass(static_cast<std::uint64_t>(rec.number))) return false;
    if (sel_.window() && !sel_.time_text_passes(time_text)) return false;
    if (sel_.exchange_options()) return held_ && held_->holds(rec.connection, rec.number);
    return true;
}

bool RecordFilter::shows_cut(int number) const {
    return conn_shown(0) && (capture_ || sel_.records.pass(static_cast<std::uint64_t>(number))) && !sel_.window() &&
           !sel_.exchange_options();
}

// --- -s and -j -----------------------------------------------------------------------

void SelectingSink::exchange(const summary::Exchange& e) {
    if (!sel_.exchange_passes(e)) return;
    ++passed_;
    if (e.has_conn) with_selected_.insert(e.conn);
    next_.exchange(e);
}

void SelectingSink::connection(const summary::ConnectionInfo& c) {
    const bool had = with_selected_.erase(c.conn) > 0 || (!c.has_conn && passed_ > 0);
    if (!sel_.conns.pass(Selection::shown_conn(c.has_conn, c.conn))) return;
    const bool by_conn_only = !sel_.records.given() && !sel_.window() && !sel_.exchange_options();
    if (by_conn_only || had) next_.connection(c);
}

void SelectingSink::input(const summary::InputInfo& info) {
    summary::InputInfo with = info;
    with.selection = sel_.text;
    next_.input(with);
}

void SelectingSink::finish(const summary::Totals& totals) {
    summary::Totals t = totals;
    t.exchanges = passed_;
    next_.finish(t);
}

}  // namespace drda
