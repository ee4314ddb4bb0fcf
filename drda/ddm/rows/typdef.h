// SPDX-License-Identifier: Apache-2.0
// The data representation a side of the conversation uses for the data it
// sends: TYPDEFNAM (byte order and floating point format) and TYPDEFOVR
// (the CCSIDs of single-byte, double-byte and mixed character data).
#pragma once

#include <cstdint>

#include "ddm/rows/type_table.h"
#include "common/byte_view.h"

namespace drda::rows {

struct Typdef {
    char name[24] = "QTDSQLASC";
    bool little = false;  // integers (and IEEE floats) little-endian
    bool ieee = true;     // floats are IEEE 754 (else shown raw)
    std::uint32_t sbc = 0, dbc = 0, mbc = 0;  // 0: not known

    // Takes a TYPDEFNAM value (ASCII or EBCDIC characters).
    void set_name(ByteView value);
    // Takes the members of a TYPDEFOVR collection (CCSIDSBC, CCSIDDBC,
    // CCSIDMBC); CCSIDs it does not name stay as they are.
    void set_ccsids(ByteView members);
    std::uint32_t ccsid(CharClass cls) const;
};

// Text of a DDM character value that may be ASCII or EBCDIC: printable
// ASCII as it stands, else read as EBCDIC; characters with no printable
// form become '?'. Writes at most n - 1 characters and a NUL.
void ddm_text(ByteView value, char* dst, std::size_t n);

}  // namespace drda::rows
