// SPDX-License-Identifier: Apache-2.0
// COL lines at the rate rows come: the label of a column ("COL c NAME
// TYPE: " behind the indentation) is made once and copied for each of its
// values, and the common values (integers, packed decimals, short plain
// text) are formatted straight behind it when they fit on the line. The
// text is the same as the indentation and write_column_line would give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ddm/rows/ccsid_tables.h"
#include "ddm/rows/descriptor.h"
#include "ddm/rows/row_engine.h"
#include "ddm/rows/typdef.h"
#include "common/text_writer.h"

namespace drda::rows {

class ColumnLines {
public:
    // Columns whose labels are kept, and bytes of a kept label (with its
    // indentation); other columns get their line the long way.
    static constexpr std::size_t kColumns = 64;
    static constexpr std::size_t kLabel = 128;

    // Forgets the labels. A label holds for the depth, the names, the
    // TYPDEF and the descriptor it was made with (it keeps the character
    // set its column is read in): call clear() when any of them changes.
    // Only the column itself is checked on each use.
    void clear() { valid_ = 0; }

    // The COL line of v indented by `depth`, with the newline; `names` are
    // the column names by position (null: none). Returns true when the
    // value is a LOB placeholder that announces an EXTDTA.
    bool write(TextWriter& w, int depth, const Column& c, const ColumnValue& v, const Typdef& td,
               const Descriptor* d, const std::vector<std::string>* names);

private:
    enum class Fast : std::uint8_t { kNone, kInteger, kPacked, kText };
    // Filled by make_label before its bit in valid_ is set; left
    // uninitialised until then, so that a printer made for each object
    // costs nothing to construct.
    struct Label {
        std::uint8_t col[sizeof(Column)];  // the column it was made for, as bytes
        std::uint8_t size;                 // bytes of text
        Fast fast;
        std::uint32_t ccsid;               // character columns: the CCSID they are read in
        const Charset* charset;
        char text[kLabel];
    };
    const Label* make_label(std::size_t index, int depth, const Column& c, std::string_view name, const Typdef& td,
                            const Descriptor* d);

    std::uint64_t valid_ = 0;  // bit i: labels_[i] holds a label
    Label labels_[kColumns];
};

}  // namespace drda::rows
