// SPDX-License-Identifier: Apache-2.0
#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "capture/capture_source.h"
#include "common/record.h"
#include "ddm/dss_layer.h"
#include "ddm/rows/conversation.h"
#include "listing/buffer_listing.h"
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

int print_trace_file(std::FILE* in, ByteView head, const std::string& input_name, TextWriter& out,
                     std::FILE* err, const TraceOptions& options) {
    TraceFile source(in, input_name, err);
    if (!source.read_header(out, head)) return -1;
    RecordPrinter printer(options);
    Record rec;
    for (;;) {
        switch (source.next(out, rec)) {
            case TraceFile::Next::record: printer.print(out, rec); break;
            case TraceFile::Next::end: return 0;
            case TraceFile::Next::failed: return -1;
        }
    }
}

int print_capture(CaptureSource& source, TextWriter& out, const TraceOptions& options) {
    if (!source.read_header(out)) return -1;
    CapturePrinter printer(options);
    Record rec;
    for (;;) {
        switch (source.next(out, rec)) {
            case CaptureSource::Next::record: printer.print(out, rec); break;
            case CaptureSource::Next::gap: printer.gap(rec); break;
            case CaptureSource::Next::closed: printer.closed(rec); break;
            case CaptureSource::Next::end: return 0;
            case CaptureSource::Next::failed: return -1;
        }
    }
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
        return print_capture(source, out, options);
    }
    return print_trace_file(in, first, input_name, out, err, options);
}

int read_capture_memory(ByteView capture, const std::string& input_name, TextWriter& out, std::FILE* err,
                        const TraceOptions& options, const capture::Limits& limits) {
    CaptureSource source(capture, input_name, err, limits);
    return print_capture(source, out, options);
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
