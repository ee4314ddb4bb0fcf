// SPDX-License-Identifier: Apache-2.0
// Captures what a printer writes, for exact-text tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "common/byte_view.h"

#include "common/text_writer.h"

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

// One writer kept across many prints, for long randomised runs.
class Rig {
public:
    template <class F>
    std::string run(F&& print) {
        text_.clear();
        print(out_);
        out_.flush();
        return text_;
    }

private:
    std::string text_;
    drda::StringSink sink_{text_};
    drda::TextWriter out_{sink_};
};

// A heap copy of exactly the value's bytes, so that a read behind the value
// is caught by the address sanitizer.
class Exact {
public:
    explicit Exact(const std::string& bytes) : copy_(new std::uint8_t[bytes.size()]), size_(bytes.size()) {
        std::copy(bytes.begin(), bytes.end(), copy_.get());
    }
    drda::ByteView view() const { return drda::ByteView(copy_.get(), size_); }

private:
    std::unique_ptr<std::uint8_t[]> copy_;
    std::size_t size_;
};

}  // namespace testsupport
