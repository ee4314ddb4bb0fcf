// SPDX-License-Identifier: Apache-2.0
// The raw listing of one traced buffer. The buffer is cut into pieces along
// the DSS lengths it carries, as long as its bytes look like DSSs; each piece
// is dumped under a heading that names it. As soon as the bytes stop looking
// like a DSS, everything left is dumped as one piece, so every byte of the
// buffer is dumped exactly once, in order, whatever the buffer holds.
#include "listing/buffer_listing.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ddm/codepoints.h"
#include "listing/char_dump.h"
#include "common/record.h"

namespace drda {
namespace {

// Offsets in a DSS header that the listing reads.
constexpr std::size_t kMagicAt = 2;      // 0xD0 in every DSS header
constexpr std::size_t kTypeAt = 3;       // low four bits: DSS type
constexpr std::size_t kCodePointAt = 8;  // code point of the first object
constexpr std::size_t kMinDss = 10;      // header and first object's LL/CP
constexpr std::uint8_t kDssMagic = 0xD0;
constexpr std::uint16_t kContinues = 0x8000;
constexpr std::uint16_t kSegmentLength = 0x7FFF;
constexpr int kEncryptedType = 4;

constexpr std::string_view kUnknownType = "???DSS";
constexpr std::string_view kTypeText[] = {
    kUnknownType, "RQSDSS", "RPYDSS", "OBJDSS", "OBJDSS ENCRYPTED", "RQSDSS NOREPLY",
};

bool known_type(int type) { return type >= 1 && type <= 5; }

// A piece heading: a fixed area, filled without allocating.
class Heading {
public:
    // "            NAME TYPE" (12 blanks).
    void dss(std::string_view name, std::string_view type) {
        len_ = 0;
        add(std::string_view("            "));
        add(name);
        add(std::string_view(" "));
        add(type);
    }
    // "             TEXT" (13 blanks).
    void note(std::string_view text) {
        len_ = 0;
        add(std::string_view("             "));
        add(text);
    }
    std::string_view text() const { return {buf_, len_}; }

private:
    void add(std::string_view s) {
        std::size_t n = std::min(s.size(), sizeof buf_ - len_);
        std::memcpy(buf_ + len_, s.data(), n);
        len_ += n;
    }
    char buf_[80];
    std::size_t len_ = 0;
};

}  // namespace

void print_buffer(TextWriter& out, int direction, ByteView record) {
    const char* heading;
    if (direction == kDirectionSend) {
        heading = "\n\tSEND BUFFER(";
    } else if (direction == kDirectionReceive) {
        heading = "\n\tRECEIVE BUFFER(";
    } else {
        return;
    }
    out.put(heading);
    out.put(record.u8(0) == 1 ? "AR" : "AS");
    out.put("):\n");
    print_dss_pieces(out, record.sub(1));
}

void print_dss_pieces(TextWriter& out, ByteView buffer) {
    Heading heading;
    bool continuation = false;  // the last piece's length had bit 0x8000
    bool first = true;
    std::size_t pos = 0;
    while (pos < buffer.size()) {
        const ByteView rest = buffer.sub(pos);
        const std::size_t remaining = rest.size();
        std::size_t length;
        if (continuation) {
            // A continuation segment: its own 2-byte length word, with the
            // same flag for a further segment.
            heading.note("NEXT DSS LOGICAL RECORD");
            if (remaining == 1) {
                length = 1;
            } else {
                const std::uint16_t word = rest.be16(0);
                continuation = (word & kContinues) != 0;
                length = word & kSegmentLength;
                if (length == 0) length = remaining;
            }
        } else if (remaining < kMinDss) {
            heading.dss("UNKNOWN", kUnknownType);
            length = remaining;
        } else if (rest.u8(kMagicAt) != kDssMagic) {
            heading.note("NEXT BUFFER");
            length = remaining;
        } else {
            const std::uint16_t word = rest.be16(0);
            if (word & kContinues) continuation = true;
            length = word & kSegmentLength;
            const int type = rest.u8(kTypeAt) & 0x0F;
            if (!known_type(type)) length = remaining;
            // An unknown first code point means the bytes are probably not
            // a DSS, except in a later encrypted DSS, whose objects cannot
            // be read.
            const CodePointEntry& entry = lookup_codepoint(rest.be16(kCodePointAt));
            if (entry.code == 0 && (first || type != kEncryptedType)) length = remaining;
            if (length == 0) length = kMinDss;
            heading.dss(entry.short_name, known_type(type) ? kTypeText[type] : kUnknownType);
        }
        length = std::min(length, remaining);
        print_char_dump(out, rest.first(length), heading.text());
        pos += length;
        first = false;
    }
}

}  // namespace drda
