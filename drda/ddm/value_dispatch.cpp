// SPDX-License-Identifier: Apache-2.0
#include "ddm/value_dispatch.h"

#include <algorithm>
#include <array>

#include "ddm/enum_decoders.h"
#include "ddm/fdoca.h"
#include "ddm/package_printers.h"
#include "ddm/sqlcard.h"

namespace drda {
namespace {

struct DispatchRow {
    std::uint16_t code;
    ValuePrinter print;
};

// Every code point of kind "special" that has a printer of its own, in
// ascending order. FREREFOPT (0x214D) has none: its value is dumped.
constexpr std::array<DispatchRow, 38> kDispatch = {{
    {0x0010, print_fdoca_descriptor},  // FDODSC
    {0x113F, print_prccnvcd},
    {0x1149, print_svrcod},
    {0x114A, print_synerrcd},
    {0x1187, print_synctype},
    {0x119B, print_deperrcd},
    {0x119F, print_rlsconv},
    {0x11A2, print_secmec},
    {0x11A4, print_secchkcd},
    {0x11AA, print_uowid},
    {0x11AC, print_uowstate},
    {0x11E8, print_ipaddr},
    {0x11EA, print_rsynctyp},
    {0x1404, print_mgrlvlls},          // MGRLVLLS
    {0x1903, print_xaflags},
    {0x1904, print_xaretval},
    {0x1909, print_encalg},
    {0x190A, print_enckeylen},
    {0x1912, print_tcpporthost},
    {0x1C03, print_mgrlvlls},          // MGRLVLOVR
    {0x2101, print_dscerrcd},
    {0x210A, print_pkgnam},
    {0x2112, print_pkgnamct},
    {0x2113, print_pkgnamcsn},
    {0x2115, print_uowdsp},
    {0x2139, print_pkgsnlst},
    {0x213F, print_pkgathrul},
    {0x2142, print_rslsetflg},
    {0x2143, print_cmmtyp},
    {0x2146, print_typsqlda},
    {0x2147, print_outovropt},
    {0x2148, print_rtnextdta},
    {0x2150, print_qryattupd},
    {0x2152, print_qryscrorn},
    {0x2157, print_qryattsns},
    {0x2408, print_sqlcard},
    {0x2415, print_fdoca_descriptor},  // OUTOVR
    {0x241A, print_fdoca_descriptor},  // QRYDSC
}};

constexpr bool ascending() {
    for (std::size_t i = 1; i < kDispatch.size(); ++i)
        if (kDispatch[i - 1].code >= kDispatch[i].code) return false;
    return true;
}
static_assert(ascending(), "dispatch rows must be in ascending code point order");

}  // namespace

ValuePrinter special_printer(std::uint16_t cp) {
    auto it = std::lower_bound(kDispatch.begin(), kDispatch.end(), cp,
                               [](const DispatchRow& row, std::uint16_t key) { return row.code < key; });
    return it != kDispatch.end() && it->code == cp ? it->print : nullptr;
}

void dispatch_value(TextWriter& out, int depth, std::uint16_t cp, ByteView value) {
    if (ValuePrinter print = special_printer(cp)) {
        print(out, depth, value);
    } else {
        print_data_dump(out, depth, value);
    }
}

}  // namespace drda
