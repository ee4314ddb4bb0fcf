#include "ddm/package_printers.h"

namespace drda {

// Placeholder: shown as raw data until the decoder lands.
void print_mgrlvlls(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }
void print_pkgnam(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }
void print_pkgnamct(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }
void print_pkgnamcsn(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }
void print_pkgsnlst(TextWriter& out, int depth, ByteView value) { print_data_dump(out, depth, value); }

}  // namespace drda
