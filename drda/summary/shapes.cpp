// SPDX-License-Identifier: Apache-2.0
#include "summary/shapes.h"

#include <algorithm>
#include <cmath>

namespace drda::summary {
namespace {

bool ident_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '#' || c == '@' || c >= 0x80;
}
bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

std::string statement_shape(std::string_view sql) {
    std::string out;
    out.reserve(sql.size());
    std::size_t i = 0;
    const std::size_t n = sql.size();
    const auto prev_ident = [&] { return !out.empty() && ident_char(static_cast<unsigned char>(out.back())); };
    while (i < n) {
        const auto c = static_cast<unsigned char>(sql[i]);
        if (blank(c)) {
            while (i < n && blank(static_cast<unsigned char>(sql[i]))) ++i;
            if (!out.empty() && i < n) out.push_back(' ');
            continue;
        }
        if (c == '\'') {
            // A string literal; a prefix letter (X'..', N'..', G'..') goes with it.
            if (out.size() >= 1 && std::string_view("XxNnGgBb").find(out.back()) != std::string_view::npos &&
                (out.size() == 1 || !ident_char(static_cast<unsigned char>(out[out.size() - 2]))))
                out.pop_back();
            ++i;
            while (i < n) {
                if (sql[i] == '\'') {
                    if (i + 1 < n && sql[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            out.push_back('?');
            continue;
        }
        if (c == '"') {
            // A delimited identifier stays.
            const std::size_t start = i++;
            while (i < n && sql[i] != '"') ++i;
            if (i < n) ++i;
            out.append(sql.substr(start, i - start));
            continue;
        }
        if ((digit(c) || (c == '.' && i + 1 < n && digit(static_cast<unsigned char>(sql[i + 1])))) && !prev_ident()) {
            while (i < n && (digit(static_cast<unsigned char>(sql[i])) || sql[i] == '.')) ++i;
            if (i < n && (sql[i] == 'E' || sql[i] == 'e')) {
                std::size_t j = i + 1;
                if (j < n && (sql[j] == '+' || sql[j] == '-')) ++j;
                if (j < n && digit(static_cast<unsigned char>(sql[j]))) {
                    i = j;
                    while (i < n && digit(static_cast<unsigned char>(sql[i]))) ++i;
                }
            }
            out.push_back('?');
            continue;
        }
        out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
}

void ShapeStats::add_time(double ms) {
    ++timed;
    total_ms += ms;
    if (ms > max_ms || timed == 1) max_ms = ms;
    if ((timed - 1) % stride != 0) return;
    if (samples.size() == kMaxSamples) {
        std::size_t k = 0;
        for (std::size_t i = 0; i < samples.size(); i += 2) samples[k++] = samples[i];
        samples.resize(k);
        stride *= 2;
        if ((timed - 1) % stride != 0) return;
    }
    samples.push_back(static_cast<float>(ms));
}

double ShapeStats::p95() const {
    if (samples.empty()) return 0;
    std::vector<float> v = samples;
    // Nearest rank: the smallest value with at least 95% at or below it.
    const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(v.size())));
    const std::size_t k = rank == 0 ? 0 : rank - 1;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

std::size_t ShapeTable::slot_of(std::string_view sql) {
    if (const auto t = by_text_.find(sql); t != by_text_.end()) return t->second;
    std::string shape = statement_shape(sql);
    std::size_t slot = kNoSlot;
    if (const auto it = index_.find(shape); it != index_.end()) {
        slot = it->second;
    } else if (stats_.size() < kMaxShapes) {
        // A shape once in the table stays; a full table stays full.
        slot = stats_.size();
        index_.emplace(shape, slot);
        ShapeStats& s = stats_.emplace_back();
        s.first = stats_.size();
        s.shape = std::move(shape);
    }
    if (by_text_.size() >= kMaxTexts) by_text_.clear();
    by_text_.emplace(std::string(sql), slot);
    return slot;
}

void ShapeTable::add(std::string_view sql, bool failed, std::uint64_t rows, double ms) {
    const std::size_t slot = slot_of(sql);
    if (slot == kNoSlot) {
        ++not_grouped_;
        return;
    }
    ShapeStats* s = &stats_[slot];
    ++s->execs;
    if (failed) ++s->errors;
    s->rows += rows;
    if (ms >= 0) s->add_time(ms);
}

std::vector<const ShapeStats*> ShapeTable::sorted() const {
    std::vector<const ShapeStats*> v;
    v.reserve(stats_.size());
    for (const ShapeStats& s : stats_) v.push_back(&s);
    std::stable_sort(v.begin(), v.end(), [](const ShapeStats* a, const ShapeStats* b) {
        if (a->total_ms != b->total_ms) return a->total_ms > b->total_ms;
        return a->first < b->first;
    });
    return v;
}

}  // namespace drda::summary
