// SPDX-License-Identifier: Apache-2.0
#include "html/evidence.h"

#include <algorithm>

namespace drda::html {
namespace {

// The text of a record without the CONNECTION lines (and the empty lines
// around them) that the pass prints before a connection's first record.
std::string_view record_text(std::string_view text) {
    for (;;) {
        while (!text.empty() && text[0] == '\n') text.remove_prefix(1);
        if (text.substr(0, 11) != "CONNECTION ") return text;
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return {};
        text.remove_prefix(end + 1);
    }
}

std::string runs_text(std::vector<std::pair<std::uint64_t, std::uint64_t>> runs) {
    std::sort(runs.begin(), runs.end());
    std::string s;
    std::uint64_t a = 0, b = 0;
    bool open = false;
    const auto put = [&] {
        if (!s.empty()) s += ',';
        s += std::to_string(a);
        if (b > a) s += '-' + std::to_string(b);
    };
    for (const auto& [first, last] : runs) {
        if (open && first <= b + 1) {
            b = std::max(b, last);
            continue;
        }
        if (open) put();
        a = first, b = last, open = true;
    }
    if (open) put();
    return s;
}

}  // namespace

EvidenceCollector::EvidenceCollector(std::vector<Evidence>& evidence) : evidence_(evidence), sink_(text_) {
    for (std::size_t i = 0; i < evidence_.size(); ++i) {
        for (const summary::RecordSpan& r : evidence_[i].records) {
            if (r.first <= 0 || r.last < r.first) continue;
            runs_.push_back(Run{evidence_[i].conn, r.first, r.last, i});
            last_wanted_ = std::max(last_wanted_, r.last);
        }
    }
    std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) {
        return a.conn != b.conn ? a.conn < b.conn : a.first < b.first;
    });
}

std::string EvidenceCollector::connection_list() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> v;
    for (const Evidence& e : evidence_) {
        const std::uint64_t c = e.has_conn ? e.conn : 1;
        v.emplace_back(c, c);
    }
    return runs_text(std::move(v));
}

std::string EvidenceCollector::record_list() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> v;
    for (const Run& r : runs_) v.emplace_back(static_cast<std::uint64_t>(r.first), static_cast<std::uint64_t>(r.last));
    return runs_text(std::move(v));
}

void EvidenceCollector::start(TextWriter& out) {
    out.flush();
    text_.clear();
}

bool EvidenceCollector::done(const Record& rec, TextWriter& out) {
    out.flush();
    const std::string_view text = record_text(text_);
    // The runs of the record's connection that begin at or before it; a
    // record may belong to more than one exchange (a chain in one buffer).
    const auto end = std::upper_bound(runs_.begin(), runs_.end(), std::make_pair(rec.connection, rec.number),
                                      [](const std::pair<std::uint32_t, int>& k, const Run& r) {
                                          return k.first != r.conn ? k.first < r.conn : k.second < r.first;
                                      });
    for (auto it = runs_.begin(); it != end; ++it) {
        if (it->conn != rec.connection || rec.number > it->last) continue;
        Evidence& e = evidence_[it->index];
        if (e.cut) continue;
        const std::size_t room = std::min(HtmlReport::kEvidenceBytes - std::min(HtmlReport::kEvidenceBytes, e.text.size()),
                                          HtmlReport::kEvidenceTotal - std::min(HtmlReport::kEvidenceTotal, total_));
        if (text.size() > room) {
            e.cut = true;
            continue;
        }
        if (!e.text.empty() && e.text.back() != '\n') e.text += '\n';
        e.text.append(text);
        total_ += text.size();
    }
    text_.clear();
    return rec.number < last_wanted_;
}

}  // namespace drda::html
