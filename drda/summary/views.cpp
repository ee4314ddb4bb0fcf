// SPDX-License-Identifier: Apache-2.0
#include "summary/views.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <ctime>

#include "common/text_policy.h"
#include "ddm/codepoints.h"
#include "summary/tracker.h"

namespace drda::summary {
namespace {

constexpr char kHex[] = "0123456789abcdef";

using text::utf8_char;

void put_u4(TextWriter& w, const char* prefix, std::uint32_t v, int digits) {
    w.put(prefix);
    for (int k = digits - 1; k >= 0; --k) w.put(kHex[(v >> (4 * k)) & 0xF]);
}

void put_padded(TextWriter& w, std::string_view s, std::size_t width, bool right) {
    const std::size_t used = text::display_width(s);
    const int pad = used < width ? static_cast<int>(width - used) : 0;
    if (right) w.spaces(pad);
    w.put(s);
    if (!right) w.spaces(pad);
}



double ms_of(const Exchange& e, bool last) { return ((last ? e.last_reply : e.first_reply) - e.time) * 1000.0; }
bool has_ms(const Exchange& e, bool last) {
    return e.has_time && (last ? e.has_last : e.has_first) && std::isfinite(ms_of(e, last));
}

}  // namespace

// v as "%.*f" prints it, without formatted printing where that is sure to
// give the same digits: v scaled by 10^decimals rounds to the same integer
// as the exact value does unless the scaled value lies within the error of
// the multiplication (half an ulp) of a tie; those go to printf.
void put_fixed(TextWriter& w, double v, int decimals) {
    static constexpr double kScale[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    const double r = v * kScale[decimals];
    const double a = std::fabs(r);
    if (std::isfinite(r) && a < 0x1p51) {
        const double n = std::nearbyint(r);
        const double frac = a - std::trunc(a);
        const double ulp = std::nextafter(a, INFINITY) - a;
        if (std::fabs(frac - 0.5) > ulp) {
            auto i = static_cast<std::int64_t>(n);
            if (i < 0 || (i == 0 && std::signbit(v))) {
                w.put('-');
                i = -i;
            }
            const auto scale = static_cast<std::int64_t>(kScale[decimals]);
            w.put_udec(static_cast<std::uint64_t>(i / scale));
            if (decimals) {
                w.put('.');
                char digits[16];  // 6 used; room for the 16-byte moves the writer may do
                std::int64_t f = i % scale;
                for (int k = decimals - 1; k >= 0; --k, f /= 10) digits[k] = static_cast<char>('0' + f % 10);
                w.put(std::string_view(digits, static_cast<std::size_t>(decimals)));
            }
            return;
        }
    }
    w.printf("%.*f", decimals, v);
}

namespace {

// `t` as local calendar time and its microseconds; false for a time that
// is none.
bool local_time(double t, std::tm& tmv, long long& micros) {
    if (!std::isfinite(t) || t < 0 || t > 9.0e15) return false;
    const auto us = static_cast<long long>(std::llround(t * 1e6));
    const std::time_t s = static_cast<std::time_t>(us / 1000000);
    micros = us % 1000000;
    return localtime_r(&s, &tmv) != nullptr;
}

}  // namespace

// "HH:MM:SS.uuuuuu" in local time.
std::string clock_text(double t) {
    std::tm tmv{};
    long long us = 0;
    if (!local_time(t, tmv, us)) return "-";
    char b[40];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d.%06lld", tmv.tm_hour, tmv.tm_min, tmv.tm_sec, us);
    return b;
}

// "YYYY-MM-DD HH:MM:SS.uuuuuu" in local time.
std::string date_text(double t) {
    std::tm tmv{};
    long long us = 0;
    if (!local_time(t, tmv, us)) return "-";
    char b[64];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%06lld", tmv.tm_year + 1900, tmv.tm_mon + 1,
                  tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, us);
    return b;
}

std::string codepoint_name(std::uint16_t cp) {
    const CodePointEntry& entry = lookup_codepoint(cp);
    if (entry.code == cp && cp != 0) return std::string(entry.short_name);
    std::string s = "X'0000'";
    for (int k = 0; k < 4; ++k) s[2 + k] = "0123456789ABCDEF"[(cp >> (12 - 4 * k)) & 0xF];
    return s;
}

void put_printable(TextWriter& w, std::string_view s, bool quoted) { text::put_visible(w, s, quoted); }

// Bytes a JSON string carries as they stand: printable ASCII but the quote and the backslash.
constexpr std::array<bool, 256> kJsonPlain = [] {
    std::array<bool, 256> t{};
    for (int c = 0x20; c < 0x7F; ++c) t[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    return t;
}();

void put_json_string(TextWriter& w, std::string_view s) {
    w.put('"');
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t j = i;
        while (j < s.size() && kJsonPlain[static_cast<unsigned char>(s[j])]) ++j;
        if (j > i) {
            w.put(s.substr(i, j - i));
            i = j;
            continue;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            w.put('\\');
            w.put(static_cast<char>(c));
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t len = c >= 0x80 ? utf8_char(s, i, cp) : 0;
        if (len > 0 && text::hidden(cp)) {
            // Invisible and bidirectional controls as escapes that read back
            // as the same string (past the first plane as a surrogate pair).
            if (cp > 0xFFFF) {
                put_u4(w, "\\u", 0xD800 + ((cp - 0x10000) >> 10), 4);
                put_u4(w, "\\u", 0xDC00 + ((cp - 0x10000) & 0x3FF), 4);
            } else {
                put_u4(w, "\\u", cp, 4);
            }
            i += len;
        } else if (len > 0) {
            w.put(s.substr(i, len));
            i += len;
        } else {
            put_u4(w, "\\u", c, 4);
            ++i;
        }
    }
    w.put('"');
}

std::string outcome_text(const Exchange& e) {
    if (!e.replied()) return "no reply";
    const auto sql = [&] {
        std::string t = std::to_string(e.sqlcode) + " ";
        for (char c : e.sqlstate) t += c >= 0x20 && c <= 0x7E ? c : '?';
        return t;
    };
    if (e.has_sqlca && e.sqlcode < 0) return sql();
    if (e.svrcod >= 8) return codepoint_name(e.svrcod_cp) + " " + std::to_string(e.svrcod);
    if (e.has_sqlca && e.sqlcode != 0 && e.sqlcode != 100) return sql();
    return "ok";
}

std::string_view end_text(ConnEnd how) {
    switch (how) {
        case ConnEnd::end_of_input: return "end of input";
        case ConnEnd::fin_client: return "FIN by client";
        case ConnEnd::fin_server: return "FIN by server";
        case ConnEnd::rst_client: return "RST by client";
        case ConnEnd::rst_server: return "RST by server";
        case ConnEnd::still_open: return "still open";
        case ConnEnd::dropped: return "not followed: too many at once";
        case ConnEnd::idle: return "not followed: idle";
        case ConnEnd::replaced: return "replaced by a new connection on the same ports";
        case ConnEnd::interrupted: return "interrupted";
    }
    return "-";
}

// --- -s -------------------------------------------------------------------------

namespace {


std::string printable(std::string_view s, TextMode mode) {
    std::string text;
    StringSink sink(text);
    {
        TextWriter w(sink);
        w.set_text_mode(mode);
        put_printable(w, s);
        w.flush();
    }
    return text;
}

// A table whose columns are as wide as their widest cell; the last column
// is not padded.
class Table {
public:
    explicit Table(std::vector<std::pair<std::string, bool>> columns) : cols_(std::move(columns)) {
        for (const auto& c : cols_) width_.push_back(text::display_width(c.first));
    }
    void add(std::vector<std::string> row) {
        for (std::size_t i = 0; i < row.size() && i < width_.size(); ++i)
            width_[i] = std::max(width_[i], text::display_width(row[i]));
        rows_.push_back(std::move(row));
    }
    void write(TextWriter& w) const {
        std::vector<std::string> head;
        for (const auto& c : cols_) head.push_back(c.first);
        line(w, head);
        for (const auto& r : rows_) line(w, r);
    }

private:
    void line(TextWriter& w, const std::vector<std::string>& row) const {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i) w.put(' ');
            if (i + 1 == row.size() && !cols_[i].second) w.put(row[i]);
            else put_padded(w, row[i], width_[i], cols_[i].second);
        }
        w.put('\n');
    }
    std::vector<std::pair<std::string, bool>> cols_;  // heading, right-aligned
    std::vector<std::size_t> width_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace

TextReport::TextReport(TextWriter& out, bool spool, bool exchange_lines, Aggregate* shared)
    : out_(out), own_(shared ? nullptr : std::make_unique<Aggregate>()), agg_(shared ? shared : own_.get()) {
    if (!exchange_lines) return;
    lines_ = &out;
    if (!spool) return;
    spool_file_ = std::tmpfile();
    if (spool_file_) {
        spool_sink_ = std::make_unique<FileSink>(spool_file_, "temporary file");
    } else {
        spool_sink_ = std::make_unique<StringSink>(spool_text_);
    }
    spool_ = std::make_unique<TextWriter>(*spool_sink_);
    spool_->set_text_mode(out.text_mode());
    lines_ = spool_.get();
}

TextReport::~TextReport() {
    if (spool_file_) std::fclose(spool_file_);
}

void TextReport::header() {
    if (header_done_ || !lines_) return;
    header_done_ = true;
    lines_->put(
        "Exchanges\n"
        "time            conn corr command       first ms     rows outcome          statement\n");
}

void TextReport::exchange_line(const Exchange& e, const std::string& outcome) {
    header();
    TextWriter& w = *lines_;
    put_padded(w, e.has_time ? clock_text(e.time) : "-", 15, false);
    w.put(' ');
    put_padded(w, num(shown_conn(e.has_conn, e.conn)), 4, true);
    w.put(' ');
    for (int k = 3; k >= 0; --k) w.put("0123456789ABCDEF"[(e.corr >> (4 * k)) & 0xF]);
    w.put(' ');
    put_padded(w, e.command ? codepoint_name(e.command) : "-", 9, false);
    w.put(' ');
    put_padded(w, has_ms(e, false) ? fixed3(ms_of(e, false)) : "-", 12, true);
    w.put(' ');
    // Rows read, or for a statement that changes rows the rows it changed.
    put_padded(w, e.has_rows ? num(e.rows) : e.has_updated ? num(static_cast<std::uint64_t>(e.updated)) : "-", 8,
               true);
    w.put(' ');
    if (e.has_sql) {
        put_padded(w, outcome, 16, false);
        w.put(' ');
        put_printable(w, e.sql);
        if (e.sql_total > e.sql.size() && e.sql.size() >= kTextBytes) w.put(" ...");
    } else {
        w.put(outcome);
    }
    w.put('\n');
}

void TextReport::exchange(const Exchange& e) {
    if (own_) own_->exchange(e);
    if (lines_) exchange_line(e, outcome_text(e));
}

void TextReport::connection(const ConnectionInfo& c) {
    if (own_) own_->connection(c);
}

void TextReport::overview(const Totals& t) {
    TextWriter& w = out_;
    const auto line = [&](std::string_view label, const std::string& value) {
        put_padded(w, label, 16, false);
        w.put(' ');
        w.put(value);
        w.put('\n');
    };
    w.put("Overview\n");
    if (!input_.selection.empty()) line("selection", input_.selection);
    line("input", input_.kind.empty() ? "-" : input_.kind);
    const Figures& f = agg_->figures();
    line("first", f.has_first ? date_text(f.first) : "-");
    line("last", f.has_first ? date_text(f.last) : "-");
    line("duration", f.has_first ? fixed3((f.last - f.first) * 1000.0) + " ms" : "-");
    line("connections", num(agg_->connections().total()));
    line("exchanges", num(f.exchanges));
    line("failed", num(f.failed));
    line("rows read", num(f.rows_read));
    line("rows changed", num(f.rows_changed));
    line("bytes sent", num(f.bytes_out) + " (requester to server)");
    line("bytes received", num(f.bytes_in) + " (server to requester)");
    for (const Note& n : overview_notes(input_, t)) line(n.label, n.text);
}

void TextReport::connections() {
    const ConnectionTable<>& conns = agg_->connections();
    TextWriter& w = out_;
    w.printf("\nConnections: %llu\n", static_cast<unsigned long long>(conns.total()));
    Table t({{"conn", true}, {"client > server", false}, {"user", false}, {"database", false},
             {"client product", false}, {"server product", false}, {"secmec", false}, {"start", false},
             {"duration ms", true}, {"exchanges", true}, {"failed", true}, {"server ms", true}, {"ended", false}});
    const auto text = [&](const std::string& s) { return s.empty() ? std::string("-") : printable(s, w.text_mode()); };
    for (const ConnectionTable<>::Row& r : conns.rows()) {
        const ConnectionInfo& c = r.info;
        std::string ends = c.client.empty() && c.server.empty() ? "-" : text(c.client) + " > " + text(c.server);
        t.add({num(shown_conn(c.has_conn, c.conn)), ends, text(c.user), text(c.database), text(c.client_product),
               text(c.server_product), text(c.secmec), c.has_start ? date_text(c.start) : "-",
               c.has_start && c.has_end ? fixed3((c.end - c.start) * 1000.0) : "-", num(r.stats.exchanges),
               num(r.stats.failed), fixed3(r.stats.server_ms), std::string(end_text(c.how))});
    }
    t.write(w);
    if (conns.more())
        w.printf("%llu more connections: %llu exchanges, %s server ms\n", static_cast<unsigned long long>(conns.more()),
                 static_cast<unsigned long long>(conns.more_exchanges()), fixed3(conns.more_ms()).c_str());
}

void TextReport::errors() {
    const ErrorTable& errors = agg_->errors();
    TextWriter& w = out_;
    w.printf("\nErrors: %zu\n", errors.rows().size());
    w.put(" count error             record tokens\n");
    for (const ErrorTable::Row& r : errors.rows()) {
        put_padded(w, num(r.count), 6, true);
        w.put(' ');
        put_padded(w, r.outcome, 17, false);
        w.put(' ');
        put_padded(w, num(static_cast<std::uint64_t>(r.record)), 6, true);
        for (const std::string& tok : r.tokens) {
            w.put(" \"");
            put_printable(w, tok, true);
            w.put('"');
        }
        w.put('\n');
    }
    if (errors.not_grouped())
        w.printf("%llu failed exchanges of further errors not grouped (at most %zu errors)\n",
                 static_cast<unsigned long long>(errors.not_grouped()), kMaxErrorKinds);
}

void TextReport::slowest() {
    TextWriter& w = out_;
    const auto& all = agg_->slowest().entries();
    const std::size_t n = std::min(all.size(), kShownSlowest);
    w.printf("\nSlowest exchanges: %zu\n", n);
    w.put("time            conn record command      server ms statement\n");
    for (std::size_t i = 0; i < n; ++i) {
        const SlowExchange& s = all[i].row;
        put_padded(w, s.has_time ? clock_text(s.time) : "-", 15, false);
        w.put(' ');
        put_padded(w, num(shown_conn(s.has_conn, s.conn)), 4, true);
        w.put(' ');
        put_padded(w, num(static_cast<std::uint64_t>(s.record)), 6, true);
        w.put(' ');
        put_padded(w, s.command ? codepoint_name(s.command) : "-", 9, false);
        w.put(' ');
        put_padded(w, fixed3(all[i].ms), 12, true);
        if (s.has_sql) {
            w.put(' ');
            put_printable(w, s.sql);
            if (s.sql_cut) w.put(" ...");
        }
        w.put('\n');
    }
}

void TextReport::shapes() {
    const ShapeTable& shapes = agg_->shapes();
    TextWriter& w = out_;
    const std::vector<const ShapeStats*> sorted = shapes.sorted();
    w.printf("\nStatements by shape: %zu\n", shapes.size());
    w.put("execs errors       rows     total ms      mean ms       p95 ms       max ms shape\n");
    std::uint64_t rest_execs = 0;
    double rest_ms = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const ShapeStats* s = sorted[i];
        if (i >= kShownShapes) {
            rest_execs += s->execs;
            rest_ms += s->total_ms;
            continue;
        }
        put_padded(w, num(s->execs), 5, true);
        w.put(' ');
        put_padded(w, num(s->errors), 6, true);
        w.put(' ');
        put_padded(w, num(s->rows), 10, true);
        w.put(' ');
        const bool timed = s->timed > 0;
        put_padded(w, timed ? fixed3(s->total_ms) : "-", 12, true);
        w.put(' ');
        put_padded(w, timed ? fixed3(s->total_ms / static_cast<double>(s->timed)) : "-", 12, true);
        w.put(' ');
        put_padded(w, timed ? fixed3(s->p95()) : "-", 12, true);
        w.put(' ');
        put_padded(w, timed ? fixed3(s->max_ms) : "-", 12, true);
        w.put(' ');
        put_printable(w, s->shape);
        w.put('\n');
    }
    if (sorted.size() > kShownShapes)
        w.printf("%zu more shapes: %llu executions, %s ms\n", sorted.size() - kShownShapes,
                 static_cast<unsigned long long>(rest_execs), fixed3(rest_ms).c_str());
    if (shapes.not_grouped())
        w.printf("%llu executions of further shapes not grouped (at most %zu shapes)\n",
                 static_cast<unsigned long long>(shapes.not_grouped()), kMaxShapes);
}

void TextReport::finish(const Totals& t) {
    if (own_) own_->finish(t);
    if (lines_) {
        header();
        if (spool_) {
            // The listing is done: the exchange lines follow it.
            spool_->flush();
            if (spool_file_) {
                std::rewind(spool_file_);
                char buf[1 << 16];
                std::size_t n;
                while ((n = std::fread(buf, 1, sizeof buf, spool_file_)) > 0) out_.put(std::string_view(buf, n));
            } else {
                out_.put(spool_text_);
            }
        }
        out_.put('\n');
    }
    overview(t);
    connections();
    errors();
    slowest();
    shapes();
}

// --- -j -------------------------------------------------------------------------

void JsonLines::exchange(const Exchange& e) {
    TextWriter& w = out_;
    const auto str_or_null = [&](bool has, std::string_view s) {
        if (has) put_json_string(w, s);
        else w.put("null");
    };
    // An exchange without a request takes the time of its first reply, so
    // that every line has a time.
    w.put("{\"ts\":");
    double start = 0;
    if (start_time(e, start)) put_fixed(w, start, 6);
    else w.put("null");
    w.put(",\"conn\":");
    if (e.has_conn) w.put_udec(e.conn);
    else w.put("null");
    w.put(",\"client\":");
    str_or_null(!e.client.empty(), e.client);
    w.put(",\"server\":");
    str_or_null(!e.server.empty(), e.server);
    w.put(",\"corr\":");
    w.put_udec(e.corr);
    w.put(",\"command\":");
    str_or_null(e.command != 0, e.command ? codepoint_name(e.command) : std::string());
    w.put(",\"sql\":");
    str_or_null(e.has_sql, e.sql);
    w.put(",\"replies\":[");
    for (std::size_t i = 0; i < e.replies.size(); ++i) {
        if (i) w.put(',');
        put_json_string(w, codepoint_name(e.replies[i]));
    }
    if (e.replies_more) w.put(e.replies.empty() ? "\"...\"" : ",\"...\"");
    w.put("],\"svrcod\":");
    if (e.svrcod >= 0) w.put_dec(e.svrcod);
    else w.put("null");
    w.put(",\"sqlcode\":");
    if (e.has_sqlca) w.put_dec(e.sqlcode);
    else w.put("null");
    w.put(",\"sqlstate\":");
    str_or_null(e.has_sqlca, e.sqlstate);
    w.put(",\"tokens\":[");
    for (std::size_t i = 0; i < e.tokens.size(); ++i) {
        if (i) w.put(',');
        put_json_string(w, e.tokens[i]);
    }
    w.put("],\"rows\":");
    if (e.has_rows) w.put_udec(e.rows);
    else w.put("null");
    w.put(",\"updated\":");
    if (e.has_updated) w.put_dec(e.updated);
    else w.put("null");
    w.put(",\"first_reply_ms\":");
    if (has_ms(e, false)) put_fixed(w, ms_of(e, false), 3);
    else w.put("null");
    w.put(",\"last_reply_ms\":");
    if (has_ms(e, true)) put_fixed(w, ms_of(e, true), 3);
    else w.put("null");
    w.put(",\"bytes_out\":");
    w.put_udec(e.bytes_out);
    w.put(",\"bytes_in\":");
    w.put_udec(e.bytes_in);
    w.put(",\"record\":");
    if (e.has_request) w.put_dec(e.record);
    else w.put("null");
    w.put(",\"reply_record\":");
    if (e.replied()) w.put_dec(e.reply_record);
    else w.put("null");
    w.put(",\"server_ms\":");
    if (e.has_server) put_fixed(w, e.server_ms, 3);
    else w.put("null");
    w.put(",\"chain\":");
    if (e.chain) w.put_udec(e.chain);
    else w.put("null");
    w.put(",\"user\":");
    str_or_null(e.has_user, e.user);
    w.put("}\n");
}

}  // namespace drda::summary
