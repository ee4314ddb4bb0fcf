// SPDX-License-Identifier: Apache-2.0
// Manager level lists and RDB package names, field by field.
#pragma once

#include "ddm/printers.h"

namespace drda {

void print_mgrlvlls(TextWriter& out, int depth, ByteView value);  // MGRLVLLS, MGRLVLOVR
void print_pkgnam(TextWriter& out, int depth, ByteView value);
void print_pkgnamct(TextWriter& out, int depth, ByteView value);
void print_pkgnamcsn(TextWriter& out, int depth, ByteView value);
void print_pkgsnlst(TextWriter& out, int depth, ByteView value);

}  // namespace drda
