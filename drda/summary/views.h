// SPDX-License-Identifier: Apache-2.0
// The two views of the exchanges: the summary of -s (one line per exchange,
// the statements by shape, the errors) and the JSON Lines of -j.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/text_writer.h"
#include "summary/exchange.h"
#include "summary/figures.h"
#include "summary/shapes.h"

namespace drda::summary {

// A time as the views show it, in local time: "HH:MM:SS.uuuuuu", and with
// the date "YYYY-MM-DD HH:MM:SS.uuuuuu"; "-" for a time that is none.
std::string clock_text(double t);
std::string date_text(double t);

// The short name of a code point ("SQLCARD"), or its four hex digits when
// the dictionary has none.
std::string codepoint_name(std::uint16_t cp);

// Text as the -s view shows it: text::put_visible, in the writer's mode
// (printable ASCII only in ascii mode).
void put_printable(TextWriter& w, std::string_view text, bool quoted = false);

// `v` with `decimals` (0 to 6) digits after the point, exactly as
// printf("%.*f") writes it, mostly without formatted printing.
void put_fixed(TextWriter& w, double v, int decimals);

// A JSON string with its quotes: '"' and '\' escaped, control characters
// and bytes that are not valid UTF-8 as \u00NN (a byte read as the code
// point of its value), the characters text::hidden() names as \uXXXX,
// other valid UTF-8 as it stands.
void put_json_string(TextWriter& w, std::string_view text);

// The -s view: the overview, the connections, the errors, the slowest
// exchanges and the statements by shape, rendered from the figures of an
// Aggregate; with `exchange_lines` (-x) one line per exchange before them,
// written to `out` as the exchanges complete or, with `spool` (the listing
// is still being written to `out`), kept in a temporary file until the
// listing ends. With `shared` the caller feeds that aggregate before this
// view (and may show it in another view too); without, the view keeps and
// feeds its own.
class TextReport final : public ExchangeSink {
public:
    TextReport(TextWriter& out, bool spool, bool exchange_lines = false, Aggregate* shared = nullptr);
    ~TextReport() override;
    void exchange(const Exchange& e) override;
    void connection(const ConnectionInfo& c) override;
    void input(const InputInfo& info) override { input_ = info; }
    void finish(const Totals& totals) override;

    // Parts past these caps are summed up in one line.
    static constexpr std::size_t kShownConnections = Aggregate::kConnections;
    static constexpr std::size_t kShownShapes = 50;
    static constexpr std::size_t kShownSlowest = 10;

private:
    void header();
    void exchange_line(const Exchange& e, const std::string& outcome);
    void overview(const Totals& t);
    void connections();
    void errors();
    void slowest();
    void shapes();

    TextWriter& out_;
    std::FILE* spool_file_ = nullptr;
    std::string spool_text_;  // when no temporary file can be made
    std::unique_ptr<Sink> spool_sink_;
    std::unique_ptr<TextWriter> spool_;
    TextWriter* lines_ = nullptr;  // where exchange lines go; null without -x
    bool header_done_ = false;
    InputInfo input_;
    std::unique_ptr<Aggregate> own_;  // the view's own figures, when not shared
    Aggregate* agg_;
};

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

// How a connection ended, as the connection lines say it ("FIN by client").
std::string_view end_text(ConnEnd how);

}  // namespace drda::summary
