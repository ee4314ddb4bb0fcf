// SPDX-License-Identifier: Apache-2.0
// The buffer listing: the buffer heading, the rules that cut a buffer into
// pieces, a property check that every byte is dumped exactly once, and a
// real trace listed end to end.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "listing/buffer_listing.h"
#include "support/capture.h"
#include "support/trace_builder.h"
#include "common/record.h"

using namespace testsupport;

namespace {

const std::string kTitles = "(ASCII)           (EBCDIC)";
const std::string kColumnHeader =
    "         0 1 2 3 4 5 6 7  8 9 A B C D E F   0123456789ABCDEF  0123456789ABCDEF";

struct Piece {
    std::string heading;  // without its padding
    std::string bytes;    // read back from the hex areas
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a listing back into its pieces, checking the frame of every piece
// and the offset of every dump line on the way.
std::vector<Piece> parse_pieces(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            ADD_FAILURE() << "listing does not end with a newline";
            nl = text.size();
        }
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    std::vector<Piece> pieces;
    std::size_t i = 0;
    while (i < lines.size()) {
        if (!lines[i].empty() || i + 2 >= lines.size() ||
            lines[i + 1].size() < kTitles.size() || lines[i + 2] != kColumnHeader) {
            ADD_FAILURE() << "no piece heading at line " << i;
            return pieces;
        }
        std::string h = lines[i + 1];
        EXPECT_EQ(h.substr(h.size() - kTitles.size()), kTitles);
        h.resize(h.size() - kTitles.size());
        EXPECT_GE(h.size(), 45u);
        while (!h.empty() && h.back() == ' ') h.pop_back();
        Piece piece{h, {}};
        i += 3;
        for (; i < lines.size() && !lines[i].empty(); ++i) {
            const std::string& l = lines[i];
            char offset[5];
            std::snprintf(offset, sizeof offset, "%04zX", piece.bytes.size() % 65536);
            EXPECT_EQ(l.substr(0, 8), "  " + std::string(offset) + "  ");
            const std::size_t before = piece.bytes.size();
            const std::string area = l.substr(8, 34);
            for (std::size_t j = 0; j < area.size(); ++j) {
                if (area[j] == ' ') continue;
                int hi = hex_digit(area[j]);
                int lo = j + 1 < area.size() ? hex_digit(area[j + 1]) : -1;
                if (hi < 0 || lo < 0) {
                    ADD_FAILURE() << "bad hex area: " << l;
                    return pieces;
                }
                piece.bytes.push_back(static_cast<char>(hi * 16 + lo));
                ++j;
            }
            const std::size_t k = piece.bytes.size() - before;
            EXPECT_EQ(l.size(), 62 + k) << l;
            if (k < 16) EXPECT_TRUE(i + 1 == lines.size() || lines[i + 1].empty()) << "short line inside a piece";
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

std::vector<Piece> pieces_of(const std::string& buffer) {
    return parse_pieces(
        capture([&](drda::TextWriter& w) { drda::print_dss_pieces(w, drda::ByteView(buffer)); }));
}

// "heading:length" of every piece, for compact expectations.
std::vector<std::string> shape(const std::string& buffer) {
    std::vector<std::string> out;
    std::string joined;
    for (const Piece& p : pieces_of(buffer)) {
        out.push_back(p.heading + ":" + std::to_string(p.bytes.size()));
        joined += p.bytes;
    }
    EXPECT_EQ(joined, buffer) << "the pieces do not give back the buffer";
    return out;
}

std::string dss_heading(const std::string& name, const std::string& type) {
    return std::string(12, ' ') + name + " " + type;
}
std::string note_heading(const std::string& text) { return std::string(13, ' ') + text; }
std::string piece(const std::string& name, const std::string& type, std::size_t n) {
    return dss_heading(name, type) + ":" + std::to_string(n);
}
std::string next_record(std::size_t n) { return note_heading("NEXT DSS LOGICAL RECORD") + ":" + std::to_string(n); }

// An EXCSAT request of 18 bytes, and a 20-byte ACCSEC request.
const std::string kExcsat = hex("0012 D041 0001 000C 1041 0008 115E C1C2 C3C4");
const std::string kAccsec = hex("0014 D041 0002 000E 106D 0006 11A2 0003 0004 0000");

// A DSS of `ll` claimed length, type byte `type`, first code point `cp`,
// filled with `size` bytes in all.
std::string dss(std::uint16_t ll, std::uint8_t type, std::uint16_t cp, std::size_t size) {
    std::string s(size, '\x33');
    const std::uint8_t head[10] = {static_cast<std::uint8_t>(ll >> 8), static_cast<std::uint8_t>(ll), 0xD0, type,
                                   0, 1, 0, 4, static_cast<std::uint8_t>(cp >> 8), static_cast<std::uint8_t>(cp)};
    for (std::size_t i = 0; i < 10 && i < size; ++i) s[i] = static_cast<char>(head[i]);
    return s;
}

TEST(BufferListing, BufferHeadingNamesDirectionAndRole) {
    auto list = [](int direction, const std::string& record) {
        return capture([&](drda::TextWriter& w) { drda::print_buffer(w, direction, drda::ByteView(record)); });
    };
    EXPECT_EQ(list(drda::kDirectionSend, hex("01")), "\n\tSEND BUFFER(AR):\n");
    EXPECT_EQ(list(drda::kDirectionReceive, hex("00")), "\n\tRECEIVE BUFFER(AS):\n");
    EXPECT_EQ(list(drda::kDirectionSend, hex("02")), "\n\tSEND BUFFER(AS):\n");
    EXPECT_EQ(list(1179, hex("01") + kExcsat), "");
    EXPECT_EQ(list(0, hex("01") + kExcsat), "");
    // The role byte is not part of the listed buffer.
    const std::string text = list(drda::kDirectionReceive, hex("01") + kExcsat);
    const std::string head = "\n\tRECEIVE BUFFER(AR):\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const auto pieces = parse_pieces(text.substr(head.size()));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].bytes, kExcsat);
}

TEST(BufferListing, BytesThatDoNotStartADssAreOnePiece) {
    EXPECT_TRUE(shape("").empty());
    // Nine bytes or fewer, even with 0xD0 at offset 2.
    EXPECT_EQ(shape(kExcsat.substr(0, 9)), std::vector<std::string>{piece("UNKNOWN", "???DSS", 9)});
    EXPECT_EQ(shape(hex("01")), std::vector<std::string>{piece("UNKNOWN", "???DSS", 1)});
    // Byte 2 not 0xD0, however long the buffer and whatever follows.
    std::string cut = kExcsat.substr(1) + kExcsat + kExcsat;
    EXPECT_EQ(shape(cut), std::vector<std::string>{note_heading("NEXT BUFFER") + ":53"});
    // A sound DSS followed by a tail of fewer than 10 bytes.
    EXPECT_EQ(shape(kExcsat + kAccsec.substr(0, 7)),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 18), piece("UNKNOWN", "???DSS", 7)}));
}

TEST(BufferListing, SoundDssesAreOnePieceEach) {
    EXPECT_EQ(shape(kExcsat + kAccsec),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 18), piece("ACCSEC", "RQSDSS", 20)}));
    // The five types; the high four bits of byte 3 do not matter.
    const std::string chain = dss(12, 0x51, 0x2001, 12) + dss(14, 0x02, 0x2201, 14) + dss(11, 0x13, 0x241B, 11) +
                              dss(16, 0xF4, 0x241B, 16) + dss(10, 0x05, 0x200E, 10);
    EXPECT_EQ(shape(chain), (std::vector<std::string>{
                                piece("ACCRDB", "RQSDSS", 12), piece("ACCRDBRM", "RPYDSS", 14),
                                piece("QRYDTA", "OBJDSS", 11), piece("QRYDTA", "OBJDSS ENCRYPTED", 16),
                                piece("RDBCMM", "RQSDSS NOREPLY", 10)}));
    // A length shorter than the header makes a short piece; the next one
    // begins right behind it.
    EXPECT_EQ(shape(dss(3, 1, 0x1041, 12) + kExcsat),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 3), note_heading("NEXT BUFFER") + ":27"}));
    // A length beyond the buffer's end: the piece ends with the buffer.
    EXPECT_EQ(shape(dss(0x0100, 1, 0x1041, 40)), std::vector<std::string>{piece("EXCSAT", "RQSDSS", 40)});
}

TEST(BufferListing, UnknownTypeTakesTheRest) {
    for (int type : {0, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(shape(dss(12, static_cast<std::uint8_t>(0x40 | type), 0x1041, 12) + kExcsat),
                  std::vector<std::string>{piece("EXCSAT", "???DSS", 30)});
    }
}

TEST(BufferListing, UnknownFirstCodePoint) {
    // In the first DSS, of any type, it takes the rest of the buffer.
    EXPECT_EQ(shape(dss(12, 1, 0x1234, 12) + kExcsat), std::vector<std::string>{piece("UNKNOWN", "RQSDSS", 30)});
    EXPECT_EQ(shape(dss(12, 4, 0x1234, 12) + kExcsat),
              std::vector<std::string>{piece("UNKNOWN", "OBJDSS ENCRYPTED", 30)});
    EXPECT_EQ(shape(dss(12, 1, 0x0000, 12) + kExcsat), std::vector<std::string>{piece("UNKNOWN", "RQSDSS", 30)});
    // In a later DSS of type 4 it keeps its own length ...
    EXPECT_EQ(shape(kExcsat + dss(12, 4, 0x1234, 12) + kExcsat),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 18), piece("UNKNOWN", "OBJDSS ENCRYPTED", 12),
                                        piece("EXCSAT", "RQSDSS", 18)}));
    // ... and in a later DSS of another type it takes the rest.
    for (std::uint8_t type : {1, 2, 3, 5}) {
        EXPECT_EQ(shape(kExcsat + dss(12, type, 0x1234, 12) + kExcsat).size(), 2u) << int{type};
    }
    EXPECT_EQ(shape(kExcsat + dss(12, 3, 0x1234, 12) + kExcsat),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 18), piece("UNKNOWN", "OBJDSS", 30)}));
}

TEST(BufferListing, ZeroLengthsGiveTenBytePieces) {
    EXPECT_EQ(shape(dss(0x0000, 1, 0x1041, 10) + kExcsat),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 10), piece("EXCSAT", "RQSDSS", 18)}));
    // 0x8000: the same piece, and the next one is a continuation segment.
    EXPECT_EQ(shape(dss(0x8000, 1, 0x1041, 10) + hex("0006 AABB CCDD") + kExcsat),
              (std::vector<std::string>{piece("EXCSAT", "RQSDSS", 10), next_record(6),
                                        piece("EXCSAT", "RQSDSS", 18)}));
    // A zero length with an unknown type still takes the rest.
    EXPECT_EQ(shape(dss(0x0000, 9, 0x1041, 10) + kExcsat), std::vector<std::string>{piece("EXCSAT", "???DSS", 28)});
}

TEST(BufferListing, ContinuationSegments) {
    // 0xFFFF: a first segment of 32767 bytes, then continuation segments as
    // long as their length words have bit 0x8000.
    const std::string big = dss(0xFFFF, 3, 0x241B, 32767) + hex("8005 010203") + hex("0004 0506") + kExcsat;
    EXPECT_EQ(shape(big), (std::vector<std::string>{piece("QRYDTA", "OBJDSS", 32767), next_record(5),
                                                    next_record(4), piece("EXCSAT", "RQSDSS", 18)}));
    // A continuation word whose low 15 bits are 0 takes the rest.
    EXPECT_EQ(shape(dss(0x800C, 3, 0x241B, 12) + hex("8000 0102") + kExcsat),
              (std::vector<std::string>{piece("QRYDTA", "OBJDSS", 12), next_record(22)}));
    // Shorter than its own length word, or longer than the buffer.
    EXPECT_EQ(shape(dss(0x800C, 3, 0x241B, 12) + hex("0001") + kExcsat),
              (std::vector<std::string>{piece("QRYDTA", "OBJDSS", 12), next_record(1),
                                        note_heading("NEXT BUFFER") + ":19"}));
    EXPECT_EQ(shape(dss(0x800C, 3, 0x241B, 12) + hex("0100 0102")),
              (std::vector<std::string>{piece("QRYDTA", "OBJDSS", 12), next_record(4)}));
    // A single byte left where a continuation word should be.
    EXPECT_EQ(shape(dss(0x800C, 3, 0x241B, 12) + hex("80")),
              (std::vector<std::string>{piece("QRYDTA", "OBJDSS", 12), next_record(1)}));
    // Nothing carries over: a buffer holding only a continuation segment is
    // not recognised as one.
    EXPECT_EQ(shape(hex("8005 010203")), std::vector<std::string>{piece("UNKNOWN", "???DSS", 5)});
}

// Random buffers, and random chains of DSS-like structures with lengths and
// flags of every kind: the listing must give back every byte once, in order.
TEST(BufferListing, EveryByteIsDumpedOnceInOrder) {
    std::mt19937 rng(20261208);
    auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
    const std::uint16_t codepoints[] = {0x1041, 0x2001, 0x241B, 0x2412, 0x1234, 0x0000, 0xC204, 0xFFFF};
    for (int round = 0; round < 1500; ++round) {
        std::string buf;
        if (round % 5 == 0) {
            buf.resize(below(300));
            for (char& c : buf) c = static_cast<char>(rng());
        } else {
            const int segments = 1 + static_cast<int>(below(6));
            for (int s = 0; s < segments; ++s) {
                std::size_t size = 1 + below(round % 50 == 1 ? 70000 : 200);
                std::uint16_t ll;
                switch (below(6)) {
                    case 0: ll = static_cast<std::uint16_t>(rng()); break;
                    case 1: ll = static_cast<std::uint16_t>(0x8000 | below(40)); break;
                    case 2: ll = below(2) ? 0xFFFF : 0x0000; break;
                    default: ll = static_cast<std::uint16_t>(size & 0x7FFF); break;
                }
                std::string d = dss(ll, static_cast<std::uint8_t>(below(4) ? 1 + below(5) : rng()),
                                    codepoints[below(8)], size);
                if (below(10) == 0 && size > 2) d[2] = static_cast<char>(rng());
                for (std::size_t i = 10; i < d.size(); ++i) d[i] = static_cast<char>(rng());
                buf += d;
                if (below(3) == 0) buf += hex(below(2) ? "8004" : "0003") + std::string(below(6), '\x44');
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        std::string joined;
        for (const Piece& p : pieces_of(buf)) {
            EXPECT_FALSE(p.bytes.empty());
            joined += p.bytes;
        }
        ASSERT_EQ(joined.size(), buf.size());
        ASSERT_EQ(joined, buf);
    }
}

TEST(BufferListing, RealTraceListedEndToEnd) {
    const std::string trace = std::string(DSSVIEW_SOURCE_DIR) + "/examples/s01_connect.req.drdadbg";
    RunResult r = run_dssview({trace});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read_file(data_path("s01_connect.req.listing.txt")));
}

}  // namespace
