#include "ddm/sqlcard.h"

namespace drda {

// Placeholder: shown as raw data until the decoder lands.
void print_sqlcard(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }

}  // namespace drda
