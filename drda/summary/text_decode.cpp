// SPDX-License-Identifier: Apache-2.0
#include "summary/text_decode.h"

#include "common/text_policy.h"
#include "ddm/rows/ccsid_tables.h"

namespace drda::summary {
using text::put_utf8;

void append_decoded(std::string& out, ByteView bytes, std::uint32_t ccsid, std::size_t limit) {
    const rows::Charset* cs = rows::find_charset(ccsid);
    if (!cs || cs->encoding == rows::Encoding::kUtf8) {
        // As they stand; the writers check the UTF-8 themselves.
        std::size_t n = bytes.size();
        if (out.size() >= limit) return;
        if (n > limit - out.size()) n = limit - out.size();
        out.append(reinterpret_cast<const char*>(bytes.data()), n);
        return;
    }
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::uint32_t cp = 0;
        const int n = rows::decode_char(*cs, bytes.data() + pos, bytes.size() - pos, cp);
        char s[4];
        std::size_t len;
        if (n > 0) {
            len = put_utf8(cp, s);
            pos += static_cast<std::size_t>(n);
        } else {
            const std::uint8_t b = bytes.u8(pos);
            if (b >= 0x80) {
                s[0] = static_cast<char>(b);
                len = 1;
            } else {
                len = put_utf8(0xFFFD, s);
            }
            pos += 1;
        }
        if (out.size() + len > limit) return;
        out.append(s, len);
    }
}

}  // namespace drda::summary
