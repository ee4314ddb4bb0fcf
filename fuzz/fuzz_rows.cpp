// SPDX-License-Identifier: Apache-2.0
// libFuzzer target: the row decoder's descriptor parser and row cursor.
//
// Input: byte 0 = options (bit 0: little-endian numbers, bit 1: SQLAM 6,
// bits 2-7: piece size - 1 for the second feeding); bytes 1-2 = length D of
// the descriptor (big-endian); then D descriptor bytes (FD:OCA triplets, as
// in a QRYDSC); the rest is the row stream.
//
// Properties (a failure aborts, so libFuzzer keeps the input): the row lines
// written for the stream fed whole and fed in pieces are the same; every
// character written is printable ASCII or a newline; written for a UTF-8
// locale, the text is valid UTF-8 without a control, bidirectional or
// invisible format character, and the same fed in pieces; at most one stop;
// the text stays within a bound linear in the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ddm/rows/descriptor.h"
#include "ddm/rows/row_engine.h"
#include "ddm/rows/row_text.h"
#include "ddm/rows/typdef.h"
#include "common/text_policy.h"
#include "common/text_writer.h"

namespace {

using namespace drda;
using namespace drda::rows;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "PROPERTY FAILED: %s\n", what);
    std::abort();
}

class Printer final : public RowEvents {
public:
    Printer(TextWriter& out, const Typdef& td, RowEngine& e) : out_(out), td_(td), e_(e) {}
    int stops = 0;
    void row_begin(std::uint64_t row, const Sqlca* ca, bool no_data) override {
        out_.spaces(6);
        write_row_line(out_, row, ca, no_data, td_);
    }
    void column(std::uint64_t, const Column& c, const ColumnValue& v) override {
        out_.spaces(8);
        write_column_line(out_, 8, c, v, td_, e_.descriptor());
    }
    void stop(std::uint64_t row, std::string_view reason, std::size_t at) override {
        ++stops;
        out_.printf("      ROW %llu: not decoded: %.*s (at byte %zu)\n", static_cast<unsigned long long>(row),
                    static_cast<int>(reason.size()), reason.data(), at);
    }

private:
    TextWriter& out_;
    const Typdef& td_;
    RowEngine& e_;
};

std::string run(const Descriptor& d, const Typdef& td, int sqlam, ByteView stream, std::size_t piece,
                TextMode mode = TextMode::ascii) {
    std::string text;
    StringSink sink(text);
    TextWriter out(sink);
    out.set_text_mode(mode);
    RowEngine e;
    Printer p(out, td, e);
    e.start(&d, td.little, sqlam);
    e.begin_object();
    for (std::size_t at = 0; at < stream.size(); at += piece) e.feed(stream.sub(at, piece), p);
    if (p.stops > 1) fail("more than one stop");
    out.flush();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    if (size < 3) return 0;
    const std::uint8_t opts = in.u8(0);
    const std::size_t dlen = in.be16(1);
    const ByteView desc_bytes = in.sub(3, dlen);
    const ByteView stream = in.sub(3 + desc_bytes.size());

    DescriptorBuilder b;
    b.add(desc_bytes);
    if (!b.complete()) return 0;
    const Descriptor d = b.take();
    if (empty_columns(d) > kMaxEmptyColumns) return 0;  // the decoder refuses these

    Typdef td;
    td.little = opts & 1;
    td.sbc = 1208;
    td.dbc = 1200;
    td.mbc = 1208;
    const int sqlam = (opts & 2) ? 6 : 7;
    const std::string whole = run(d, td, sqlam, stream, stream.size() ? stream.size() : 1);
    const std::string pieces = run(d, td, sqlam, stream, static_cast<std::size_t>(opts >> 2) + 1);
    if (whole != pieces) fail("pieces give other rows than the whole stream");
    for (char c : whole)
        if (c != '\n' && (c < 0x20 || c > 0x7E)) fail("unprintable character");
    if (whole.size() > 4096 * size + 65536) fail("output not linear in the input");
    const std::string utf8 = run(d, td, sqlam, stream, stream.size() ? stream.size() : 1, TextMode::utf8);
    if (utf8 != run(d, td, sqlam, stream, static_cast<std::size_t>(opts >> 2) + 1, TextMode::utf8))
        fail("pieces give other rows than the whole stream (UTF-8)");
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t cp = 0;
        const std::size_t len = text::utf8_char(utf8, i, cp);
        if (len == 0) fail("not UTF-8");
        if (cp != '\n' && text::hidden(cp)) fail("a hidden character written raw");
        i += len;
    }
    return 0;
}
