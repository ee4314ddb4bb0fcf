// SPDX-License-Identifier: Apache-2.0
#include "compare/labels.h"

#include "compare/comparison.h"

namespace drda::compare {

std::string_view label_name(Label l) {
    static constexpr std::string_view kNames[] = {"SLOWER", "FASTER", "NEW", "GONE", "SAME", "CHANGED"};
    return kNames[static_cast<int>(l)];
}

std::string_view fact_name(Fact kind) {
    static constexpr std::string_view kNames[kFactKinds] = {"user", "database", "client product", "server product",
                                                           "security mechanism"};
    return kNames[static_cast<int>(kind)];
}

}  // namespace drda::compare
