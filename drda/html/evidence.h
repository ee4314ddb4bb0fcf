// SPDX-License-Identifier: Apache-2.0
// The -r text of the exchanges the page shows in full, taken from a second
// pass over the input that prints -r for their records: the pass hands
// each printed record's text here, and it goes to every chosen exchange
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
    // The selection that makes a -r pass print just these records:
    // "-c" and "-n" lists ("1,3-5").
    std::string connection_list() const;
    std::string record_list() const;

    // The sink the pass writes its text to.
    Sink& sink() { return sink_; }
    // Before a record's lines: what the pass wrote since the last record
    // (connection lines, notes) is not part of any record.
    void start(TextWriter& out);
    // After a record's listing and decode: hands its text to its
    // exchanges; false when no later record is wanted (the pass may stop).
    bool done(const Record& rec, TextWriter& out);

private:
    struct Run {
        std::uint32_t conn;
        int first, last;
        std::size_t index;  // into evidence_
    };
    std::vector<Evidence>& evidence_;
    std::vector<Run> runs_;  // by connection and first record
    int last_wanted_ = 0;
    std::size_t total_ = 0;  // bytes kept for all
    std::string text_;
    StringSink sink_;
};

}  // namespace drda::html
