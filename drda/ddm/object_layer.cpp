// SPDX-License-Identifier: Apache-2.0
// DDM objects: the NM and LL/CP lines, the header forms, collections, and
// the choice of printer for a value.
#include "ddm/codepoints.h"
#include "ddm/dss_layer.h"
#include "ddm/printers.h"
#include "ddm/value_dispatch.h"

namespace drda {

std::optional<std::int64_t> DdmDecoder::decode_object(TextWriter& out, ByteView obj, int depth,
                                                      std::int64_t available, int nesting) {
    const auto dump_rest_at = [&](int d, std::size_t from) {
        const std::int64_t n = bytes_left_ - static_cast<std::int64_t>(from);
        print_data_dump(out, d, n > 0 ? obj.sub(from, static_cast<std::size_t>(n)) : ByteView());
    };

    const std::uint16_t raw_ll = obj.be16(0);
    if (bytes_left_ < 4 || (raw_ll == 0x8008 && bytes_left_ < 8)) {
        out.spaces(depth);
        out.put("Incomplete object header. Continued in next buffer...\n");
        dump_rest_at(depth, 0);
        bytes_left_ = 0;
        return std::nullopt;
    }

    const std::int16_t ll = static_cast<std::int16_t>(raw_ll);
    const std::uint16_t cp = obj.be16(2);
    const CodePointEntry& entry = lookup_codepoint(cp);
    out.spaces(depth);
    out.put("NM: ");
    out.put(entry.description);
    out.put('\n');
    out.spaces(depth + 2);

    std::int64_t header_size = 4;
    std::int64_t length = ll;
    if (raw_ll & 0x8000) {
        header_size = raw_ll & 0x7FFF;
        out.put("LL: ");
        out.put_hex(static_cast<unsigned>(ll), 4);
        out.put("    CP: ");
        out.put_hex(cp, 4);
        out.put("   \n");
        out.spaces(depth + 2);
        if (raw_ll == 0x8004) {
            header_size = 4;
            length = available;
            out.put("Extended Length: [Streamed Object] ");
        } else if (raw_ll == 0x8008) {
            const std::uint32_t ext = obj.be32(4);
            length = 8 + static_cast<std::int64_t>(ext);
            out.put("Extended Length: ");
            out.put_dec(static_cast<std::int32_t>(ext));
            out.put("   ");
        } else {
            length = header_size;
            out.put("Extended Length: 0   ");
        }
    } else {
        out.put("LL: ");
        out.put_dec(ll);
        out.put("    CP: ");
        out.put_hex(cp, 4);
        out.put("   ");
    }

    if (length < 4 || length < header_size) {
        // Shorter than its own header: it cannot be walked over.
        out.put("[Object Incomplete]\n");
        dump_rest_at(depth + 2, 4);
        bytes_left_ = 0;
        return length;
    }

    const std::int64_t value_length = length - header_size;
    const std::size_t hs = static_cast<std::size_t>(header_size);
    int kind = entry.kind;
    if (kind == kCollection && nesting >= kMaxNesting) kind = kRawData;

    if (kind == kCollection) {
        bytes_left_ -= header_size;
        walk_collection(out, depth, obj.sub(hs), value_length, nesting + 1);
        if (observer_)
            observer_->object_done(out, cp, obj, obj.sub(hs, static_cast<std::size_t>(value_length)), depth + 2);
        return length;
    }
    if (length > bytes_left_) {
        const std::int64_t present = bytes_left_ - header_size;
        bytes_left_ = 0;
        out.put("[Object Incomplete]\n");
        print_data_dump(out, depth + 2,
                        present > 0 ? obj.sub(hs, static_cast<std::size_t>(present)) : ByteView());
        return length;
    }
    bytes_left_ -= length;
    out.put('\n');
    const ByteView value = obj.sub(hs, static_cast<std::size_t>(value_length));
    print_value(out, kind, cp, depth + 2, value);
    if (observer_) observer_->object_done(out, cp, obj, value, depth + 2);
    return length;
}

void DdmDecoder::walk_collection(TextWriter& out, int depth, ByteView value, std::int64_t value_length,
                                 int nesting) {
    out.put('\n');
    std::int64_t off = 0;
    while (off < value_length && bytes_left_ > 0) {
        auto len = decode_object(out, value.sub(static_cast<std::size_t>(off)), depth + 2, value_length - off,
                                 nesting);
        if (!len) break;
        off += *len;
    }
}

void DdmDecoder::print_value(TextWriter& out, int kind, std::uint16_t cp, int depth, ByteView value) {
    switch (kind) {
        case kBinaryNumber: print_binary_number(out, depth, value); break;
        case kBoolean: print_boolean(out, depth, value); break;
        case kCharString: print_char_string(out, depth, value); break;
        case kCodePointValue: print_codepoint_value(out, depth, value); break;
        case kSpecial: dispatch_value(out, depth, cp, value); break;
        case kHexString: print_hex_string(out, depth, value); break;
        default: print_data_dump(out, depth, value); break;  // raw data, DSS types
    }
}

}  // namespace drda
