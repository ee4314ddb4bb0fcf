// SPDX-License-Identifier: Apache-2.0
#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <memory>

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

int print_trace_file(std::FILE* in, const std::string& input_name, TextWriter& out,
                     std::FILE* err, const TraceOptions& options) {
    TraceFile source(in, input_name, err);
    if (!source.read_header(out)) return -1;
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
