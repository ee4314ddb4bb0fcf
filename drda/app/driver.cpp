// SPDX-License-Identifier: Apache-2.0
#include "app/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "app/live_run.h"
#include "build_info.h"
#include "capture/capture_source.h"
#include "common/record.h"
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

// Whether the record listing (with -f the decode) is printed: not in a
// first pass, and not when only -s, -j or --html is asked for.
bool shows_listing(const TraceOptions& o) {
    return !o.collect && !o.sink && (o.format || (!o.summary && !o.json && !o.html));
}

// Only the page: nothing but it is written.
bool html_only(const TraceOptions& o) { return o.html && !o.summary && !o.json && !o.format; }

// Hands every exchange (connection, input, end) to two views: -s or -j and
// the page.
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

// What a record is handed to after its own lines: the listing, then with -f
// the decoder (whose carried DSS header spans records), with -r the row
// decoder listening to it.
class RecordPrinter {
public:
    explicit RecordPrinter(const TraceOptions& options) : options_(options) {
        if (options_.rows) {
            options_.format = true;
            rows_ = std::make_unique<rows::Conversation>();
            decoder_.set_observer(rows_.get());
        }
    }

    // A record not shown is still decoded (into `discard`): the decoder
    // carries state from record to record.
    void print(TextWriter& out, const Record& rec, bool shown, TextWriter& discard) {
        if (shown) print_buffer(out, rec.direction, rec.data);
        if (options_.format) decoder_.decode_buffer(shown ? out : discard, rec.direction, rec.data);
    }

private:
    TraceOptions options_;
    DdmDecoder decoder_;
    std::unique_ptr<rows::Conversation> rows_;  // -r only
};

// Where the record source writes its own lines when only a summary is
// shown: nowhere, except an "ERROR:" line, kept to be shown after the
// summary. (The source writes such a line with one put, which the writer
// never splits over two blocks.)
class ErrorLineSink final : public Sink {
public:
    void write(const char* data, std::size_t n) override {
        // Only at a line start: a damaged record's function name may hold
        // the same letters.
        const std::string_view text(data, n);
        for (std::size_t at = text.find("ERROR:"); at != std::string_view::npos; at = text.find("ERROR:", at + 1)) {
            if (at == 0 ? !after_newline_ : text[at - 1] != '\n') continue;
            const std::size_t end = text.find('\n', at);
            line = std::string(text.substr(at, std::min<std::size_t>(end - at, 256)));
        }
        if (n) after_newline_ = text.back() == '\n';
    }
    std::string line;

private:
    bool after_newline_ = true;
};

// The -s and -j views of a run: the exchange tracker fed with every record,
// and, when no listing is shown, the discarding writer the record source
// writes its own lines to.
class SummaryViews {
public:
    SummaryViews(const TraceOptions& options, TextWriter& out, std::FILE* err, const std::string& input_name)
        : options_(options), out_(out), err_(err), input_name_(input_name) {
        if (options.collect) {
            quiet_ = std::make_unique<TextWriter>(quiet_sink_);
            tracker_ = std::make_unique<summary::ExchangeTracker>(*options.collect);
            return;
        }
        if (!options.summary && !options.json && !options.html && !options.sink) return;
        if (!listing()) quiet_ = std::make_unique<TextWriter>(quiet_sink_);
        if (options.sink) {
            // --compare's collector: no view of its own
        } else if (options.json) {
            view_ = std::make_unique<summary::JsonLines>(out);
        } else if (options.summary) {
            view_ = std::make_unique<summary::TextReport>(out, listing(), options.exchange_lines);
        }
        summary::ExchangeSink* sink = options.sink ? options.sink : view_.get();
        if (options.html && sink) {
            tee_ = std::make_unique<TeeSink>(*sink, *options.html);
            sink = tee_.get();
        } else if (options.html) {
            sink = options.html;
        }
        if (options.prompt) {
            flushing_ = std::make_unique<FlushingExchangeSink>(*sink, out);
            sink = flushing_.get();
        }
        if (options.selection && options.selection->any()) {
            selecting_ = std::make_unique<SelectingSink>(*options.selection, *sink);
            sink = selecting_.get();
        }
        tracker_ = std::make_unique<summary::ExchangeTracker>(*sink);
    }

    // Whether the listing (and with -f the decode) is shown.
    bool listing() const { return shows_listing(options_); }
    // Where the record source writes its own lines.
    TextWriter& source_out() { return quiet_ ? *quiet_ : out_; }

    void record(const Record& rec) {
        if (!tracker_) return;
        if (rec.has_time && options_.selection) options_.selection->first_time(rec.time);
        if (options_.html) options_.html->record_seen(rec.number);
        tracker_->feed(rec);
    }
    void gap(const Record& rec) {
        if (tracker_) tracker_->gap(rec);
    }
    void closed(const Record& rec, const CaptureSource::Closing& how) {
        if (!tracker_) return;
        using capture::Event;
        summary::ConnEnd end = summary::ConnEnd::still_open;
        const bool server = how.side == capture::kServer;
        switch (how.kind) {
            case Event::closed:
                end = how.rst ? (server ? summary::ConnEnd::rst_server : summary::ConnEnd::rst_client)
                              : (server ? summary::ConnEnd::fin_server : summary::ConnEnd::fin_client);
                break;
            case Event::dropped: end = summary::ConnEnd::dropped; break;
            case Event::idle: end = summary::ConnEnd::idle; break;
            case Event::replaced: end = summary::ConnEnd::replaced; break;
            default: break;
        }
        tracker_->closed(rec, end);
    }
    void input(const summary::InputInfo& info) {
        if (selecting_) selecting_->input(info);
        else if (tee_) tee_->input(info);
        else if (options_.sink) options_.sink->input(info);
        else if (view_) view_->input(info);
        else if (options_.html) options_.html->input(info);
    }

    // The summary of what was read; then the reason when the input could not
    // be read to its end (on the error stream for JSON Lines, which hold
    // nothing else).
    void finish(int result) {
        if (!tracker_) return;
        tracker_->finish();
        if (quiet_) quiet_->flush();
        if (options_.html && result != 0) options_.html->stopped(quiet_ ? quiet_sink_.line : std::string());
        if (!quiet_ || quiet_sink_.line.empty()) return;
        if (options_.json || options_.sink || html_only(options_)) {
            std::fprintf(err_, "%s: %s\n", input_name_.c_str(), quiet_sink_.line.c_str());
        } else {
            out_.put('\n');
            out_.put(quiet_sink_.line);
            out_.put('\n');
        }
    }

private:
    const TraceOptions& options_;
    TextWriter& out_;
    std::FILE* err_;
    const std::string& input_name_;
    ErrorLineSink quiet_sink_;
    std::unique_ptr<TextWriter> quiet_;
    std::unique_ptr<summary::ExchangeSink> view_;
    std::unique_ptr<TeeSink> tee_;  // -s or -j and --html
    std::unique_ptr<summary::ExchangeSink> flushing_;  // options.prompt
    std::unique_ptr<SelectingSink> selecting_;
    std::unique_ptr<summary::ExchangeTracker> tracker_;
};

// The gate between a record source and the output when the listing is
// shown with a selection; null otherwise.
std::unique_ptr<RecordGate> make_gate(const TraceOptions& options, bool listing, TextWriter& out, bool capture) {
    if (!listing || !options.selection || !options.selection->any()) return nullptr;
    return std::make_unique<RecordGate>(out, *options.selection, capture, options.held);
}

// The printers of a capture: each connection decodes as if it were alone,
// with a decoder per direction (a cut DSS header belongs to one direction)
// and one row decoder per connection. State of a connection that ended is
// dropped.
class CapturePrinter {
public:
    explicit CapturePrinter(const TraceOptions& options) : options_(options) {
        if (options_.rows) options_.format = true;
    }

    // A record not shown of a connection that has others shown is still
    // decoded (into `discard`) for the state its decoders carry; a
    // connection none of whose records can be shown is not decoded at all.
    // Returns whether the shown text ends with an empty line but for row
    // lines after it.
    bool print(TextWriter& out, const Record& rec, bool shown, bool conn_shown, TextWriter& discard) {
        if (shown) print_buffer(out, rec.direction, rec.data);
        if (!options_.format || !conn_shown) return false;
        DdmDecoder& decoder = state(rec.connection).decoder[side(rec)];
        decoder.decode_buffer(shown ? out : discard, rec.direction, rec.data);
        return shown && options_.rows && decoder.ended_blank();
    }
    void gap(const Record& rec) {
        auto it = connections_.find(rec.connection);
        if (it == connections_.end()) return;
        it->second->decoder[side(rec)].drop_carried();
        if (it->second->rows) it->second->rows->bytes_missing(side(rec) == 1);
    }
    void closed(const Record& rec) { connections_.erase(rec.connection); }

private:
    struct Connection {
        DdmDecoder decoder[2];  // client's bytes, server's bytes
        std::unique_ptr<rows::Conversation> rows;
    };
    static int side(const Record& rec) { return rec.direction == kDirectionSend ? 0 : 1; }
    Connection& state(std::uint32_t connection) {
        std::unique_ptr<Connection>& c = connections_[connection];
        if (!c) {
            c = std::make_unique<Connection>();
            if (options_.rows) {
                c->rows = std::make_unique<rows::Conversation>();
                for (DdmDecoder& d : c->decoder) d.set_observer(c->rows.get());
            }
        }
        return *c;
    }

    TraceOptions options_;
    std::unordered_map<std::uint32_t, std::unique_ptr<Connection>> connections_;
};

int print_trace_file(TraceFile& source, ByteView head, const std::string& input_name, TextWriter& out,
                     std::FILE* err, const TraceOptions& options) {
    SummaryViews views(options, out, err, input_name);
    const std::unique_ptr<RecordGate> gate = make_gate(options, views.listing(), out, false);
    TextWriter& source_out = gate ? gate->source_out() : views.source_out();
    NullSink discarded;
    TextWriter discard(discarded);
    RecordPrinter printer(options);
    std::unique_ptr<PromptClock> clock;
    if (options.prompt) clock = std::make_unique<PromptClock>(out);
    Record rec;
    int result = -1;
    if (source.read_header(source_out, head)) {
        if (gate) gate->header();
        for (bool more = true; more;) {
            switch (source.next(source_out, rec)) {
                case TraceFile::Next::record:
                    if (views.listing()) {
                        if (options.evidence) options.evidence->start(out);
                        const bool shown = !gate || gate->record(rec);
                        printer.print(out, rec, shown, discard);
                        if (shown && options.evidence && !options.evidence->done(rec, out)) more = false;
                    }
                    views.record(rec);
                    break;
                case TraceFile::Next::end: result = 0, more = false; break;
                case TraceFile::Next::failed: more = false; break;
            }
            if (clock && more) clock->unit_done();
        }
    }
    if (gate) gate->other(), gate->finish();
    summary::InputInfo info;
    info.kind = "trace file";
    views.input(info);
    views.finish(result);
    return result;
}

int print_capture(CaptureSource& source, const std::string& input_name, TextWriter& out, std::FILE* err,
                  const TraceOptions& options) {
    SummaryViews views(options, out, err, input_name);
    const std::unique_ptr<RecordGate> gate = make_gate(options, views.listing(), out, true);
    TextWriter& source_out = gate ? gate->source_out() : views.source_out();
    source.set_record_headers(views.listing());
    NullSink discarded;
    TextWriter discard(discarded);
    CapturePrinter printer(options);
    std::unique_ptr<PromptClock> clock;
    if (options.prompt) clock = std::make_unique<PromptClock>(out);
    Record rec;
    int result = -1;
    if (source.read_header(source_out)) {
        if (gate) gate->header();
        for (bool more = true; more;) {
            const CaptureSource::Next next = source.next(source_out, rec);
            if (gate && next != CaptureSource::Next::record) gate->other();
            switch (next) {
                case CaptureSource::Next::record:
                    if (views.listing()) {
                        if (options.evidence) options.evidence->start(out);
                        const bool shown = !gate || gate->record(rec);
                        if (printer.print(out, rec, shown, !gate || gate->conn_selected(rec.connection), discard) &&
                            !gate)
                            source.text_ends_blank();
                        if (shown && options.evidence && !options.evidence->done(rec, out)) more = false;
                    }
                    views.record(rec);
                    break;
                case CaptureSource::Next::gap:
                    printer.gap(rec);
                    views.gap(rec);
                    break;
                case CaptureSource::Next::closed:
                    printer.closed(rec);
                    views.closed(rec, source.closing());
                    break;
                case CaptureSource::Next::end: result = 0, more = false; break;
                case CaptureSource::Next::failed: more = false; break;
            }
            if (clock && more) clock->unit_done();
        }
    }
    if (gate) gate->other(), gate->finish();
    const CaptureSource::Stats& st = source.stats();
    summary::InputInfo info;
    info.kind = st.kind;
    info.packets = st.packets;
    info.cut_packets = st.cut_packets;
    info.snaplen = st.cut_to;
    info.missing_bytes = st.missing_bytes;
    info.gaps = st.gaps;
    views.input(info);
    views.finish(result);
    return result;
}

// Exchange options with the listing: the records to print are known only
// when their exchanges end, so the input is read twice (see read_twice).
bool two_passes(const TraceOptions& options) {
    return options.selection && options.selection->exchange_options() && !options.held && shows_listing(options);
}

// Where the first of two passes reports: nowhere (the second reports).
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

// The first pass of two: the tracker alone, into `held`.
TraceOptions first_pass(const TraceOptions& options, SelectedRecords& held) {
    TraceOptions first;
    first.selection = options.selection;
    first.collect = &held;
    return first;
}

}  // namespace

// An input that cannot seek (a pipe) copied to a temporary file, from
// where it is read as many times as needed; null when `in` can seek (it is
// then read again from `start`) or on failure (`failed`, reported on `err`).
static std::FILE* hold_input(std::FILE* in, const std::string& input_name, std::FILE* err, const char* what,
                             off_t& start, bool& failed) {
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

// Exchange options in the listing modes: a first pass runs only the
// exchange tracker and keeps the runs of record numbers of the selected
// exchanges (SelectedRecords, capped); a second pass reads the input again
// from where it began with fresh decoders and prints the blocks of the
// selected records. An input that cannot seek (a pipe) is first copied to
// a temporary file, so memory stays bounded whatever the input's size.
static int read_twice(std::FILE* in, const std::string& input_name, TextWriter& out, std::FILE* err,
                      const TraceOptions& options) {
    off_t start = 0;
    bool failed = false;
    std::FILE* spool = hold_input(in, input_name, err, "the selection", start, failed);
    if (failed) return -1;
    if (spool) in = spool;
    SelectedRecords held(*options.selection);
    {
        const Silent silent;
        NullSink nothing;
        TextWriter quiet(nothing);
        read_trace_stream(in, input_name, quiet, silent.or_else(err), first_pass(options, held));
    }
    int result = -1;
    if (fseeko(in, start, SEEK_SET) != 0) {
        std::fprintf(err, "%s: %s\n", input_name.c_str(), std::strerror(errno ? errno : EIO));
    } else {
        std::clearerr(in);
        TraceOptions second = options;
        second.held = &held;
        result = read_trace_stream(in, input_name, out, err, second);
    }
    if (spool) std::fclose(spool);
    return result;
}

namespace {

// The input's first bytes tell its format: a capture, else a trace file.
template <class Input>
int print_input(Input& in, ByteView first, const std::string& input_name, TextWriter& out, std::FILE* err,
                const TraceOptions& options) {
    if (is_capture_magic(first)) {
        capture::Limits limits;
        limits.ports = options.ports;
        CaptureSource source(in, first, input_name, err, limits);
        return print_capture(source, input_name, out, err, options);
    }
    TraceFile source(in, input_name, err);
    return print_trace_file(source, first, input_name, out, err, options);
}

}  // namespace

int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out,
                      std::FILE* err, const TraceOptions& options) {
    if (two_passes(options)) return read_twice(in, input_name, out, err, options);
    // The first bytes tell the format: enough for the trace magic, which is
    // longer than the capture magics.
    std::uint8_t head[7];
    errno = 0;
    const std::size_t n = std::fread(head, 1, sizeof head, in);
    return print_input(in, ByteView(head, n), input_name, out, err, options);
}

int read_live_stream(StreamInput& in, const std::string& input_name, TextWriter& out, std::FILE* err,
                     const TraceOptions& options) {
    // As above, but only as many bytes as the format needs are waited for;
    // what is shown is handed on before any wait.
    if (options.prompt) in.on_wait(flush_writer, &out);
    std::uint8_t head[7];
    const std::size_t n = in.read_full(head, sizeof head);
    if (n < sizeof head && in.stopped()) return 0;  // stopped before anything came
    return print_input(in, ByteView(head, n), input_name, out, err, options);
}

int read_capture_memory(ByteView capture, const std::string& input_name, TextWriter& out, std::FILE* err,
                        const TraceOptions& options, const capture::Limits& given) {
    capture::Limits limits = given;
    limits.ports.insert(limits.ports.end(), options.ports.begin(), options.ports.end());
    if (two_passes(options)) {
        SelectedRecords held(*options.selection);
        {
            const Silent silent;
            NullSink nothing;
            TextWriter quiet(nothing);
            CaptureSource first(capture, input_name, silent.or_else(err), limits);
            print_capture(first, input_name, quiet, silent.or_else(err), first_pass(options, held));
        }
        TraceOptions second = options;
        second.held = &held;
        CaptureSource source(capture, input_name, err, limits);
        return print_capture(source, input_name, out, err, second);
    }
    CaptureSource source(capture, input_name, err, limits);
    return print_capture(source, input_name, out, err, options);
}

// --html, after the run: a pass that prints -r for the records of the
// page's evidence into the collector (decoders still see every record of
// those connections up to the last one wanted), then the page.
static void write_page(html::HtmlReport& page, std::FILE* in, off_t start, const std::string& input_name,
                       const RunSettings& settings, std::FILE* err) {
    html::EvidenceCollector collector(page.evidence());
    if (!collector.empty()) {
        Selection sel;
        if (fseeko(in, start, SEEK_SET) != 0 || !sel.conns.parse(collector.connection_list()) ||
            !sel.records.parse(collector.record_list())) {
            page.no_evidence(std::strerror(errno ? errno : EIO));
        } else {
            std::clearerr(in);
            TraceOptions options;
            options.format = options.rows = true;
            options.selection = &sel;
            options.evidence = &collector;
            options.ports = settings.ports;
            TextWriter text(collector.sink());
            const Silent silent;
            read_trace_stream(in, input_name, text, silent.or_else(err), options);
            text.flush();
        }
    }
    FileSink sink(settings.html, settings.html_name);
    TextWriter out(sink);
    page.write(out);
    out.flush();
}

int read_trace(const RunSettings& settings, std::FILE* err) {
    // "-": standard input, read as it comes (app/live_run.h).
    bool live = is_stdin_name(settings.input_name);
    std::FILE* in = nullptr;
    // --html reads the input a second time for the page's evidence: a pipe
    // is held in a temporary file and read from there.
    std::FILE* held = nullptr;
    off_t start = 0;
    if (live && settings.html) {
        bool failed = false;
        held = hold_input(stdin, "standard input", err, "the page", start, failed);
        if (failed) return -1;
        in = held ? held : stdin;
        live = false;
    } else if (live) {
        install_stop_handlers();
        widen_input_pipe(0);
        // The writer's blocks go straight to the descriptor: nothing waits
        // in a second buffer, and nothing is left there when the reader of
        // the output is gone.
        std::setvbuf(settings.out, nullptr, _IONBF, 0);
    } else {
        in = std::fopen(settings.input_name.c_str(), "rb");
        if (!in) {
            std::fprintf(err, "%s: %s\n", settings.input_name.c_str(), std::strerror(errno));
            return -1;
        }
        static char inbuf[1 << 16];
        std::setvbuf(in, inbuf, _IOFBF, sizeof inbuf);
        if (settings.html) {
            bool failed = false;
            held = hold_input(in, settings.input_name, err, "the page", start, failed);
            if (failed) {
                std::fclose(in);
                return -1;
            }
        }
    }
    const std::string input_name = is_stdin_name(settings.input_name) ? "standard input" : settings.input_name;
    std::unique_ptr<html::HtmlReport> page;
    if (settings.html) page = std::make_unique<html::HtmlReport>(input_name, build::kProductVersion);

    FileSink sink(settings.out, settings.out_name);
    TraceOptions options;
    options.format = settings.format || settings.rows;
    options.rows = settings.rows;
    options.summary = settings.summary;
    options.json = settings.json;
    options.exchange_lines = settings.exchange_lines;
    options.prompt = live && prompt_output(settings.out);
    options.html = page.get();
    options.ports = settings.ports;
    Selection selection = settings.selection;
    if (selection.any()) options.selection = &selection;
    int result;
    try {
        TextWriter out(sink);
        if (live && two_passes(options)) {
            // Exchange options with the listing: the records to print are
            // known only at the end of their exchanges; standard input is
            // held in a temporary file and read twice.
            options.prompt = false;
            result = read_trace_stream(stdin, "standard input", out, err, options);
        } else if (live) {
            StreamInput input(0);
            result = read_live_stream(input, "standard input", out, err, options);
        } else {
            result = read_trace_stream(held ? held : in, input_name, out, err, options);
        }
        out.flush();
        if (page) write_page(*page, held ? held : in, start, input_name, settings, err);
    } catch (const OutputError& e) {
        // Watching live, the reader of the output going away (| head) is
        // the end of the run, not a failure.
        if (live && e.error_number() == EPIPE) {
            result = 0;
        } else {
            std::fprintf(err, "%s\n", e.what());
            result = -1;
        }
    }
    if (held) std::fclose(held);
    if (in && in != held && in != stdin) std::fclose(in);
    return result;
}

}  // namespace drda
