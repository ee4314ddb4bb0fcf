// SPDX-License-Identifier: Apache-2.0
// The DDM names of the security mechanisms (SECMEC values), as the
// connection lines of the summary show them.
#pragma once

#include <cstdint>
#include <string_view>

namespace drda::summary {

inline constexpr std::string_view kSecmecNames[] = {
    "NONE",       // 0
    "DCESEC",     // 1
    "NETSPCES",   // 2
    "USRIDPWD",   // 3
    "USRIDONL",   // 4
    "USRIDNWPWD", // 5
    "USRSBSPWD",  // 6
    "USRENCPWD",  // 7
    "USRSSBPWD",  // 8
    "EUSRIDPWD",  // 9
    "EUSRIDNWPWD",// 10
    "KERSEC",     // 11
    "EUSRIDDTA",  // 12
    "EUSRPWDDTA", // 13
    "EUSRNPWDDTA",// 14
    "PLGIN",      // 15
    "EUSRIDONL",  // 16
};

}  // namespace drda::summary
