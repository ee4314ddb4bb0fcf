#include "ddm/fdoca.h"

namespace drda {

// Placeholder: shown as raw data until the decoder lands.
void print_fdoca_descriptor(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }

}  // namespace drda
