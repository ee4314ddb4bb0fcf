// SPDX-License-Identifier: Apache-2.0
// Code points by name, for the layers that look for particular objects
// (the row decoder, the summary). The dictionary with their descriptions is
// codepoints.h.
#pragma once

#include <cstdint>

namespace drda {

inline constexpr std::uint16_t kCpFdodsc = 0x0010;
inline constexpr std::uint16_t kCpTypdefnam = 0x002F;
inline constexpr std::uint16_t kCpTypdefovr = 0x0035;
inline constexpr std::uint16_t kCpExcsat = 0x1041;
inline constexpr std::uint16_t kCpAccsec = 0x106D;
inline constexpr std::uint16_t kCpSecchk = 0x106E;
inline constexpr std::uint16_t kCpPrdid = 0x112E;
inline constexpr std::uint16_t kCpSvrcod = 0x1149;
inline constexpr std::uint16_t kCpSrvrlslv = 0x115A;
inline constexpr std::uint16_t kCpExtnam = 0x115E;
inline constexpr std::uint16_t kCpUsrid = 0x11A0;
inline constexpr std::uint16_t kCpSecmec = 0x11A2;
inline constexpr std::uint16_t kCpMgrlvlls = 0x1404;
inline constexpr std::uint16_t kCpExcsatrd = 0x1443;
inline constexpr std::uint16_t kCpExtdta = 0x146C;
inline constexpr std::uint16_t kCpFdodta = 0x147A;
inline constexpr std::uint16_t kCpAccsecrd = 0x14AC;
inline constexpr std::uint16_t kCpUnicodemgr = 0x1C08;
inline constexpr std::uint16_t kCpAccrdb = 0x2001;
inline constexpr std::uint16_t kCpClsqry = 0x2005;
inline constexpr std::uint16_t kCpCntqry = 0x2006;
inline constexpr std::uint16_t kCpDscsqlstt = 0x2008;
inline constexpr std::uint16_t kCpExcsqlimm = 0x200A;
inline constexpr std::uint16_t kCpExcsqlstt = 0x200B;
inline constexpr std::uint16_t kCpOpnqry = 0x200C;
inline constexpr std::uint16_t kCpPrpsqlstt = 0x200D;
inline constexpr std::uint16_t kCpExcsqlset = 0x2014;
inline constexpr std::uint16_t kCpRdbnam = 0x2110;
inline constexpr std::uint16_t kCpPkgnamcsn = 0x2113;
inline constexpr std::uint16_t kCpPkgsnlst = 0x2139;
inline constexpr std::uint16_t kCpTypsqlda = 0x2146;
inline constexpr std::uint16_t kCpQryinsid = 0x215B;
inline constexpr std::uint16_t kCpAccrdbrm = 0x2201;
inline constexpr std::uint16_t kCpOpnqryrm = 0x2205;
inline constexpr std::uint16_t kCpEndqryrm = 0x220B;
inline constexpr std::uint16_t kCpRslsetrm = 0x2219;
inline constexpr std::uint16_t kCpSqlam = 0x2407;
inline constexpr std::uint16_t kCpSqlcard = 0x2408;
inline constexpr std::uint16_t kCpSqlcinrd = 0x240B;
inline constexpr std::uint16_t kCpSqldard = 0x2411;
inline constexpr std::uint16_t kCpSqldta = 0x2412;
inline constexpr std::uint16_t kCpSqldtard = 0x2413;
inline constexpr std::uint16_t kCpSqlstt = 0x2414;
inline constexpr std::uint16_t kCpOutovr = 0x2415;
inline constexpr std::uint16_t kCpQrydsc = 0x241A;
inline constexpr std::uint16_t kCpQrydta = 0x241B;

}  // namespace drda
