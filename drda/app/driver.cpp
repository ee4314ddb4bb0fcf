// SPDX-License-Identifier: Apache-2.0
#include "app/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "app/live_run.h"
#include "capture/capture_source.h"
#include "common/record.h"
#include "ddm/dss_layer.h"
#include "ddm/rows/conversation.h"
#include "listing/buffer_listing.h"
#include "summary/tracker.h"
#include "summary/views.h"
#include "trace/trace_file.h"

namespace drda {
namespace {

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

    void print(TextWriter& out, const Record& rec) {
        print_buffer(out, rec.direction, rec.data);
        if (options_.format) decoder_.decode_buffer(out, rec.direction, rec.data);
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
        if (!options.summary && !options.json) return;
        if (!listing()) quiet_ = std::make_unique<TextWriter>(quiet_sink_);
        if (options.json) view_ = std::make_unique<summary::JsonLines>(out);
        else view_ = std::make_unique<summary::TextReport>(out, listing(), options.exchange_lines);
        if (options.prompt) flushing_ = std::make_unique<FlushingExchangeSink>(*view_, out);
        tracker_ = std::make_unique<summary::ExchangeTracker>(flushing_ ? *flushing_ : *view_);
    }

    // Whether the listing (and with -f the decode) is shown.
    bool listing() const { return !(options_.summary || options_.json) || options_.format; }
    // Where the record source writes its own lines.
    TextWriter& source_out() { return quiet_ ? *quiet_ : out_; }

    void record(const Record& rec) {
        if (tracker_) tracker_->feed(rec);
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
            default: break;
        }
        tracker_->closed(rec, end);
    }
    void input(const summary::InputInfo& info) {
        if (view_) view_->input(info);
    }

    // The summary of what was read; then the reason when the input could not
    // be read to its end (on the error stream for JSON Lines, which hold
    // nothing else).
    void finish() {
        if (!tracker_) return;
        tracker_->finish();
        if (!quiet_) return;
        quiet_->flush();
        if (quiet_sink_.line.empty()) return;
        if (options_.json) {
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
    std::unique_ptr<summary::ExchangeSink> flushing_;  // options.prompt
    std::unique_ptr<summary::ExchangeTracker> tracker_;
};

// The printers of a capture: each connection decodes as if it were alone,
// with a decoder per direction (a cut DSS header belongs to one direction)
// and one row decoder per connection. State of a connection that ended is
// dropped.
class CapturePrinter {
public:
    explicit CapturePrinter(const TraceOptions& options) : options_(options) {
        if (options_.rows) options_.format = true;
    }

    void print(TextWriter& out, const Record& rec) {
        print_buffer(out, rec.direction, rec.data);
        if (options_.format) state(rec.connection).decoder[side(rec)].decode_buffer(out, rec.direction, rec.data);
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
    TextWriter& source_out = views.source_out();
    RecordPrinter printer(options);
    std::unique_ptr<PromptClock> clock;
    if (options.prompt) clock = std::make_unique<PromptClock>(out);
    Record rec;
    int result = -1;
    if (source.read_header(source_out, head)) {
        for (bool more = true; more;) {
            switch (source.next(source_out, rec)) {
                case TraceFile::Next::record:
                    if (views.listing()) printer.print(out, rec);
                    views.record(rec);
                    break;
                case TraceFile::Next::end: result = 0, more = false; break;
                case TraceFile::Next::failed: more = false; break;
            }
            if (clock && more) clock->unit_done();
        }
    }
    summary::InputInfo info;
    info.kind = "trace file";
    views.input(info);
    views.finish();
    return result;
}

int print_capture(CaptureSource& source, const std::string& input_name, TextWriter& out, std::FILE* err,
                  const TraceOptions& options) {
    SummaryViews views(options, out, err, input_name);
    TextWriter& source_out = views.source_out();
    source.set_record_headers(views.listing());
    CapturePrinter printer(options);
    std::unique_ptr<PromptClock> clock;
    if (options.prompt) clock = std::make_unique<PromptClock>(out);
    Record rec;
    int result = -1;
    if (source.read_header(source_out)) {
        for (bool more = true; more;) {
            switch (source.next(source_out, rec)) {
                case CaptureSource::Next::record:
                    if (views.listing()) printer.print(out, rec);
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
    const CaptureSource::Stats& st = source.stats();
    summary::InputInfo info;
    info.kind = st.kind;
    info.packets = st.packets;
    info.cut_packets = st.cut_packets;
    info.snaplen = st.cut_to;
    info.missing_bytes = st.missing_bytes;
    info.gaps = st.gaps;
    views.input(info);
    views.finish();
    return result;
}

}  // namespace

int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out,
                      std::FILE* err, const TraceOptions& options) {
    // The first bytes tell the format: enough for the trace magic, which is
    // longer than the capture magics.
    std::uint8_t head[7];
    errno = 0;
    const std::size_t n = std::fread(head, 1, sizeof head, in);
    const ByteView first(head, n);
    if (is_capture_magic(first)) {
        CaptureSource source(in, first, input_name, err);
        return print_capture(source, input_name, out, err, options);
    }
    TraceFile source(in, input_name, err);
    return print_trace_file(source, first, input_name, out, err, options);
}

int read_live_stream(StreamInput& in, const std::string& input_name, TextWriter& out, std::FILE* err,
                     const TraceOptions& options) {
    // As above, but only as many bytes as the format needs are waited for;
    // what is shown is handed on before any wait.
    if (options.prompt) in.on_wait(flush_writer, &out);
    std::uint8_t head[7];
    const std::size_t n = in.read_full(head, sizeof head);
    if (n < sizeof head && in.stopped()) return 0;  // stopped before anything came
    const ByteView first(head, n);
    if (is_capture_magic(first)) {
        CaptureSource source(in, first, input_name, err);
        return print_capture(source, input_name, out, err, options);
    }
    TraceFile source(in, input_name, err);
    return print_trace_file(source, first, input_name, out, err, options);
}

int read_capture_memory(ByteView capture, const std::string& input_name, TextWriter& out, std::FILE* err,
                        const TraceOptions& options, const capture::Limits& limits) {
    CaptureSource source(capture, input_name, err, limits);
    return print_capture(source, input_name, out, err, options);
}

int read_trace(const RunSettings& settings, std::FILE* err) {
    // "-": standard input, read as it comes (app/live_run.h).
    const bool live = is_stdin_name(settings.input_name);
    std::FILE* in = nullptr;
    if (live) {
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
    }

    FileSink sink(settings.out, settings.out_name);
    TraceOptions options;
    options.format = settings.format || settings.rows;
    options.rows = settings.rows;
    options.summary = settings.summary;
    options.json = settings.json;
    options.exchange_lines = settings.exchange_lines;
    options.prompt = live && prompt_output(settings.out);
    int result;
    try {
        TextWriter out(sink);
        if (live) {
            StreamInput input(0);
            result = read_live_stream(input, "standard input", out, err, options);
        } else {
            result = read_trace_stream(in, settings.input_name, out, err, options);
        }
        out.flush();
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
    if (in) std::fclose(in);
    return result;
}

}  // namespace drda
