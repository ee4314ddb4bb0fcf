// SPDX-License-Identifier: Apache-2.0
#include "html/evidence.h"

#include <algorithm>

namespace drda::html {
EvidenceCollector::EvidenceCollector(std::vector<Evidence>& evidence) : evidence_(evidence), sink_(text_) {
    for (std::size_t i = 0; i < evidence_.size(); ++i) {
        for (const summary::RecordSpan& r : evidence_[i].records) {
            if (r.first <= 0 || r.last < r.first) continue;
            runs_.push_back(Run{evidence_[i].conn, r.first, r.last, i});
        }
    }
    std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) {
        return a.conn != b.conn ? a.conn < b.conn : a.first < b.first;
    });
    still_wanted();
}

// The last record wanted, overall and by connection, of the exchanges whose
// text is not cut.
void EvidenceCollector::still_wanted() {
    last_wanted_ = 0;
    conn_last_.clear();
    for (const Run& r : runs_) {
        if (evidence_[r.index].cut) continue;
        last_wanted_ = std::max(last_wanted_, r.last);
        if (!conn_last_.empty() && conn_last_.back().first == r.conn) conn_last_.back().second = std::max(conn_last_.back().second, r.last);
        else conn_last_.emplace_back(r.conn, r.last);
    }
}

// The runs of connection `conn` that begin at or before record `number`.
static auto runs_to(const std::vector<EvidenceCollector::Run>& runs, std::uint32_t conn, int number) {
    return std::upper_bound(runs.begin(), runs.end(), std::make_pair(conn, number),
                            [](const std::pair<std::uint32_t, int>& k, const EvidenceCollector::Run& r) {
                                return k.first != r.conn ? k.first < r.conn : k.second < r.first;
                            });
}

bool EvidenceCollector::wants(std::uint32_t conn, int number) const {
    const auto end = runs_to(runs_, conn, number);
    for (auto it = std::lower_bound(runs_.begin(), end, conn, [](const Run& r, std::uint32_t c) { return r.conn < c; });
         it != end; ++it)
        if (number <= it->last && !evidence_[it->index].cut) return true;
    return false;
}

bool EvidenceCollector::wants_connection(std::uint32_t conn, int number) const {
    const auto it = std::lower_bound(conn_last_.begin(), conn_last_.end(), std::make_pair(conn, 0));
    return it != conn_last_.end() && it->first == conn && number <= it->second;
}

void EvidenceCollector::start(TextWriter& out) {
    out.flush();
    text_.clear();
}

bool EvidenceCollector::done(const Record& rec, bool shown, TextWriter& out) {
    if (!shown) return rec.number < last_wanted_;
    out.flush();
    const std::string_view text = text_;
    // The runs of the record's connection that begin at or before it; a
    // record may belong to more than one exchange (a chain in one buffer).
    const auto end = runs_to(runs_, rec.connection, rec.number);
    bool cut = false;
    for (auto it = runs_.begin(); it != end; ++it) {
        if (it->conn != rec.connection || rec.number > it->last) continue;
        Evidence& e = evidence_[it->index];
        if (e.cut) continue;
        const std::size_t room = std::min(HtmlReport::kEvidenceBytes - std::min(HtmlReport::kEvidenceBytes, e.text.size()),
                                          HtmlReport::kEvidenceTotal - std::min(HtmlReport::kEvidenceTotal, total_));
        if (text.size() > room) {
            e.cut = true;
            cut = true;
            continue;
        }
        if (!e.text.empty() && e.text.back() != '\n') e.text += '\n';
        e.text.append(text);
        total_ += text.size();
    }
    text_.clear();
    if (cut) still_wanted();
    return rec.number < last_wanted_;
}

}  // namespace drda::html
