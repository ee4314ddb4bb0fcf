// SPDX-License-Identifier: Apache-2.0
// The --html page: the escaper, a view fed with hostile exchanges, and the
// option end to end (alone, beside -s, -j and -r, a cut trace, a pipe, a
// file that cannot be opened). The page against -s, -j and a browser is
// checked by tests/html_check.py.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "html/escape.h"
#include "html/evidence.h"
#include "html/html_report.h"
#include "summary/views.h"
#include "support/trace_builder.h"

namespace {

using namespace testsupport;

std::string esc(std::string_view s) { return drda::html::escaped(s); }

std::string cut(std::string_view s, std::size_t max) {
    std::string out;
    drda::StringSink sink(out);
    drda::TextWriter w(sink);
    drda::html::put_escaped_cut(w, s, max);
    w.flush();
    return out;
}

TEST(HtmlEscape, EveryMarkupCharacterAndControlCharacter) {
    EXPECT_EQ(esc("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&#39;f");
    EXPECT_EQ(esc("</script><img src=x onerror=alert(1)>"),
              "&lt;/script&gt;&lt;img src=x onerror=alert(1)&gt;");
    // Tab and newline stay; other controls become visible symbols.
    EXPECT_EQ(esc("a\tb\nc"), "a\tb\nc");
    EXPECT_EQ(esc(std::string("\x00\x01\x1b\x7f", 4)), "\u2400\u2401\u241b\u2421");
    EXPECT_EQ(esc("caf\xc3\xa9"), "caf\xc3\xa9");
    // No byte of any input survives as '<', '>', '"' or '\''.
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const std::string e = esc(all);
    EXPECT_EQ(e.find_first_of("<>\"'"), std::string::npos);
}

TEST(HtmlEscape, CutBeforeEscapingNeverSplitsAReferenceOrACharacter) {
    EXPECT_EQ(cut("<<<<", 2), "&lt;&lt;...");
    EXPECT_EQ(cut("ab\xc3\xa9z", 3), "ab...");  // not half of the two-byte character
    EXPECT_EQ(cut("abc", 3), "abc");
}

drda::summary::Exchange hostile_exchange(std::uint64_t seq, int record, bool failed) {
    drda::summary::Exchange e;
    e.seq = seq;
    e.has_conn = true;
    e.conn = 7;
    e.client = "10.0.0.1:4000\"><script>x()</script>";
    e.server = "10.0.0.2:1527";
    e.command = 0x200A;
    e.has_request = true;
    e.record = record;
    e.reply_record = record + 1;
    e.has_time = e.has_first = e.has_last = true;
    e.time = 1796748491.25 + seq;
    e.first_reply = e.last_reply = e.time + 0.01;
    e.has_server = true;
    e.server_ms = 10.0 * static_cast<double>(seq);
    e.has_sql = true;
    e.sql = "SELECT '</script><script>window.__pwned=1</script>' FROM \"<img src=x onerror=alert(1)>\"\x01\x1b";
    e.sql_total = e.sql.size();
    if (failed) {
        e.has_sqlca = true;
        e.sqlcode = -204;
        e.sqlstate = "42<'>";
        e.tokens = {"</textarea><svg onload=alert(2)>", "it's \"quoted\""};
    }
    e.records = {{record, record + 1}};
    return e;
}

// Everything outside the tool's own script: no input-made element or attribute.
void expect_inert(const std::string& page) {
    const std::size_t script = page.find("<script>");
    ASSERT_NE(script, std::string::npos);
    EXPECT_EQ(page.find("<script", script + 1), std::string::npos);
    for (const char* bad : {"<img", "<svg onload", "</textarea>", "onerror=alert(1)>\"", "\"><script"})
        EXPECT_EQ(page.find(bad), std::string::npos) << bad;
}

TEST(HtmlReport, HostileTextIsOnlyEverCharacterData) {
    drda::html::HtmlReport report("trace<b>\"'.drdadbg", "dssview test");
    drda::summary::InputInfo info;
    info.kind = "pcap capture";
    report.input(info);
    for (std::uint64_t i = 1; i <= 30; ++i) report.exchange(hostile_exchange(i, static_cast<int>(2 * i), i % 3 == 0));
    drda::summary::ConnectionInfo c;
    c.has_conn = true;
    c.conn = 7;
    c.user = "<u onmouseover=alert(3)>";
    c.database = "DB'\"&";
    report.connection(c);
    drda::summary::Totals t;
    t.exchanges = 30;
    report.finish(t);
    // The 10 failed (every third) and the 20 slowest (11 to 30), 7 of
    // them both, each once.
    ASSERT_EQ(report.evidence().size(), 23u);
    report.evidence()[0].text = "2\tconnection 7 </pre><script>x()</script>\n";
    std::string page;
    drda::StringSink sink(page);
    drda::TextWriter w(sink);
    report.write(w);
    w.flush();
    expect_inert(page);
    EXPECT_NE(page.find("&lt;/script&gt;&lt;script&gt;window.__pwned=1&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("&lt;u onmouseover=alert(3)&gt;"), std::string::npos);
    EXPECT_NE(page.find("&lt;/pre&gt;&lt;script&gt;x()&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("<details id=\"x3\" data-conn=\"7\" data-record=\"6\" data-records=\"6-7\">"),
              std::string::npos);
    // Marks link to the evidence; the tables count what was fed.
    EXPECT_NE(page.find("<a href=\"#x30\"><rect class=\"m er\""), std::string::npos);
    EXPECT_NE(page.find("<h2>Errors: 1</h2>"), std::string::npos);
    EXPECT_NE(page.find("data-marks=\"30\""), std::string::npos);
}

// Feeds `sink` 120 connections of 500 exchanges each (past the caps of
// connections, lanes, marks and the slowest), every `failed_every`-th
// failed; with `scattered` server times that do not grow with the number.
void feed_many(drda::summary::ExchangeSink& sink, int failed_every = 7, bool scattered = true) {
    std::uint64_t seq = 0;
    for (std::uint32_t conn = 1; conn <= 120; ++conn) {
        for (int k = 0; k < 500; ++k) {
            drda::summary::Exchange e = hostile_exchange(++seq, static_cast<int>(seq), k % failed_every == 0);
            e.conn = conn;
            if (scattered) e.server_ms = static_cast<double>((seq * 7919) % 1000);
            e.sql = "SELECT " + std::to_string(k % 700) + " FROM T" + std::to_string(seq % 900);
            sink.exchange(e);
        }
        drda::summary::ConnectionInfo c;
        c.has_conn = true;
        c.conn = conn;
        sink.connection(c);
    }
    sink.finish(drda::summary::Totals{});
}

std::string page_of(const drda::html::HtmlReport& report) {
    std::string page;
    drda::StringSink sink(page);
    drda::TextWriter w(sink);
    report.write(w);
    w.flush();
    return page;
}

TEST(HtmlReport, CapsHoldOnAManyConnectionFeed) {
    drda::html::HtmlReport report("x", "v");
    feed_many(report, 2, false);
    EXPECT_LE(report.evidence().size(), drda::html::HtmlReport::kEvidenceFailed +
                                            drda::html::HtmlReport::kEvidenceSlowest);
    const std::string page = page_of(report);
    EXPECT_LT(page.size(), std::size_t{8} << 20);
    EXPECT_NE(page.find("70 connections with 35000 exchanges are not drawn"), std::string::npos);
    EXPECT_NE(page.find("<h2>Connections: 120</h2>"), std::string::npos);
    std::size_t marks = 0;
    for (std::size_t at = page.find("<rect class=\"m "); at != std::string::npos; at = page.find("<rect class=\"m ", at + 1))
        ++marks;
    EXPECT_LE(marks, drda::html::HtmlReport::kLanes * drda::html::HtmlReport::kLaneMarks);
    EXPECT_GT(marks, drda::html::HtmlReport::kLanes * drda::html::HtmlReport::kLaneMarks / 2);
    // Thinned out lanes keep the titles of the marks that stay, the first too.
    std::size_t titled = 0;
    for (std::size_t at = page.find("<title>EXCSQLIMM | SELECT "); at != std::string::npos;
         at = page.find("<title>EXCSQLIMM | SELECT ", at + 1))
        ++titled;
    EXPECT_EQ(titled, marks);
}

TEST(HtmlReport, OneAggregateServesTheSummaryAndThePageAsTheirOwnWould) {
    // Each view with figures of its own.
    drda::html::HtmlReport page_alone("x", "v");
    feed_many(page_alone);
    std::string text_alone;
    {
        drda::StringSink sink(text_alone);
        drda::TextWriter w(sink);
        drda::summary::TextReport report(w, false);
        feed_many(report);
        w.flush();
    }
    // Both from one aggregate, fed first, as the tool runs them.
    drda::summary::Aggregate aggregate;
    drda::html::HtmlReport page("x", "v", &aggregate);
    std::string text;
    drda::StringSink sink(text);
    drda::TextWriter w(sink);
    drda::summary::TextReport report(w, false, false, &aggregate);
    struct All final : drda::summary::ExchangeSink {
        std::vector<drda::summary::ExchangeSink*> to;
        void exchange(const drda::summary::Exchange& e) override {
            for (auto* s : to) s->exchange(e);
        }
        void connection(const drda::summary::ConnectionInfo& c) override {
            for (auto* s : to) s->connection(c);
        }
        void finish(const drda::summary::Totals& t) override {
            for (auto* s : to) s->finish(t);
        }
    } all;
    all.to = {&aggregate, &report, &page};
    feed_many(all);
    w.flush();
    EXPECT_EQ(text, text_alone);
    EXPECT_EQ(page_of(page), page_of(page_alone));
    EXPECT_NE(text.find("Slowest exchanges: 10\n"), std::string::npos);
    EXPECT_EQ(aggregate.slowest().entries().size(), drda::summary::Aggregate::kSlowest);
    EXPECT_EQ(aggregate.figures().exchanges, 60000u);
}

TEST(HtmlOption, BesideOtherOutputsAndOnFailure) {
    const std::string trace = data_path("s06_errors.req.drdadbg");
    const std::string page = temp_path("page.html");
    // Alone: nothing on standard output; beside -s, -j and -r: their
    // output unchanged and the same page.
    RunResult alone = run_dssview({"--html", page, trace});
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.out, "");
    const std::string text = read_file(page);
    EXPECT_NE(text.find("</html>\n"), std::string::npos);
    for (const char* mode : {"-s", "-j", "-r"}) {
        const RunResult plain = run_dssview({mode, trace});
        const RunResult both = run_dssview({mode, "--html", page, trace});
        EXPECT_EQ(both.status, plain.status) << mode;
        EXPECT_EQ(both.out, plain.out) << mode;
        EXPECT_EQ(read_file(page), text) << mode;
    }
    // With a selection: only the selected exchanges.
    RunResult failed = run_dssview({"--failed", "--html", page, trace});
    EXPECT_EQ(failed.status, 0);
    EXPECT_NE(read_file(page).find("<dt>selection</dt><dd>--failed</dd>"), std::string::npos);
    // A file that cannot be opened: as -o's.
    RunResult bad = run_dssview({"--html", "/nonexistent-dir/p.html", trace});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "/nonexistent-dir/p.html: No such file or directory\n");
    // A cut trace: status 255 as without --html, and a page that says where it stopped.
    std::string bytes = read_file(trace);
    const std::string cut_trace = temp_path("cut.drdadbg");
    write_file(cut_trace, bytes.substr(0, bytes.size() * 2 / 3));
    const RunResult plain = run_dssview({"-s", cut_trace});
    const RunResult both = run_dssview({"-s", "--html", page, cut_trace});
    EXPECT_EQ(both.status, 255);
    EXPECT_EQ(both.status, plain.status);
    EXPECT_EQ(both.out, plain.out);
    const std::string stopped = read_file(page);
    EXPECT_NE(stopped.find("id=\"stopped\">The input could not be read to its end; the last record read is record "),
              std::string::npos);
    // From a pipe: the same page as from the file (held in a temporary file for the second pass).
    const std::string piped = temp_path("piped.html");
    const std::string cmd = std::string("TZ=UTC ") + DSSVIEW_BIN + " --html " + piped + " - < " + trace + " | cat";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    run_dssview({"--html", page, trace});
    std::string a = read_file(page), b = read_file(piped);
    // Only the input's name differs.
    const auto strip = [](std::string s, const std::string& name) {
        for (std::size_t at = s.find(name); at != std::string::npos; at = s.find(name)) s.erase(at, name.size());
        return s;
    };
    EXPECT_EQ(strip(a, trace), strip(b, "standard input"));
}

}  // namespace

namespace {

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// -j, --from/--to and the page's timeline share one start time: an exchange
// whose request has no valid time has none in all three (its reply's time
// does not stand in for it).
TEST(HtmlOption, PageJsonAndTimeWindowAgreeOnWhenAnExchangeBegan) {
    std::string bytes = read_file(data_path("s06_errors.req.drdadbg"));
    const auto be32 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) << 24 |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 3]));
    };
    // Record 11 is the request of a failed EXCSQLIMM; its time becomes NaN.
    std::size_t at = 11;
    for (int record = 1; record < 11; ++record) {
        const std::size_t name = be32(at + 1);
        at += 1 + 4 + name + 4 + 8 + be32(at + 5 + name);
    }
    const std::size_t time_at = at + 1 + 4 + be32(at + 1) + 4;
    ASSERT_LT(time_at + 8, bytes.size());
    bytes.replace(time_at, 8, std::string("\x7F\xF8\0\0\0\0\0\0", 8));
    const std::string trace = temp_path("no_request_time.drdadbg");
    write_file(trace, bytes);

    const RunResult json = run_dssview({"-j", trace});
    ASSERT_EQ(json.status, 0);
    const std::size_t all = count_of(json.out, "\n"), timeless = count_of(json.out, "{\"ts\":null");
    ASSERT_GE(timeless, 1u) << json.out;  // the request of record 11 and any chained to it
    const RunResult window = run_dssview({"-j", "--from", "00:00", "--to", "23:59:59", trace});
    EXPECT_EQ(count_of(window.out, "\n"), all - timeless);
    EXPECT_EQ(window.out.find("\"record\":11,"), std::string::npos);
    const std::string page = temp_path("no_request_time.html");
    ASSERT_EQ(run_dssview({"--html", page, trace}).status, 0);
    EXPECT_EQ(count_of(read_file(page), "<rect class=\"m "), all - timeless);
}

}  // namespace

namespace {

// The evidence reading asks for records by connection and number, and once
// an exchange's text reached its cap neither prints nor decodes its records
// past the last one another exchange of the connection still wants.
TEST(HtmlEvidence, RecordsAreWantedByConnectionAndNumberUntilTheirTextIsCut) {
    std::vector<drda::html::Evidence> ev(3);
    ev[0].has_conn = true, ev[0].conn = 2, ev[0].records = {{3, 4}, {9, 9}};
    ev[1].has_conn = true, ev[1].conn = 2, ev[1].records = {{6, 7}};
    ev[2].has_conn = true, ev[2].conn = 5, ev[2].records = {{4, 4}};
    drda::html::EvidenceCollector c(ev);
    EXPECT_TRUE(c.wants(2, 3) && c.wants(2, 4) && c.wants(2, 9) && c.wants(2, 6) && c.wants(5, 4));
    EXPECT_FALSE(c.wants(2, 5) || c.wants(5, 3) || c.wants(3, 4) || c.wants(2, 10));
    EXPECT_TRUE(c.wants_connection(2, 1) && c.wants_connection(2, 9) && c.wants_connection(5, 4));
    EXPECT_FALSE(c.wants_connection(2, 10) || c.wants_connection(5, 5) || c.wants_connection(4, 1));

    drda::TextWriter out(c.sink());
    drda::Record rec;
    rec.connection = 2;
    rec.number = 3;
    c.start(out);
    out.put("record 3\n");
    EXPECT_TRUE(c.done(rec, true, out));
    EXPECT_EQ(ev[0].text, "record 3\n");
    // Record 4 is more than the exchange may keep: its text is cut, and
    // record 9, wanted only by it, is no longer wanted.
    rec.number = 4;
    c.start(out);
    out.put(std::string(drda::html::HtmlReport::kEvidenceBytes, 'x'));
    EXPECT_TRUE(c.done(rec, true, out));
    EXPECT_TRUE(ev[0].cut);
    EXPECT_EQ(ev[0].text, "record 3\n");
    EXPECT_FALSE(c.wants(2, 9));
    EXPECT_FALSE(c.wants_connection(2, 8));
    EXPECT_TRUE(c.wants_connection(2, 7));
    // Past the last record still wanted anywhere, the reading may stop.
    rec.connection = 5;
    rec.number = 7;
    EXPECT_FALSE(c.done(rec, false, out));
}

}  // namespace
