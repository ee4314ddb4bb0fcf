// SPDX-License-Identifier: Apache-2.0
// Code point -> printer for the values of kind "special".
#pragma once

#include <cstdint>

#include "ddm/printers.h"

namespace drda {

// The printer of `cp`, or nullptr when it has none (the data dump serves).
ValuePrinter special_printer(std::uint16_t cp);

// Prints a kind-8 value by its code point's printer, or as a data dump.
void dispatch_value(TextWriter& out, int depth, std::uint16_t cp, ByteView value);

}  // namespace drda
