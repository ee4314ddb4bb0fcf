// SPDX-License-Identifier: Apache-2.0
// The row cursor: a resumable state machine that walks the rows of a
// QRYDTA stream (or of one FDODTA) through a descriptor, fed in pieces of
// any size. It reports each row's start (with its SQLCA), each column once
// its last byte has arrived, each row's end, and a stop when the data
// contradicts the descriptor. It keeps at most kKeep bytes of a field that
// runs over a piece boundary and allocates nothing per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "ddm/rows/descriptor.h"
#include "ddm/rows/sqlca_reader.h"
#include "common/byte_view.h"

namespace drda::rows {

// Bytes of a field kept when it is fed in several pieces; longer values
// are counted past this, not kept (only the first 1,024 bytes are shown).
inline constexpr std::size_t kKeep = 1024;

struct ColumnValue {
    std::size_t number = 0;      // 1-based column number
    bool null = false;
    std::uint8_t indicator = 0;  // the null indicator byte, when nullable
    ByteView bytes;              // the value (at least its first kKeep bytes)
    std::size_t total = 0;       // the value's length in bytes
};

class RowEngine;

class RowEvents {
public:
    virtual ~RowEvents() = default;
    // Called at a row boundary before the first byte of a new row is read;
    // the layout may be changed from here (RowEngine::set_descriptor).
    // Returning false stops the stream there, with no stop event.
    virtual bool boundary(RowEngine&) { return true; }
    // The SQLCA (null when the row has none) and SQLDTAGRP indicator are
    // complete; `no_data` when the indicator says no columns follow.
    virtual void row_begin(std::uint64_t row, const Sqlca* sqlca, bool no_data) = 0;
    virtual void column(std::uint64_t row, const Column& col, const ColumnValue& v) = 0;
    virtual void row_end(std::uint64_t) {}
    // The stream cannot go on: `reason` as shown, `at` = the bytes of the
    // current object consumed when it was found.
    virtual void stop(std::uint64_t row, std::string_view reason, std::size_t at) = 0;
};

class RowEngine {
public:
    // A new stream: row numbers start again from 1.
    void start(const Descriptor* d, bool little_endian, int sqlam);
    // Changes the layout; only at a row boundary (from RowEvents::boundary
    // or while at_boundary()).
    void set_descriptor(const Descriptor* d) { desc_ = d; }
    void set_little_endian(bool little) { little_ = little; }
    // The next feed begins a new object: byte counts of stop() restart.
    void begin_object() { consumed_ = 0; }
    void feed(ByteView piece, RowEvents& ev);
    // The same for a receiver class known here (row_engine_feed.h): its
    // calls are direct when the class is final.
    template <class Events>
    void feed_as(ByteView piece, Events& ev);

    bool at_boundary() const { return phase_ == Phase::kRowStart; }
    bool stopped() const { return phase_ == Phase::kStopped; }
    bool mid_row() const { return !at_boundary() && !stopped(); }
    // The row last begun (0 before the first).
    std::uint64_t row() const { return row_; }
    // 1-based column in progress, 0 while the SQLCA or the SQLDTAGRP
    // indicator is incomplete.
    std::size_t column_in_progress() const;
    const Descriptor* descriptor() const { return desc_; }

private:
    enum class Phase : std::uint8_t {
        kRowStart, kCaInd, kSqlca, kDtaInd, kColStart, kNullInd, kPrefix, kBody, kStopped,
    };
    void start_field(std::size_t n) {
        need_ = n;
        have_ = 0;
    }
    static bool whole_value(const Column& c, ByteView in, std::size_t& at, std::size_t& n);
    bool gather(ByteView in, std::size_t& pos, ByteView& field);
    void begin_value(RowEvents& ev, std::size_t pos);
    void end_row(RowEvents& ev);
    void stop(RowEvents& ev, std::size_t pos, std::string_view reason);

    const Descriptor* desc_ = nullptr;
    bool little_ = false;
    int sqlam_ = 7;
    Phase phase_ = Phase::kRowStart;
    std::uint64_t row_ = 0;
    std::size_t col_ = 0;
    std::uint8_t indicator_ = 0;
    std::size_t consumed_ = 0;    // bytes of the current object before this piece
    bool has_sqlca_ = false;
    // The field being gathered (its bytes last: the state read for every
    // piece stays on few cache lines).
    std::size_t need_ = 0;
    std::size_t have_ = 0;
    // What a few rows need: the row's SQLCA read a field at a time, and the
    // start of a field cut between pieces. Taken when first needed and given
    // back (one kept per thread) at the end of the row, so that an engine
    // held per open query (thousands at once) stays small.
    struct Spill {
        SqlcaSteps sqlca;
        std::uint8_t field[kKeep];
    };
    std::unique_ptr<Spill> spill_;
    Spill& spill();
    static std::unique_ptr<Spill>& spare_spill();
};

}  // namespace drda::rows
