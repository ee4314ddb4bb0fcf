// SPDX-License-Identifier: Apache-2.0
// The views of a comparison: the text of --compare, its JSON Lines (-j)
// and its page (--html).
#pragma once

#include <string_view>

#include "common/text_writer.h"
#include "compare/comparison.h"

namespace drda::compare {

void write_text(TextWriter& w, const Comparison& c);
void write_json(TextWriter& w, const Comparison& c);
void write_page(TextWriter& w, const Comparison& c, std::string_view version);

}  // namespace drda::compare
