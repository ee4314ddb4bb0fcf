// SPDX-License-Identifier: Apache-2.0
// Statement shapes, as statement digests group them: the text with its
// literals (quoted strings, numbers) replaced by '?' and every run of
// blanks made one blank; and a bounded table of per-shape figures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace drda::summary {

std::string statement_shape(std::string_view sql);

inline constexpr std::size_t kMaxShapes = 512;
// Response times kept per shape for its 95th percentile; past this, every
// second one kept is dropped and only every second one after is kept, and
// so on, so the percentile is that of a regular sample.
inline constexpr std::size_t kMaxSamples = 1024;

struct ShapeStats {
    std::string shape;
    std::uint64_t first = 0;   // order of first appearance
    std::uint64_t execs = 0, errors = 0, rows = 0;
    std::uint64_t timed = 0;   // executions with a response time
    double total_ms = 0, max_ms = 0;
    std::vector<float> samples;
    std::uint64_t stride = 1;  // keep every stride-th time

    void add_time(double ms);
    double p95() const;
};

class ShapeTable {
public:
    // Adds an execution of `sql`; `ms` < 0 when it has no response time.
    void add(std::string_view sql, bool failed, std::uint64_t rows, double ms);
    // The shapes, longest total time first.
    std::vector<const ShapeStats*> sorted() const;
    std::size_t size() const { return stats_.size(); }
    // Executions of shapes that found the table full.
    std::uint64_t not_grouped() const { return not_grouped_; }

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    std::size_t slot_of(std::string_view sql);

    std::vector<ShapeStats> stats_;
    std::unordered_map<std::string, std::size_t> index_;
    // The slot of each statement text seen lately (kNoSlot: table full), so
    // that a statement executed again is not shaped again; emptied when it
    // holds kMaxTexts.
    static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);
    static constexpr std::size_t kMaxTexts = 4096;
    std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> by_text_;
    std::uint64_t not_grouped_ = 0;
};

}  // namespace drda::summary
