// SPDX-License-Identifier: Apache-2.0
// The SQL communications area reply data (SQLCARD).
#pragma once

#include "ddm/printers.h"

namespace drda {

void print_sqlcard(TextWriter& out, int depth, ByteView value);

}  // namespace drda
