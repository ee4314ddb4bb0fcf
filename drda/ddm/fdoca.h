// SPDX-License-Identifier: Apache-2.0
// FD:OCA descriptors (FDODSC, OUTOVR, QRYDSC): MDDs with their SDAs, the
// N-GDA and CPT entries, and the footer.
#pragma once

#include "ddm/printers.h"

namespace drda {

void print_fdoca_descriptor(TextWriter& out, int depth, ByteView value);

}  // namespace drda
