// The -f decoder's outer layer: DSS headers of one traced buffer, and the
// state that lives from one buffer to the next.
#pragma once

#include <cstdint>

#include "trace/byte_view.h"
#include "trace/text_writer.h"

namespace drda {

class DdmDecoder {
public:
    // Decodes one record's data (role byte first).
    void decode_buffer(TextWriter& out, int direction, ByteView record);

private:
    // Leading bytes of a DSS header cut off at the end of the last buffer.
    std::uint8_t saved_header_[6] = {};
    int saved_count_ = 0;
};

}  // namespace drda
