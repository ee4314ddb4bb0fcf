// SPDX-License-Identifier: Apache-2.0
// How a run goes, top to bottom:
//   - a record source (trace file or capture) hands out events: a record, a
//     connection note, a gap, a connection closed, the end, a failure;
//   - one loop (read_source) takes them: the listing shows the records the
//     selection lets through, the decoders see every record of the
//     connections shown, the exchange tracker feeds -s, -j and the page;
//   - a pass (Pass) says what one reading of the input does: the plan's
//     output, the first of two readings that only finds the records of the
//     selected exchanges, or the page's evidence reading;
//   - run() opens the output files, reads the input once (twice with
//     exchange options in the listing modes), then writes the page after
//     a last reading for its evidence.
#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "app/compare_run.h"
#include "app/live_run.h"
#include "build_info.h"
#include "capture/capture_source.h"
#include "common/record.h"
#include "common/stream_input.h"
#include "common/text_policy.h"
#include "ddm/dss_layer.h"
#include "ddm/rows/conversation.h"
#include "html/evidence.h"
#include "html/html_report.h"
#include "listing/buffer_listing.h"
#include "summary/tracker.h"
#include "summary/views.h"
#include "trace/trace_file.h"

namespace drda {
namespace {

// --- record sources as events ---------------------------------------------------

enum class Event { record, note, gap, closed, end, failed };

// What the loop needs of a record source: its events, and its own lines
// printed on request.
class Source {
public:
    virtual ~Source() = default;
    virtual bool capture() const = 0;
    // Reads the file header; false when the input cannot be read at all.
    virtual bool open() = 0;
    virtual Event next(Record& rec) = 0;
    virtual void print_header(TextWriter& out) = 0;
    // The lines of the last event: a record's header block, a CONNECTION line.
    virtual void print_event(TextWriter& out) = 0;
    // What was written since the last record's header ends with an empty
    // line but for row lines after it: a line set apart needs no other.
    virtual void text_ends_blank() {}
    // The time of the last record as its header shows it; empty: none.
    virtual std::string_view time_text() = 0;
    // After the end: a record the input ended inside (0: none) and its lines.
    virtual int cut_record() const = 0;
    virtual void print_cut(TextWriter& out) = 0;
    // After the end: the notes that are always shown (skipped fragments, the
    // ERROR line of a damaged file).
    virtual void print_notes(TextWriter& out) = 0;
    // The ERROR line without its line breaks; empty: none.
    virtual std::string_view error_line() const = 0;
    virtual summary::InputInfo info() const = 0;
    // How the connection of the last `closed` ended.
    virtual summary::ConnEnd how_closed() const = 0;
};

class TraceSource final : public Source {
public:
    template <class In>
    TraceSource(In& in, ByteView head, const std::string& name, std::FILE* err) : file_(in, name, err), head_(head) {}
    bool capture() const override { return false; }
    bool open() override { return file_.read_header(head_); }
    Event next(Record& rec) override {
        switch (file_.next(rec)) {
            case TraceFile::Next::record: return Event::record;
            case TraceFile::Next::end: return Event::end;
            default: return Event::failed;
        }
    }
    void print_header(TextWriter& out) override { file_.print_header(out); }
    void print_event(TextWriter& out) override { file_.print_record(out); }
    std::string_view time_text() override { return file_.time_text(); }
    int cut_record() const override { return file_.cut_record(); }
    void print_cut(TextWriter& out) override { file_.print_record(out); }
    void print_notes(TextWriter& out) override { file_.print_error(out); }
    std::string_view error_line() const override { return file_.error_line(); }
    summary::InputInfo info() const override {
        summary::InputInfo i;
        i.kind = "trace file";
        return i;
    }
    summary::ConnEnd how_closed() const override { return summary::ConnEnd::end_of_input; }

private:
    TraceFile file_;
    ByteView head_;
};

class CaptureEvents final : public Source {
public:
    template <class... Args>
    explicit CaptureEvents(Args&&... args) : source_(std::forward<Args>(args)...) {}
    bool capture() const override { return true; }
    bool open() override { return source_.read_header(); }
    Event next(Record& rec) override {
        switch (source_.next(rec)) {
            case CaptureSource::Next::record: return Event::record;
            case CaptureSource::Next::note: return Event::note;
            case CaptureSource::Next::gap: return Event::gap;
            case CaptureSource::Next::closed: return Event::closed;
            case CaptureSource::Next::end: return Event::end;
            default: return Event::failed;
        }
    }
    void print_header(TextWriter& out) override { source_.print_header(out); }
    void print_event(TextWriter& out) override { source_.print_event(out); }
    void text_ends_blank() override { source_.text_ends_blank(); }
    std::string_view time_text() override { return source_.time_text(); }
    void set_key_log(capture::KeyLog* keys) { source_.set_key_log(keys); }
    int cut_record() const override { return 0; }
    void print_cut(TextWriter&) override {}
    void print_notes(TextWriter& out) override { source_.print_notes(out); }
    std::string_view error_line() const override { return {}; }
    summary::InputInfo info() const override {
        const CaptureSource::Stats& st = source_.stats();
        summary::InputInfo i;
        i.kind = st.kind;
        i.packets = st.packets;
        i.cut_packets = st.cut_packets;
        i.snaplen = st.cut_to;
        i.missing_bytes = st.missing_bytes;
        i.gaps = st.gaps;
        i.tls_keyed = st.tls_keyed;
        i.tls_unkeyed = st.tls_unkeyed;
        return i;
    }
    summary::ConnEnd how_closed() const override {
        using capture::Event;
        const CaptureSource::Closing& how = source_.closing();
        const bool server = how.side == capture::kServer;
        switch (how.kind) {
            case Event::closed:
                return how.rst ? (server ? summary::ConnEnd::rst_server : summary::ConnEnd::rst_client)
                               : (server ? summary::ConnEnd::fin_server : summary::ConnEnd::fin_client);
            case Event::dropped: return summary::ConnEnd::dropped;
            case Event::idle: return summary::ConnEnd::idle;
            case Event::replaced: return summary::ConnEnd::replaced;
            default: return summary::ConnEnd::still_open;
        }
    }

private:
    CaptureSource source_;
};

// The input's first bytes tell its format: a capture, else a trace file.
template <class In>
std::unique_ptr<Source> open_source(In& in, ByteView head, const std::string& name, std::FILE* err,
                                    const Plan& plan) {
    if (!is_capture_magic(head)) return std::make_unique<TraceSource>(in, head, name, err);
    capture::Limits limits;
    limits.ports = plan.ports;
    auto source = std::make_unique<CaptureEvents>(in, head, name, err, limits);
    source->set_key_log(plan.keys.get());
    return source;
}

// --- the decoders ----------------------------------------------------------------

// The -f decoder (with -r the row decoder listening to it) of each
// connection: a trace file is one conversation with one decoder; a capture's
// connection decodes as if it were alone, with a decoder per direction (a
// cut DSS header belongs to one direction). A connection's state is
// dropped when it ends.
class Decoders {
public:
    Decoders(Plan::Decode decode, bool capture) : rows_(decode == Plan::Decode::rows), capture_(capture) {}

    // Decodes a record; returns whether its decode ended with an empty line
    // and row lines after it.
    bool decode(TextWriter& out, const Record& rec) {
        DdmDecoder& decoder = state(rec.connection).decoder[side(rec)];
        decoder.decode_buffer(out, rec.direction, rec.data);
        return rows_ && decoder.ended_blank();
    }
    void gap(const Record& rec) {
        auto it = connections_.find(rec.connection);
        if (it == connections_.end()) return;
        it->second->decoder[side(rec)].drop_carried();
        if (it->second->rows) it->second->rows->bytes_missing(side(rec) == 1);
    }
    void closed(const Record& rec) {
        connections_.erase(rec.connection);
        last_ = nullptr;
    }

private:
    struct Connection {
        DdmDecoder decoder[2];  // client's bytes, server's bytes
        std::unique_ptr<rows::Conversation> rows;
    };
    int side(const Record& rec) const { return capture_ && rec.direction != kDirectionSend ? 1 : 0; }
    Connection& state(std::uint32_t connection) {
        if (last_ && last_conn_ == connection) return *last_;
        std::unique_ptr<Connection>& c = connections_[connection];
        if (!c) {
            c = std::make_unique<Connection>();
            if (rows_) {
                c->rows = std::make_unique<rows::Conversation>();
                for (DdmDecoder& d : c->decoder) d.set_observer(c->rows.get());
            }
        }
        last_conn_ = connection;
        last_ = c.get();
        return *c;
    }

    bool rows_, capture_;
    std::unordered_map<std::uint32_t, std::unique_ptr<Connection>> connections_;
    std::uint32_t last_conn_ = 0;
    Connection* last_ = nullptr;
};

// --- what one reading of the input does ---------------------------------------------

struct Pass {
    const Plan& plan;
    bool prompt = false;                         // hand on each unit as it is complete
    html::HtmlReport* page = nullptr;            // fed with the exchanges beside the plan's views
    summary::Aggregate* aggregate = nullptr;     // the figures -s and the page show, fed before them
    const SelectedRecords* held = nullptr;       // the second of two readings
    SelectedRecords* collect = nullptr;          // the first: the tracker only, into this
    html::EvidenceCollector* evidence = nullptr; // the page's evidence: -r of its records
    summary::ExchangeSink* also = nullptr;       // fed with the exchanges too (--compare's collector)

    // Whether the record listing is written.
    bool listing() const { return !collect && (evidence || plan.listing()); }
    Plan::Decode decode() const { return evidence ? Plan::Decode::rows : collect ? Plan::Decode::none : plan.decode; }
    // Whether the exchange tracker runs, and for which views.
    bool exchanges() const {
        return !evidence && (collect || plan.summary() || plan.mode == Plan::Mode::json || page || also);
    }
};

// Hands every exchange (connection, input, end) to two views: -s or -j and
// the page, or those and another.
class TeeSink final : public summary::ExchangeSink {
public:
    TeeSink(summary::ExchangeSink& a, summary::ExchangeSink& b) : a_(a), b_(b) {}
    void exchange(const summary::Exchange& e) override { a_.exchange(e), b_.exchange(e); }
    void connection(const summary::ConnectionInfo& c) override { a_.connection(c), b_.connection(c); }
    void input(const summary::InputInfo& info) override { a_.input(info), b_.input(info); }
    void finish(const summary::Totals& t) override { a_.finish(t), b_.finish(t); }

private:
    summary::ExchangeSink &a_, &b_;
};

// The exchange tracker and the views it feeds: the selection, then -s or
// -j and the page (or, in a first reading, the records to hold).
class ExchangeViews {
public:
    ExchangeViews(const Pass& pass, const Selection& sel, TextWriter& out) : pass_(pass) {
        if (!pass.exchanges()) return;
        summary::ExchangeSink* sink = pass.collect;
        if (!sink) {
            if (pass.plan.mode == Plan::Mode::json) view_ = std::make_unique<summary::JsonLines>(out);
            else if (pass.plan.summary())
                view_ = std::make_unique<summary::TextReport>(out, pass.listing(), pass.plan.exchange_lines,
                                                              pass.aggregate);
            sink = view_.get();
            for (summary::ExchangeSink* beside : {static_cast<summary::ExchangeSink*>(pass.page), pass.also})
                if (beside) sink = sink ? keep(std::make_unique<TeeSink>(*sink, *beside)) : beside;
            // The figures first: the views read them.
            if (pass.aggregate && sink) sink = keep(std::make_unique<TeeSink>(*pass.aggregate, *sink));
            if (pass.prompt) sink = keep(std::make_unique<FlushingExchangeSink>(*sink, out));
            if (sel.any()) sink = keep(std::make_unique<SelectingSink>(sel, *sink));
        }
        head_ = sink;
        tracker_ = std::make_unique<summary::ExchangeTracker>(*sink);
    }

    void record(const Record& rec) {
        if (!tracker_) return;
        if (pass_.page) pass_.page->record_seen(rec.number);
        tracker_->feed(rec);
    }
    void gap(const Record& rec) {
        if (tracker_) tracker_->gap(rec);
    }
    void closed(const Record& rec, summary::ConnEnd how) {
        if (tracker_) tracker_->closed(rec, how);
    }

    // The end of the input: the views are finished; then, when the input
    // could not be read to its end and no listing showed why, the reason
    // (on the error stream where the output holds nothing else).
    void finish(const Source& source, int result, std::FILE* err, const std::string& input_name, TextWriter& out) {
        if (!tracker_) return;
        head_->input(source.info());
        tracker_->finish();
        if (pass_.collect) return;
        const std::string_view line = pass_.listing() ? std::string_view() : source.error_line();
        if (pass_.page && result != 0) pass_.page->stopped(std::string(line));
        if (line.empty()) return;
        const Plan::Mode mode = pass_.plan.mode;
        if (mode == Plan::Mode::json || mode == Plan::Mode::page_only || mode == Plan::Mode::compare) {
            std::fprintf(err, "%s: %.*s\n", input_name.c_str(), static_cast<int>(line.size()), line.data());
        } else {
            out.put('\n');
            out.put(line);
            out.put('\n');
        }
    }

private:
    summary::ExchangeSink* keep(std::unique_ptr<summary::ExchangeSink> s) {
        chain_.push_back(std::move(s));
        return chain_.back().get();
    }

    const Pass& pass_;
    std::unique_ptr<summary::ExchangeSink> view_;
    std::vector<std::unique_ptr<summary::ExchangeSink>> chain_;
    summary::ExchangeSink* head_ = nullptr;
    std::unique_ptr<summary::ExchangeTracker> tracker_;
};

// --- the loop ------------------------------------------------------------------------

// One reading of `source` as `pass` says, the listing to `out`.
class Loop {
public:
    Loop(Source& source, const Pass& pass, TextWriter& out, std::FILE* err, const std::string& input_name)
        : source_(source), pass_(pass), out_(out), err_(err), input_name_(input_name),
          selection_(pass.evidence ? Selection() : pass.plan.selection),
          filter_(selection_, source.capture(), pass.held), listing_(pass.listing()),
          decoders_(pass.decode(), source.capture()), views_(pass, selection_, out) {
        if (pass.prompt) clock_ = std::make_unique<PromptClock>(out);
    }

    int run() {
        int result = -1;
        if (source_.open()) result = events();
        end(result);
        return result;
    }

private:
    int events() {
        if (listing_ && !pass_.evidence) source_.print_header(out_);
        Record rec;
        for (;;) {
            switch (source_.next(rec)) {
                case Event::record:
                    if (!record(rec)) return -1;
                    break;
                case Event::note: line(rec); break;
                case Event::gap:
                    line(rec);
                    decoders_.gap(rec);
                    views_.gap(rec);
                    break;
                case Event::closed:
                    line(rec);
                    decoders_.closed(rec);
                    views_.closed(rec, source_.how_closed());
                    break;
                case Event::end: return 0;
                case Event::failed: return -1;
            }
            if (clock_) clock_->unit_done();
        }
    }

    // A record: its block when shown, its decode (into nothing when not
    // shown: the decoders carry state from record to record), the tracker.
    // False when no later record is wanted.
    bool record(const Record& rec) {
        if (rec.has_time && selection_.window()) selection_.first_time(rec.time);
        if (listing_) {
            if (pass_.evidence) pass_.evidence->start(out_);
            const bool shown = shows(rec);
            if (shown) {
                source_.print_event(out_);
                print_buffer(out_, rec.direction, rec.data);
            }
            if (pass_.decode() != Plan::Decode::none && decodes(rec) && decoders_.decode(shown ? out_ : discard_, rec) &&
                shown && !selection_.any())
                source_.text_ends_blank();
            if (pass_.evidence && !pass_.evidence->done(rec, shown, out_)) return false;
        }
        views_.record(rec);
        return true;
    }

    bool shows(const Record& rec) {
        if (pass_.evidence) return pass_.evidence->wants(rec.connection, rec.number);
        return !selection_.any() || filter_.shows(rec, selection_.window() ? source_.time_text() : std::string_view());
    }
    // Whether the decoders of the record's connection run: they carry
    // state from record to record, so every record of a connection whose
    // records are shown, up to the last one wanted.
    bool decodes(const Record& rec) const {
        return pass_.evidence ? pass_.evidence->wants_connection(rec.connection, rec.number)
                              : filter_.conn_shown(rec.connection);
    }
    // A connection's line, with its records.
    void line(const Record& rec) {
        if (listing_ && !pass_.evidence && filter_.conn_shown(rec.connection)) source_.print_event(out_);
    }

    // The end of the input, read to it or not.
    void end(int result) {
        if (listing_ && !pass_.evidence) {
            const int cut = source_.cut_record();
            if (cut && (!selection_.any() || filter_.shows_cut(cut))) source_.print_cut(out_);
            source_.print_notes(out_);
            if (const int from = filter_.not_held_from()) {
                if (!out_.at_blank_line()) out_.put('\n');
                out_.printf("SELECTION: more than %zu runs of records selected by exchange; records from %d on were "
                            "not tested and are not shown\n",
                            SelectedRecords::kMaxRuns, from);
            }
        }
        views_.finish(source_, result, err_, input_name_, out_);
    }

    Source& source_;
    const Pass& pass_;
    TextWriter& out_;
    std::FILE* err_;
    const std::string& input_name_;
    Selection selection_;  // the plan's, its times of day fixed by the first record
    RecordFilter filter_;
    bool listing_;
    Decoders decoders_;
    ExchangeViews views_;
    NullSink nothing_;
    TextWriter discard_{nothing_};
    std::unique_ptr<PromptClock> clock_;
};

template <class In>
int read_source(In& in, ByteView head, const std::string& name, TextWriter& out, std::FILE* err, const Pass& pass) {
    const std::unique_ptr<Source> source = open_source(in, head, name, err, pass.plan);
    return Loop(*source, pass, out, err, name).run();
}

// --- inputs read more than once ----------------------------------------------------------

// Where the first of two readings reports: nowhere (the second reports).
class Silent {
public:
    Silent() : f_(std::fopen("/dev/null", "w")) {
        if (!f_) f_ = std::tmpfile();
    }
    ~Silent() {
        if (f_) std::fclose(f_);
    }
    std::FILE* or_else(std::FILE* err) const { return f_ ? f_ : err; }

private:
    std::FILE* f_;
};

// An input file read from where it stands: its first bytes tell the format.
int read_file(std::FILE* in, const std::string& name, TextWriter& out, std::FILE* err, const Pass& pass) {
    // Enough for the trace magic, which is longer than the capture magics.
    std::uint8_t head[7];
    errno = 0;
    const std::size_t n = std::fread(head, 1, sizeof head, in);
    return read_source(in, ByteView(head, n), name, out, err, pass);
}

// An input that cannot seek (a pipe) copied to a temporary file, from
// where it is read as many times as needed; null when `in` can seek (it is
// then read again from `start`) or on failure (`failed`, reported on `err`).
std::FILE* hold_input(std::FILE* in, const std::string& input_name, std::FILE* err, const char* what, off_t& start,
                      bool& failed) {
    failed = false;
    start = ftello(in);
    if (start >= 0 && fseeko(in, start, SEEK_SET) == 0) return nullptr;
    std::clearerr(in);
    std::FILE* spool = std::tmpfile();
    if (!spool) {
        std::fprintf(err, "%s: no temporary file to hold the input for %s: %s\n", input_name.c_str(), what,
                     std::strerror(errno));
        failed = true;
        return nullptr;
    }
    static char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        if (std::fwrite(buf, 1, n, spool) != n) {
            std::fprintf(err, "%s: cannot hold the input for %s: %s\n", input_name.c_str(), what,
                         std::strerror(errno ? errno : EIO));
            std::fclose(spool);
            failed = true;
            return nullptr;
        }
    }
    // A read error ends the copy; the passes then see the input end
    // there, and the error is reported as the end of the input.
    if (std::ferror(in)) {
        std::fprintf(err, "%s: %s\n", input_name.c_str(), std::strerror(errno ? errno : EIO));
        std::fclose(spool);
        failed = true;
        return nullptr;
    }
    std::rewind(spool);
    start = 0;
    return spool;
}

// Exchange options in the listing modes: a first reading runs only the
// exchange tracker and keeps the runs of record numbers of the selected
// exchanges (SelectedRecords, capped); a second reads the input again from
// where it began with fresh decoders and prints the selected records. An
// input that cannot seek (a pipe) is first copied to a temporary file, so
// memory stays bounded whatever the input's size.
int read_twice(std::FILE* in, const std::string& name, TextWriter& out, std::FILE* err, const Pass& pass) {
    off_t start = 0;
    bool failed = false;
    std::FILE* spool = hold_input(in, name, err, "the selection", start, failed);
    if (failed) return -1;
    if (spool) in = spool;
    SelectedRecords held(pass.plan.selection);
    {
        const Silent silent;
        NullSink nothing;
        TextWriter quiet(nothing);
        Pass first{pass.plan};
        first.collect = &held;
        read_file(in, name, quiet, silent.or_else(err), first);
    }
    int result = -1;
    if (fseeko(in, start, SEEK_SET) != 0) {
        std::fprintf(err, "%s: %s\n", name.c_str(), std::strerror(errno ? errno : EIO));
    } else {
        std::clearerr(in);
        Pass second = pass;
        second.held = &held;
        result = read_file(in, name, out, err, second);
    }
    if (spool) std::fclose(spool);
    return result;
}

// An input file, read once or twice as the plan needs.
int read_input(std::FILE* in, const std::string& name, TextWriter& out, std::FILE* err, const Pass& pass) {
    if (pass.plan.two_passes() && !pass.held && !pass.collect && !pass.evidence)
        return read_twice(in, name, out, err, pass);
    return read_file(in, name, out, err, pass);
}

// --- the page ------------------------------------------------------------------------------

// After the run: a reading that takes the -r text of the records of the
// page's evidence, by connection and record (decoders still see every
// record of those connections up to the last one wanted); then the page.
void write_page(html::HtmlReport& page, const Plan& plan, std::FILE* in, off_t start, const std::string& name,
                std::FILE* page_file, std::FILE* err) {
    html::EvidenceCollector collector(page.evidence());
    if (!collector.empty()) {
        if (fseeko(in, start, SEEK_SET) != 0) {
            page.no_evidence(std::strerror(errno ? errno : EIO));
        } else {
            std::clearerr(in);
            Pass evidence{plan};
            evidence.evidence = &collector;
            TextWriter text(collector.sink());
            text.set_text_mode(TextMode::utf8);  // the page shows characters in any locale
            const Silent silent;
            read_input(in, name, text, silent.or_else(err), evidence);
            text.flush();
        }
    }
    FileSink sink(page_file, *plan.page);
    TextWriter out(sink);
    page.write(out);
    out.flush();
}

// --- the run --------------------------------------------------------------------------------

// The output files of a plan, opened once the command line is accepted.
struct Outputs {
    std::FILE* out = stdout;
    std::string out_name = "standard output";
    std::FILE* page = nullptr;

    bool open(const Plan& plan, std::FILE* err) {
        for (const std::string& name : plan.replaced) {
            std::FILE* f = open_file(name, err);
            if (!f) return false;
            std::fclose(f);
        }
        if (plan.output && !(out = open_file(*plan.output, err))) return false;
        if (plan.output) out_name = *plan.output;
        return !plan.page || (page = open_file(*plan.page, err));
    }
    // Closes them; false when what was written could not be (reported
    // when `report`: a run that failed has said why already).
    bool close(const Plan& plan, std::FILE* err, bool report) {
        bool ok = close_file(out, out_name, err, report);
        if (page) ok = close_file(page, *plan.page, err, report && ok) && ok;
        return ok;
    }

private:
    static std::FILE* open_file(const std::string& name, std::FILE* err) {
        std::FILE* f = std::fopen(name.c_str(), "w");
        if (!f) std::fprintf(err, "%s: %s\n", name.c_str(), std::strerror(errno));
        return f;
    }
    static bool close_file(std::FILE* f, const std::string& name, std::FILE* err, bool report) {
        errno = 0;
        if (std::fclose(f) == 0) return true;
        if (report) std::fprintf(err, "%s: %s\n", name.c_str(), std::strerror(errno ? errno : EIO));
        return false;
    }
};

// Standard input read as it comes: each record and exchange is handed on as
// soon as it is complete, and a stop request ends the input cleanly.
int read_live(TextWriter& out, std::FILE* err, const Pass& pass) {
    StreamInput in(0);
    if (pass.prompt) in.on_wait(flush_writer, &out);
    // As for a file, but only as many bytes as the format needs are waited
    // for; what is shown is handed on before any wait.
    std::uint8_t head[7];
    const std::size_t n = in.read_full(head, sizeof head);
    if (n < sizeof head && in.stopped()) return 0;  // stopped before anything came
    return read_source(in, ByteView(head, n), "standard input", out, err, pass);
}

// The input of a run: standard input watched live, or a file that can be
// read again when the page needs it (a pipe is then held in a temporary
// file).
struct OpenInput {
    std::FILE* file = nullptr;
    std::FILE* held = nullptr;  // the temporary copy of a pipe
    off_t start = 0;
    bool live = false;          // standard input, watched as it comes
    // Read as it comes; not with exchange options in the listing modes,
    // which read it twice (held in a temporary file).
    bool as_it_comes = false;

    bool open(const Plan& plan, std::FILE* err) {
        const bool is_stdin = is_stdin_name(plan.input);
        if (is_stdin && !plan.page) {
            live = true;
            as_it_comes = !plan.two_passes();
            file = stdin;
            return true;
        }
        file = is_stdin ? stdin : std::fopen(plan.input.c_str(), "rb");
        if (!file) {
            std::fprintf(err, "%s: %s\n", plan.input.c_str(), std::strerror(errno));
            return false;
        }
        static char inbuf[1 << 16];
        if (!is_stdin) std::setvbuf(file, inbuf, _IOFBF, sizeof inbuf);
        if (!plan.page) return true;
        // The page reads the input a second time for its evidence.
        bool failed = false;
        held = hold_input(file, is_stdin ? "standard input" : plan.input, err, "the page", start, failed);
        return !failed;
    }
    std::FILE* read_from() const { return held ? held : file; }
    ~OpenInput() {
        if (held) std::fclose(held);
        if (file && file != stdin) std::fclose(file);
    }
};

}  // namespace

int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out, std::FILE* err,
                      const Plan& plan, summary::ExchangeSink* also) {
    Pass pass{plan};
    pass.also = also;
    return read_input(in, input_name, out, err, pass);
}

int read_capture_memory(ByteView capture, const std::string& input_name, TextWriter& out, std::FILE* err,
                        const Plan& plan, const capture::Limits& given, summary::ExchangeSink* also) {
    capture::Limits limits = given;
    limits.ports.insert(limits.ports.end(), plan.ports.begin(), plan.ports.end());
    const auto reading = [&](TextWriter& w, std::FILE* e, const Pass& pass) {
        CaptureEvents source(capture, input_name, e, limits);
        source.set_key_log(plan.keys.get());
        return Loop(source, pass, w, e, input_name).run();
    };
    Pass pass{plan};
    pass.also = also;
    if (!plan.two_passes()) return reading(out, err, pass);
    SelectedRecords held(plan.selection);
    {
        const Silent silent;
        NullSink nothing;
        TextWriter quiet(nothing);
        Pass first{plan};
        first.collect = &held;
        reading(quiet, silent.or_else(err), first);
    }
    pass.held = &held;
    return reading(out, err, pass);
}

int run(const Plan& plan, std::FILE* err) {
    Outputs outputs;
    if (!outputs.open(plan, err)) return 1;
    if (plan.mode == Plan::Mode::compare) {
        int status = run_compare(plan, outputs.out, outputs.out_name, outputs.page, err);
        if (!outputs.close(plan, err, status >= 0)) status = -1;
        return status < 0 ? 255 : status;
    }
    OpenInput input;
    int result = -1;
    if (input.open(plan, err)) {
        const std::string name = is_stdin_name(plan.input) ? "standard input" : plan.input;
        // One set of figures for -s and the page.
        std::unique_ptr<summary::Aggregate> aggregate;
        if (plan.summary() || plan.page) aggregate = std::make_unique<summary::Aggregate>();
        std::unique_ptr<html::HtmlReport> page;
        if (plan.page) page = std::make_unique<html::HtmlReport>(name, build::kProductVersion, aggregate.get());
        Pass pass{plan};
        pass.page = page.get();
        pass.aggregate = aggregate.get();
        if (input.live) {
            install_stop_handlers();
            widen_input_pipe(0);
            // The writer's blocks go straight to the descriptor: nothing
            // waits in a second buffer, and nothing is left there when the
            // reader of the output is gone.
            std::setvbuf(outputs.out, nullptr, _IONBF, 0);
            pass.prompt = input.as_it_comes && prompt_output(outputs.out);
        }
        FileSink sink(outputs.out, outputs.out_name);
        try {
            TextWriter out(sink);
            out.set_text_mode(text::output_mode(plan.ascii));
            result = input.as_it_comes ? read_live(out, err, pass) : read_input(input.read_from(), name, out, err, pass);
            out.flush();
            if (page) write_page(*page, plan, input.read_from(), input.start, name, outputs.page, err);
        } catch (const OutputError& e) {
            // Watching live, the reader of the output going away (| head)
            // is the end of the run, not a failure.
            if (input.live && e.error_number() == EPIPE) {
                result = 0;
            } else {
                std::fprintf(err, "%s\n", e.what());
                result = -1;
            }
        }
    }
    if (!outputs.close(plan, err, result == 0)) result = -1;
    return result == 0 ? 0 : 255;
}

}  // namespace drda
