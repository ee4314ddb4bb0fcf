// SPDX-License-Identifier: Apache-2.0
// The -r text of the exchanges the page shows in full, taken from a reading
// of the input that prints -r for the records it wants, by connection and
// record number: each such record's text goes to every chosen exchange
// whose record runs hold the record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/record.h"
#include "common/text_writer.h"
#include "html/html_report.h"

namespace drda::html {

class EvidenceCollector {
public:
    // `evidence` must outlive the collector; its text is filled in.
    explicit EvidenceCollector(std::vector<Evidence>& evidence);

    bool empty() const { return runs_.empty(); }
    // Whether a record is wanted (for an exchange whose text is not cut
    // yet), and whether its connection has one at or after `number`: a
    // connection's decoders run only up to its last record wanted, and stop
    // early when the text of its exchanges reached the cap.
    bool wants(std::uint32_t conn, int number) const;
    bool wants_connection(std::uint32_t conn, int number) const;

    // The sink the pass writes its text to.
    Sink& sink() { return sink_; }
    // Records first..last of a connection wanted for evidence_[index].
    struct Run {
        std::uint32_t conn;
        int first, last;
        std::size_t index;  // into evidence_
    };

    // Before a record's lines.
    void start(TextWriter& out);
    // After a record's listing and decode (`shown`: it was wanted and
    // printed): hands its text to its exchanges; false when no later record
    // is wanted (the reading may stop).
    bool done(const Record& rec, bool shown, TextWriter& out);

private:
    void still_wanted();

    std::vector<Evidence>& evidence_;
    std::vector<Run> runs_;  // by connection and first record
    std::vector<std::pair<std::uint32_t, int>> conn_last_;  // last record wanted, by connection
    int last_wanted_ = 0;
    std::size_t total_ = 0;  // bytes kept for all
    std::string text_;
    StringSink sink_;
};

}  // namespace drda::html
