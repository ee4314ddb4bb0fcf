// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/column_lines.h"

#include <cstring>

#include "ddm/rows/row_text.h"
#include "ddm/rows/value_format.h"

namespace drda::rows {
namespace {

static_assert(sizeof(Column) == 8, "columns are compared as eight bytes");

bool same_column(const std::uint8_t (&kept)[sizeof(Column)], const Column& c) {
    return std::memcmp(kept, &c, sizeof(Column)) == 0;
}

// Characters a wrapped line holds behind its indentation (WrapWriter's).
constexpr std::size_t kLineWidth = 70;

// Room behind the label for a value formatted in place, with the newline.
constexpr std::size_t kValueRoom = kPackedRoom + 8;

// Room a label is made in before it is kept.
constexpr std::size_t kScratch = 512;

// Labels up to this long (most are) are copied in a shorter move.
constexpr std::size_t kShortLabel = 48;

}  // namespace

[[gnu::noinline]] const ColumnLines::Label* ColumnLines::make_label(std::size_t index, int depth, const Column& c, std::string_view name,
                                                  const Typdef& td, const Descriptor* d) {
    if (index >= kColumns) return nullptr;
    Label& l = labels_[index];
    const std::uint64_t bit = std::uint64_t{1} << index;
    valid_ &= ~bit;
    // Made in scratch room first: only the finished label's length tells
    // whether it is kept.
    const std::size_t indent = static_cast<std::size_t>(depth);
    char text[kScratch];
    if (indent + label_room(name.size()) > sizeof text) return nullptr;
    std::memset(text, ' ', indent);
    char* p = text + indent;
    std::memcpy(p, "COL ", 4);
    p = put_uint(p + 4, index + 1);
    *p++ = ' ';
    p = format_label_tail(p, c, name);
    const std::size_t size = static_cast<std::size_t>(p - text);
    if (size > kLabel) return nullptr;
    std::memcpy(l.text, text, size);
    std::memset(l.text + size, 0, kLabel - size);
    l.size = static_cast<std::uint8_t>(size);
    std::memcpy(l.col, &c, sizeof(Column));
    l.fast = Fast::kNone;
    l.ccsid = 0;
    l.charset = nullptr;
    if (const TypeRow* type = find_type(c.drda)) {
        switch (type->form) {
            case Form::kInteger: l.fast = Fast::kInteger; break;
            case Form::kDecimal:
                if (c.layout == Layout::kPacked) l.fast = Fast::kPacked;
                break;
            case Form::kChars: {
                l.ccsid = column_ccsid(c, td, d);
                l.charset = find_charset(l.ccsid);
                const Charset* cs = l.charset;
                // Plain ASCII bytes stand for themselves in this charset.
                if (cs && (cs->encoding == Encoding::kUtf8 ||
                           (cs->encoding == Encoding::kSingleByte && cs->table[0x41] == 0x41)))
                    l.fast = Fast::kText;
                break;
            }
            default: break;
        }
    }
    valid_ |= bit;
    return &l;
}

bool ColumnLines::write(TextWriter& w, int depth, const Column& c, const ColumnValue& v, const Typdef& td,
                        const Descriptor* d, const std::vector<std::string>* names) {
    const int indent = depth > 0 ? depth : 0;
    const std::size_t index = v.number - 1;
    const Label* l = nullptr;
    if (index < kColumns && (valid_ >> index & 1) && same_column(labels_[index].col, c)) {
        l = &labels_[index];
    } else {
        const std::string_view name =
            names && v.number >= 1 && v.number <= names->size() ? std::string_view((*names)[index]) : std::string_view();
        l = make_label(index, indent, c, name, td, d);
        if (!l) {
            w.spaces(depth);
            return write_column_line(w, depth, c, v, td, d, name);
        }
    }
    char* const line = w.reserve(kLabel + kValueRoom);
    // Copies of fixed size, which compile to a few moves.
    if (l->size <= kShortLabel) {
        std::memcpy(line, l->text, kShortLabel);
    } else {
        std::memcpy(line, l->text, kLabel);
    }
    char* const value = line + l->size;
    // The value stays on the label's line when it ends by this column.
    const std::size_t end = static_cast<std::size_t>(indent) + kLineWidth;
    const std::size_t fits = l->size < end ? end - l->size : 0;
    if (!v.null) {
        const std::size_t n = v.bytes.size();
        std::size_t len = kInvalidPacked;
        switch (l->fast) {
            case Fast::kInteger:
                if (n == 4 && !td.little) {  // the common INTEGER, read in place
                    len = static_cast<std::size_t>(put_int(value, v.bytes.sbe32(0)) - value);
                } else if (n == 1 || n == 2 || n == 4 || n == 8) {
                    len = static_cast<std::size_t>(put_int(value, read_int(v.bytes, td.little)) - value);
                }
                break;
            case Fast::kPacked: len = format_packed(value, v.bytes, c.length >> 8, c.length & 0xFF); break;
            case Fast::kText:
                // Whole (nothing left out), short and plain: in quotes.
                if (n == v.total && n + 2 <= fits && all_plain(v.bytes.data(), n)) {
                    value[0] = '"';
                    copy_short(value + 1, v.bytes.data(), n);
                    value[n + 1] = '"';
                    len = n + 2;
                }
                break;
            case Fast::kNone: break;
        }
        if (len <= fits) {
            value[len] = '\n';
            w.commit(l->size + len + 1);
            return false;
        }
    }
    w.commit(l->size);
    WrapWriter ww(w, indent, l->size);
    return write_column_value(ww, c, v, td, l->charset, l->ccsid);
}

}  // namespace drda::rows
