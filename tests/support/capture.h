// Captures what a printer writes, for exact-text tests.
#pragma once

#include <string>

#include "trace/text_writer.h"

namespace testsupport {

template <class F>
std::string capture(F&& print) {
    std::string text;
    drda::StringSink sink(text);
    {
        drda::TextWriter out(sink);
        print(out);
        out.flush();
    }
    return text;
}

}  // namespace testsupport
