// SPDX-License-Identifier: Apache-2.0
// Row descriptors: the FD:OCA triplets of QRYDSC, FDODSC and OUTOVR turned
// into the list of columns a row holds.
//
// Triplets are `LL TYPE ID ...`: MDD (78) and SDA (70) define a late local
// id, N-GDA (76) lists one entry `TT NNNN` per column, CPT (7F) continues the
// list, RLO (71) gives the row layout (id E0: rows open with an SQLCA; id F0
// or E4: the descriptor is complete).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ddm/rows/type_table.h"
#include "common/byte_view.h"

namespace drda::rows {

inline constexpr std::size_t kMaxColumns = 4096;
// Most columns of a query's row that take no bytes at all (not nullable,
// sized 0). Each is a line per row, so they bound how much text one byte
// of row data can bring.
inline constexpr std::size_t kMaxEmptyColumns = 32;

enum ColumnFlag : std::uint8_t {
    kNullable = 1,  // a null indicator byte precedes the value
    kOutovr = 2,    // the type was set by an OUTOVR
    kGraphic = 4,   // lengths count 2-byte characters
    kLateSda = 8,   // sized by an SDA of the descriptor
};

struct Column {
    std::uint8_t code = 0;       // the entry's type byte as it stands
    std::uint8_t drda = 0;       // the DRDA type that gives its meaning
    Layout layout = Layout::kNone;
    std::uint8_t flags = 0;
    std::uint16_t length = 0;    // the entry's length word
    std::uint16_t ccsid_ref = 0; // 1 + index into Descriptor::ccsids; 0: from the TYPDEF

    bool nullable() const { return flags & kNullable; }
};

struct Descriptor {
    std::vector<Column> columns;
    std::vector<std::uint32_t> ccsids;  // CCSIDs of late SDAs
    bool has_sqlca = false;
};

// Collects the triplets of one descriptor, which may come in several
// objects, until its RLO has arrived.
class DescriptorBuilder {
public:
    void reset();
    // Adds the value of one object. Returns false when the descriptor is
    // (now or already) malformed.
    bool add(ByteView value);
    // True once an RLO with id F0 or E4 has arrived.
    bool complete() const { return complete_; }
    bool failed() const { return !error_.empty(); }
    bool started() const { return started_; }
    // Why it failed: "triplet at descriptor byte 12", "5000 columns", ...
    const std::string& error() const { return error_; }
    // The descriptor so far (complete or not); leaves the builder reset.
    Descriptor take();
    // The same into `out`, whose lists the builder keeps for its next
    // descriptor (no allocation per descriptor of a run of them).
    void take_into(Descriptor& out);

private:
    struct LateId {
        std::uint8_t lid, drda, fdoca_type;
        std::uint32_t ccsid;
    };
    void add_entry(std::uint8_t code, std::uint16_t length);
    void fail(std::string reason);

    Descriptor d_;
    std::vector<LateId> late_;
    std::size_t entries_ = 0;      // entries seen, also past kMaxColumns
    std::size_t offset_ = 0;       // descriptor bytes before the current object
    bool mdd_pending_ = false;     // an MDD of type 1 waits for its SDA
    std::uint8_t mdd_drda_ = 0;
    bool complete_ = false;
    bool started_ = false;
    std::string error_;
};

// The number of columns that take no bytes in a row: not nullable, and a
// length word of 0, a precision of 0 or a LOB placeholder with no length.
std::size_t empty_columns(const Descriptor& d);

// The layout of an entry of type `code` with no late SDA (the type table's).
Column table_column(std::uint8_t code, std::uint16_t length);

// The columns of `base` with the entries of an OUTOVR applied: an entry of
// type 0 keeps the column, any other replaces it (and is flagged kOutovr).
Descriptor apply_override(const Descriptor& base, const Descriptor& override_desc);

}  // namespace drda::rows
