// SPDX-License-Identifier: Apache-2.0
#include "app/driver.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string_view>
#include <memory>

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
        const std::string_view text(data, n);
        const std::size_t at = text.find("ERROR:");
        if (at == std::string_view::npos) return;
        const std::size_t end = text.find('\n', at);
        line = std::string(text.substr(at, std::min<std::size_t>(end - at, 256)));
    }
    std::string line;
};

int print_trace_file(std::FILE* in, const std::string& input_name, TextWriter& out,
                     std::FILE* err, const TraceOptions& options) {
    const bool views = options.summary || options.json;
    const bool listing = !views || options.format;
    ErrorLineSink quiet_sink;
    std::unique_ptr<TextWriter> quiet;
    if (!listing) quiet = std::make_unique<TextWriter>(quiet_sink);
    TextWriter& source_out = listing ? out : *quiet;

    std::unique_ptr<summary::ExchangeSink> view;
    if (options.json) view = std::make_unique<summary::JsonLines>(out);
    else if (options.summary) view = std::make_unique<summary::TextReport>(out, listing);
    std::unique_ptr<summary::ExchangeTracker> tracker;
    if (view) tracker = std::make_unique<summary::ExchangeTracker>(*view);

    TraceFile source(in, input_name, err);
    RecordPrinter printer(options);
    Record rec;
    int result = -1;
    if (source.read_header(source_out)) {
        for (bool more = true; more;) {
            switch (source.next(source_out, rec)) {
                case TraceFile::Next::record:
                    if (listing) printer.print(out, rec);
                    if (tracker) tracker->feed(rec);
                    break;
                case TraceFile::Next::end: result = 0, more = false; break;
                case TraceFile::Next::failed: more = false; break;
            }
        }
    }
    if (!tracker) return result;
    tracker->finish();
    if (quiet) {
        quiet->flush();
        if (!quiet_sink.line.empty()) {
            // The trace could not be read to its end: say so after the summary
            // (on the error stream for JSON Lines, which hold nothing else).
            if (options.json) {
                std::fprintf(err, "%s: %s\n", input_name.c_str(), quiet_sink.line.c_str());
            } else {
                out.put('\n');
                out.put(quiet_sink.line);
                out.put('\n');
            }
        }
    }
    return result;
}

}  // namespace

int read_trace_stream(std::FILE* in, const std::string& input_name, TextWriter& out,
                      std::FILE* err, const TraceOptions& options) {
    return print_trace_file(in, input_name, out, err, options);
}

int read_trace(const RunSettings& settings, std::FILE* err) {
    std::FILE* in = std::fopen(settings.input_name.c_str(), "rb");
    if (!in) {
        std::fprintf(err, "%s: %s\n", settings.input_name.c_str(), std::strerror(errno));
        return -1;
    }
    static char inbuf[1 << 16];
    std::setvbuf(in, inbuf, _IOFBF, sizeof inbuf);

    FileSink sink(settings.out, settings.out_name);
    TraceOptions options;
    options.format = settings.format || settings.rows;
    options.rows = settings.rows;
    options.summary = settings.summary;
    options.json = settings.json;
    int result;
    try {
        TextWriter out(sink);
        result = read_trace_stream(in, settings.input_name, out, err, options);
        out.flush();
    } catch (const OutputError& e) {
        std::fprintf(err, "%s\n", e.what());
        result = -1;
    }
    std::fclose(in);
    return result;
}

}  // namespace drda
