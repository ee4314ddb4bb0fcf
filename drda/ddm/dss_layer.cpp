// SPDX-License-Identifier: Apache-2.0
#include "ddm/dss_layer.h"

#include "ddm/codepoints.h"
#include "common/record.h"

namespace drda {
namespace {

constexpr std::uint16_t kRqsdss = 0x1439;
constexpr std::uint16_t kRpydss = 0x1436;
constexpr std::uint16_t kObjdss = 0x1429;

void write_dss_type(TextWriter& out, int type) {
    switch (type) {
        case 1: out.put(lookup_codepoint(kRqsdss).description); out.put('\n'); break;
        case 2: out.put(lookup_codepoint(kRpydss).description); out.put('\n'); break;
        case 3: out.put(lookup_codepoint(kObjdss).description); out.put('\n'); break;
        case 4: out.put(lookup_codepoint(kObjdss).description); out.put(" ENCRYPTED\n"); break;
        case 5: out.put(lookup_codepoint(kRqsdss).description); out.put(" NO REPLY\n"); break;
        default: out.put("???DSS\n"); break;
    }
}

const char* yn(unsigned format, unsigned bit) { return (format & bit) ? "y" : "n"; }

}  // namespace

void DdmDecoder::decode_buffer(TextWriter& out, int direction, ByteView record) {
    const std::uint8_t role = record.u8(0);
    const ByteView data = record.sub(1);
    bytes_left_ = static_cast<std::int64_t>(data.size());
    out.put('\n');
    if (observer_)
        observer_->buffer_begin(out, direction, record,
                                ByteView(saved_header_, static_cast<std::size_t>(saved_count_)));
    std::size_t offset = 0;
    while (bytes_left_ > 0) {
        auto occupied = decode_dss(out, direction, role, data, offset);
        if (!occupied || *occupied <= 0) break;  // no progress: end the walk
        offset += static_cast<std::size_t>(*occupied);
        if (offset >= data.size()) break;
    }
    ended_blank_ = out.at_blank_line();
    if (observer_) observer_->buffer_end(out);
}

std::optional<std::int64_t> DdmDecoder::decode_dss(TextWriter& out, int direction, std::uint8_t role,
                                                   ByteView data, std::size_t pos) {
    const ByteView here = data.sub(pos);
    if (bytes_left_ < 6) {
        // The header runs on into the next buffer: keep its first bytes.
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(bytes_left_), here.size());
        for (std::size_t i = 0; i < n; ++i) saved_header_[i] = here.u8(i);
        saved_count_ = static_cast<int>(n);
        out.put("  Incomplete DSS Header. Continued in next buffer...\n\n");
        bytes_left_ = 0;
        return std::nullopt;
    }

    std::uint8_t header[6];
    int carried = 0;  // header bytes that lay in the previous buffer
    if (saved_count_ != 0) {
        carried = saved_count_;
        for (int i = 0; i < 6; ++i)
            header[i] = i < carried ? saved_header_[i] : here.u8(static_cast<std::size_t>(i - carried));
        bytes_left_ += carried;
        saved_count_ = 0;
    } else {
        for (int i = 0; i < 6; ++i) header[i] = here.u8(static_cast<std::size_t>(i));
    }
    const ByteView h(header, sizeof header);
    const std::int16_t ll = h.sbe16(0);
    const unsigned format = h.u8(3);
    const std::int16_t corr = h.sbe16(4);

    if (h.u8(2) != 0xD0) {
        bytes_left_ = 0;
        return std::nullopt;
    }

    out.put("  ");
    out.put(direction == kDirectionSend ? "SEND(" : "RECV(");
    out.put(role == 1 ? "AR" : "AS");
    out.put(") ");
    write_dss_type(out, static_cast<int>(format & 0x0F));
    out.put("  LL: ");
    out.put_dec(ll);
    out.put("  CORR: ");
    out.put_hex(static_cast<unsigned>(corr), 4);
    out.put("  CHAINED: ");
    out.put(yn(format, 0x40));
    out.put("  CONT ON ERR: ");
    out.put(yn(format, 0x20));
    out.put("  SAME CORR FOR NEXT DSS: ");
    out.put(yn(format, 0x10));
    out.put("  \n\n");
    bytes_left_ -= 6;

    if (ll > 6) {
        // Offsets count from the DSS's first header byte; with a carried
        // header that byte lay in the previous buffer.
        const ByteView body = here.sub(static_cast<std::size_t>(6 - carried));
        std::int64_t off = 6;
        while (bytes_left_ > 0) {
            auto len = decode_object(out, body.sub(static_cast<std::size_t>(off - 6)), 4, ll - off, 0);
            if (!len) break;
            off += *len;
            if (off >= ll) break;
        }
    }
    if (observer_ && ll < 0) observer_->continued_dss(out, here);
    out.put('\n');
    return static_cast<std::int64_t>(ll) - carried;
}

}  // namespace drda
