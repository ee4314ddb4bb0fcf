// SPDX-License-Identifier: Apache-2.0
// The -f decoder: DSS headers of each traced buffer, the DDM objects inside
// them (collections walked to any depth), and their values.
#pragma once

#include <cstdint>
#include <optional>

#include "ddm/decode_observer.h"
#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

class DdmDecoder {
public:
    // Collections nested deeper than this are shown as raw data rather than
    // walked, so that indentation (and the output) stays linear in the input.
    static constexpr int kMaxNesting = 64;

    // Decodes one record's data (role byte first).
    void decode_buffer(TextWriter& out, int direction, ByteView record);

    // Forgets a cut-off DSS header carried from the last buffer (the bytes
    // that would complete it are not in the input).
    void drop_carried() { saved_count_ = 0; }

    // A listener told where each buffer decode stands (null: none).
    void set_observer(DecodeObserver* observer) { observer_ = observer; }

    // Whether the decode of the last buffer, before what the observer
    // added at its end, ended with an empty line.
    bool ended_blank() const { return ended_blank_; }

private:
    // Decodes the DSS at `pos` of `data`; returns the number of buffer bytes
    // it occupies, or nothing when the walk of this buffer must end.
    std::optional<std::int64_t> decode_dss(TextWriter& out, int direction, std::uint8_t role,
                                           ByteView data, std::size_t pos);

    // Decodes the object whose first byte is obj[0]; `available` counts the
    // bytes from there to the end of the enclosing DSS or collection.
    // Returns the object length, or nothing when its header was cut off.
    std::optional<std::int64_t> decode_object(TextWriter& out, ByteView obj, int depth,
                                              std::int64_t available, int nesting);
    void walk_collection(TextWriter& out, int depth, ByteView value, std::int64_t value_length,
                         int nesting);
    void print_value(TextWriter& out, int kind, std::uint16_t cp, int depth, ByteView value);

    // Bytes of the current traced buffer not yet consumed.
    std::int64_t bytes_left_ = 0;
    // Leading bytes of a DSS header cut off at the end of the last buffer.
    std::uint8_t saved_header_[6] = {};
    int saved_count_ = 0;
    DecodeObserver* observer_ = nullptr;
    bool ended_blank_ = false;
};

}  // namespace drda
