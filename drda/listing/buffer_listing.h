// SPDX-License-Identifier: Apache-2.0
// Raw listing of one traced buffer: the SEND/RECEIVE heading, then the
// buffer cut into pieces along its DSS lengths, each piece dumped.
#pragma once

#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

// Lists one record's data (role byte first). Writes nothing for a direction
// other than send or receive.
void print_buffer(TextWriter& out, int direction, ByteView record);

// Cuts the traced buffer (behind the role byte) into pieces and dumps each.
void print_dss_pieces(TextWriter& out, ByteView buffer);

}  // namespace drda
