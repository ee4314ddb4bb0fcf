// SPDX-License-Identifier: Apache-2.0
// An optional listener of the -f decoder: told where the decode of a buffer
// stands, so that it can insert lines of its own between the decoder's
// lines (the row values of -r). Without a listener the decoder writes
// exactly what it always writes.
#pragma once

#include <cstdint>

#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

class DecodeObserver {
public:
    virtual ~DecodeObserver() = default;
    // After the first "\n" of a buffer decode. `record` is the traced data
    // (role byte first); `carried` the leading bytes of a DSS header that
    // the decoder carries over from the buffer before (it completes them
    // from this buffer).
    virtual void buffer_begin(TextWriter& out, int direction, ByteView record, ByteView carried) = 0;
    // After the two header lines of a DSS whose LL has bit 0x8000 set and
    // the blank line behind them; `dss` begins at its first header byte.
    virtual void continued_dss(TextWriter& out, ByteView dss) = 0;
    // After an object printed whole: its value output, or the members of a
    // collection. `value_depth` is the depth of its value lines.
    virtual void object_done(TextWriter& out, std::uint16_t cp, ByteView object, ByteView value,
                             int value_depth) = 0;
    // After the last line of a buffer decode.
    virtual void buffer_end(TextWriter& out) = 0;
};

}  // namespace drda
