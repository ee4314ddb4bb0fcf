// SPDX-License-Identifier: Apache-2.0
// The two views of the exchanges: the summary of -s (one line per exchange,
// the statements by shape, the errors) and the JSON Lines of -j.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "common/text_writer.h"
#include "summary/exchange.h"
#include "summary/shapes.h"

namespace drda::summary {

// The short name of a code point ("SQLCARD"), or its four hex digits when
// the dictionary has none.
std::string codepoint_name(std::uint16_t cp);

// Text as printable ASCII: characters of valid UTF-8 beyond ASCII as \uXXXX
// (\UXXXXXXXX past the first plane), other bytes as \xNN, tab, newline and
// carriage return as \t \n \r, other control characters as \u00NN, and the
// backslash doubled; with `quoted` (text between double quotes) '"' as \".
void put_printable(TextWriter& w, std::string_view text, bool quoted = false);

// A JSON string with its quotes: '"' and '\' escaped, control characters
// and bytes that are not valid UTF-8 as \u00NN (a byte read as the code
// point of its value), valid UTF-8 as it stands.
void put_json_string(TextWriter& w, std::string_view text);

// The -s view. The exchange lines go to `out` as the exchanges complete;
// with `spool` (the listing is still being written to `out`) they wait in
// a temporary file and follow the listing.
class TextReport final : public ExchangeSink {
public:
    TextReport(TextWriter& out, bool spool);
    ~TextReport() override;
    void exchange(const Exchange& e) override;
    void finish(const Totals& totals) override;

private:
    struct ErrorRow {
        std::string outcome;
        std::uint64_t count = 0;
        int record = 0;
        std::vector<std::string> tokens;
    };
    void header();

    TextWriter& out_;
    std::FILE* spool_file_ = nullptr;
    std::string spool_text_;  // when no temporary file can be made
    std::unique_ptr<Sink> spool_sink_;
    std::unique_ptr<TextWriter> spool_;
    TextWriter* lines_;
    bool header_done_ = false;
    ShapeTable shapes_;
    std::vector<ErrorRow> errors_;
    std::uint64_t errors_not_grouped_ = 0;
    std::uint64_t failed_ = 0;
};

inline constexpr std::size_t kMaxErrorKinds = 256;

// The -j view: one JSON object per exchange and line.
class JsonLines final : public ExchangeSink {
public:
    explicit JsonLines(TextWriter& out) : out_(out) {}
    void exchange(const Exchange& e) override;
    void finish(const Totals& totals) override { totals_ = totals; }
    const Totals& totals() const { return totals_; }

private:
    TextWriter& out_;
    Totals totals_;
};

// The outcome as the -s view shows it: "ok", "no reply", SQLCODE and
// SQLSTATE ("-20001 42X01"), or a reply message and its SVRCOD ("SYNTAXRM 8").
std::string outcome_text(const Exchange& e);

}  // namespace drda::summary
