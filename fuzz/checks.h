// SPDX-License-Identifier: Apache-2.0
// Property checks shared by the fuzz targets and the corpus replay test.
//
// Each `check_*` function runs one entry point of the tool on one input and
// returns an empty string when every property holds, else a description of
// the first one that failed. The fuzz targets abort on a failure (so that
// libFuzzer keeps the input); tests/corpus_replay_test.cpp reports it.
//
// Input formats (what the bytes of a corpus file mean):
//   trace    a whole trace file (header and records).
//   listing  byte 0 selects the direction (bit 0: send/receive, bits 1-7
//            all set: a direction code that is neither); the rest is one
//            record's data, role byte first.
//   decoder  records separated by kRecordSeparator; each record's first
//            byte is its role byte; records alternate send and receive.
//   dispatch byte 0 below 0xF0 picks the code point kSpecialCodePoints[b %
//            n]; from 0xF0 on, bytes 1-2 are the code point itself and the
//            value follows them; byte 0's low bits also give the depth.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ddm/codepoints.h"
#include "ddm/dss_layer.h"
#include "ddm/printers.h"
#include "ddm/value_dispatch.h"
#include "listing/buffer_listing.h"
#include "listing/display.h"
#include "common/text_writer.h"
#include "app/driver.h"
#include "capture/capture_source.h"
#include "common/record.h"
#include "selection_checks.h"

namespace fuzzcheck {

using drda::ByteView;

inline constexpr std::string_view kRecordSeparator = "\xFE\xED\xD0\x5E";

// The code points of value kind "special" (FREREFOPT included: it has no
// printer of its own and must reach the data dump).
inline constexpr std::uint16_t kSpecialCodePoints[] = {
    0x0010, 0x113F, 0x1149, 0x114A, 0x1187, 0x119B, 0x119F, 0x11A2, 0x11A4, 0x11AA,
    0x11AC, 0x11E8, 0x11EA, 0x1404, 0x1903, 0x1904, 0x1909, 0x190A, 0x1912, 0x1C03,
    0x2101, 0x210A, 0x2112, 0x2113, 0x2115, 0x2139, 0x213F, 0x2142, 0x2143, 0x2146,
    0x2147, 0x2148, 0x214D, 0x2150, 0x2152, 0x2157, 0x2408, 0x2415, 0x241A,
};
inline constexpr std::size_t kSpecialCount = sizeof kSpecialCodePoints / sizeof kSpecialCodePoints[0];

// Output may grow with the input, never faster than this many characters per
// input byte plus a constant: a bound that linear formatting keeps with room
// to spare and that any quadratic walk breaks on inputs of a few KiB.
inline constexpr std::size_t kOutputPerByte = 2048;
inline constexpr std::size_t kOutputConstant = 1 << 16;

inline bool output_bounded(std::size_t out, std::size_t in) {
    return out <= kOutputPerByte * in + kOutputConstant;
}

// Text written through a TextWriter. One writer serves every capture: its
// 1 MiB block is allocated once per process instead of once per run, which
// keeps the targets fast under the sanitizers.
class Capturer {
public:
    Capturer() : sink_(text_), out_(sink_) {}

    template <class F>
    std::string operator()(F&& print) {
        text_.clear();
        print(out_);
        out_.flush();
        std::string result = std::move(text_);
        text_.clear();
        if (!result.empty() && result.back() != '\n') {
            // Start the next capture at column 0, as a fresh writer would.
            out_.put('\n');
            out_.flush();
            text_.clear();
        }
        return result;
    }

private:
    std::string text_;
    drda::StringSink sink_;
    drda::TextWriter out_;
};

template <class F>
std::string capture(F&& print) {
    static Capturer capturer;
    return capturer(print);
}

inline std::string fail(const std::string& what) { return what; }

// Nothing from a trace reaches the terminal raw: every character written is
// printable ASCII, a newline or a tab.
inline bool printable(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u > 0x7E) && c != '\n' && c != '\t') return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Listing parser: the bytes dumped by the raw listing, read back from the
// hex areas of the dump lines.

inline std::string fail_at(const char* what, std::size_t line_no) {
    return std::string(what) + " (line " + std::to_string(line_no) + ")";
}

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline constexpr std::string_view kColumnTitles = "(ASCII)           (EBCDIC)";
inline constexpr std::string_view kColumnHeader =
    "         0 1 2 3 4 5 6 7  8 9 A B C D E F   0123456789ABCDEF  0123456789ABCDEF";

// Reads back the bytes of every dump line in `text`, checking the layout of
// each line (offset, hex area, ASCII and EBCDIC columns). Appends the bytes
// to `bytes`; returns an error text or "".
struct Piece {
    std::string heading;  // as written, without the padding
    std::size_t length = 0;
    bool operator==(const Piece&) const = default;
};

inline std::string read_listing(std::string_view text, std::string& bytes, std::size_t* pieces = nullptr,
                                std::vector<Piece>* piece_list = nullptr) {
    std::size_t pos = 0;
    bool in_piece = false;
    bool piece_done = false;  // a short line ended the current piece
    std::size_t offset = 0;
    std::size_t line_no = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) return fail("listing text does not end with a newline");
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++line_no;
        if (line.size() >= kColumnTitles.size() &&
            line.substr(line.size() - kColumnTitles.size()) == kColumnTitles &&
            line.size() >= 45 + kColumnTitles.size()) {
            std::size_t nl2 = text.find('\n', pos);
            if (nl2 == std::string_view::npos || text.substr(pos, nl2 - pos) != kColumnHeader)
                return fail_at("piece heading not followed by the column header", line_no);
            pos = nl2 + 1;
            ++line_no;
            in_piece = true;
            piece_done = false;
            offset = 0;
            if (pieces) ++*pieces;
            if (piece_list) {
                std::string_view h = line.substr(0, line.size() - kColumnTitles.size());
                while (!h.empty() && h.back() == ' ') h.remove_suffix(1);
                piece_list->push_back({std::string(h), 0});
            }
            continue;
        }
        const bool dump_line = line.size() >= 8 && line[0] == ' ' && line[1] == ' ' && hex_digit(line[2]) >= 0 &&
                               hex_digit(line[3]) >= 0 && hex_digit(line[4]) >= 0 && hex_digit(line[5]) >= 0 &&
                               line[6] == ' ' && line[7] == ' ';
        if (!dump_line) {
            in_piece = false;
            continue;
        }
        if (!in_piece) return fail_at("dump line outside a piece", line_no);
        if (piece_done) return fail_at("dump line after a short line in the same piece", line_no);
        char off[5];
        std::snprintf(off, sizeof off, "%04X", static_cast<unsigned>(offset & 0xFFFF));
        if (line.substr(2, 4) != std::string_view(off, 4)) return fail_at("wrong line offset", line_no);
        if (line.size() < 62) return fail_at("dump line too short", line_no);
        // Hex area: columns 8 to 41.
        std::string_view area = line.substr(8, 34);
        std::size_t k = 0;
        std::size_t col = 0;
        std::string got;
        while (k < 16) {
            if (k == 8) {
                if (area[16] != ' ') return fail_at("no blank behind a full first group", line_no);
                col = 17;
            }
            int hi = hex_digit(area[col]);
            int lo = hex_digit(area[col + 1]);
            if (hi < 0 || lo < 0) break;
            got.push_back(static_cast<char>(hi * 16 + lo));
            col += 2;
            ++k;
        }
        if (k == 0) return fail_at("dump line without bytes", line_no);
        for (std::size_t c = col; c < area.size(); ++c)
            if (area[c] != ' ') return fail_at("hex area not filled with blanks", line_no);
        if (line.substr(42, 2) != "  ") return fail_at("no two blanks behind the hex area", line_no);
        for (std::size_t i = 0; i < 16; ++i) {
            char want = i < k ? drda::ascii_display(static_cast<std::uint8_t>(got[i])) : ' ';
            if (line[44 + i] != want) return fail_at("wrong ASCII column", line_no);
        }
        if (line.substr(60, 2) != "  ") return fail_at("no two blanks behind the ASCII column", line_no);
        if (line.size() != 62 + k) return fail_at("EBCDIC column of the wrong length", line_no);
        for (std::size_t i = 0; i < k; ++i)
            if (line[62 + i] != drda::ebcdic_display(static_cast<std::uint8_t>(got[i])))
                return fail_at("wrong EBCDIC column", line_no);
        bytes += got;
        offset += k;
        if (piece_list && !piece_list->empty()) piece_list->back().length += k;
        if (k < 16) piece_done = true;
    }
    return "";
}

// ---------------------------------------------------------------------------
// Listing target.

// How the listing cuts a buffer into pieces, written from the rules of the
// buffer listing: a sound DSS is one piece, a segment with the continuation
// bit is followed by continuation pieces, and the first thing that does not
// look like a DSS takes the rest of the buffer.
inline std::vector<Piece> model_pieces(ByteView b) {
    static constexpr const char* kTypes[] = {"???DSS", "RQSDSS", "RPYDSS", "OBJDSS", "OBJDSS ENCRYPTED",
                                             "RQSDSS NOREPLY"};
    std::vector<Piece> pieces;
    std::size_t remaining = b.size();
    std::size_t pos = 0;
    bool continued = false;
    bool first = true;
    while (remaining > 0) {
        Piece p;
        std::size_t len = 0;
        if (continued) {
            p.heading = std::string(13, ' ') + "NEXT DSS LOGICAL RECORD";
            if (remaining == 1) {
                len = 1;
            } else {
                const std::uint16_t w = b.be16(pos);
                continued = (w & 0x8000) != 0;
                len = w & 0x7FFF;
                if (len == 0) len = remaining;
            }
        } else if (remaining < 10) {
            p.heading = std::string(12, ' ') + "UNKNOWN ???DSS";
            len = remaining;
        } else if (b.u8(pos + 2) != 0xD0) {
            p.heading = std::string(13, ' ') + "NEXT BUFFER";
            len = remaining;
        } else {
            const std::uint16_t ll = b.be16(pos);
            if (ll & 0x8000) continued = true;
            len = ll & 0x7FFF;
            const int type = b.u8(pos + 3) & 0x0F;
            const bool known = type >= 1 && type <= 5;
            if (!known) len = remaining;
            const auto& entry = drda::lookup_codepoint(b.be16(pos + 8));
            if (entry.code == 0 && (first || type != 4)) len = remaining;
            if (len == 0) len = 10;
            p.heading = std::string(12, ' ') + std::string(entry.short_name) + " " + kTypes[known ? type : 0];
        }
        len = std::min(len, remaining);
        p.length = len;
        pieces.push_back(p);
        remaining -= len;
        pos += len;
        first = false;
    }
    return pieces;
}

inline std::string check_listing(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return "";
    const int direction = (data[0] >> 1) == 0x7F ? 4242
                          : (data[0] & 1)        ? drda::kDirectionSend
                                                 : drda::kDirectionReceive;
    const ByteView record(data + 1, size - 1);
    const std::string a = capture([&](drda::TextWriter& w) { drda::print_buffer(w, direction, record); });
    const std::string b = capture([&](drda::TextWriter& w) { drda::print_buffer(w, direction, record); });
    if (a != b) return fail("listing differs between two runs on the same buffer");
    if (!printable(a)) return fail("listing writes a character that is not printable");
    if (direction == 4242) return a.empty() ? "" : fail("listing written for an unknown direction");
    if (record.empty()) return "";  // a record holds at least its role byte
    const std::string heading = std::string(direction == drda::kDirectionSend ? "\n\tSEND BUFFER(" : "\n\tRECEIVE BUFFER(") +
                                (record.u8(0) == 1 ? "AR" : "AS") + "):\n";
    if (a.compare(0, heading.size(), heading) != 0) return fail("wrong buffer heading");
    std::string bytes;
    std::size_t pieces = 0;
    std::vector<Piece> piece_list;
    std::string err = read_listing(std::string_view(a).substr(heading.size()), bytes, &pieces, &piece_list);
    if (!err.empty()) return err;
    const ByteView buffer = record.sub(1);
    if (bytes.size() != buffer.size() ||
        (!bytes.empty() && std::memcmp(bytes.data(), buffer.data(), bytes.size()) != 0))
        return fail("listing does not dump every buffer byte exactly once, in order (" +
                    std::to_string(bytes.size()) + " dumped of " + std::to_string(buffer.size()) + ")");
    if (buffer.size() > 0 && pieces == 0) return fail("no piece for a non-empty buffer");
    // Every piece is at least one byte, except a piece of a zero-byte buffer.
    if (pieces > buffer.size()) return fail("more pieces than bytes");
    const std::vector<Piece> want = model_pieces(buffer);
    if (piece_list != want) {
        std::size_t i = 0;
        while (i < want.size() && i < piece_list.size() && want[i] == piece_list[i]) ++i;
        std::string what = "pieces differ from the listing rules at piece " + std::to_string(i + 1);
        if (i < want.size()) what += "; want \"" + want[i].heading + "\" of " + std::to_string(want[i].length);
        if (i < piece_list.size())
            what += "; got \"" + piece_list[i].heading + "\" of " + std::to_string(piece_list[i].length);
        return fail(what);
    }
    if (!output_bounded(a.size(), size)) return fail("listing output not linear in the input");
    return "";
}

// ---------------------------------------------------------------------------
// Decoder target.

inline std::vector<std::string_view> split_records(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> records;
    std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t pos = 0;
    while (true) {
        std::size_t sep = all.find(kRecordSeparator, pos);
        if (sep == std::string_view::npos) {
            records.push_back(all.substr(pos));
            break;
        }
        records.push_back(all.substr(pos, sep - pos));
        pos = sep + kRecordSeparator.size();
    }
    return records;
}

inline std::string check_decoder(const std::uint8_t* data, std::size_t size) {
    const auto records = split_records(data, size);
    auto direction_of = [](std::size_t i) { return i % 2 ? drda::kDirectionReceive : drda::kDirectionSend; };
    // One decoder for the whole sequence, each buffer's text kept apart.
    auto run = [&](std::vector<std::string>& texts) {
        drda::DdmDecoder decoder;
        texts.clear();
        for (std::size_t i = 0; i < records.size(); ++i)
            texts.push_back(capture([&](drda::TextWriter& w) {
                decoder.decode_buffer(w, direction_of(i), ByteView(records[i]));
            }));
    };
    std::vector<std::string> a, b;
    run(a);
    run(b);
    if (a != b) return fail("decoder output differs between two runs on the same buffers");
    bool carried = false;  // some earlier buffer ended inside a DSS header
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string& t = a[i];
        if (t.empty() || t[0] != '\n') return fail("decoded buffer does not begin with a blank line");
        if (t.back() != '\n') return fail("decoded buffer does not end with a newline");
        if (!output_bounded(t.size(), records[i].size())) return fail("decoder output not linear in the input");
        if (!printable(t)) return fail("decoder writes a character that is not printable");
        if (!carried) {
            // With nothing carried over, a buffer decodes the same as with a
            // fresh decoder: the cut-off header is the only state kept.
            drda::DdmDecoder fresh;
            std::string alone = capture([&](drda::TextWriter& w) {
                fresh.decode_buffer(w, direction_of(i), ByteView(records[i]));
            });
            if (alone != t) return fail("decoder keeps state other than a cut-off header");
        }
        if (t.find("Incomplete DSS Header. Continued in next buffer...") != std::string::npos) carried = true;
    }
    return "";
}

// ---------------------------------------------------------------------------
// Dispatch target.

struct DispatchInput {
    std::uint16_t cp = 0;
    int depth = 0;
    ByteView value;
};

inline DispatchInput dispatch_input(const std::uint8_t* data, std::size_t size) {
    DispatchInput in;
    if (size == 0) return in;
    const ByteView all(data, size);
    const std::uint8_t sel = data[0];
    if (sel < 0xF0) {
        in.cp = kSpecialCodePoints[sel % kSpecialCount];
        in.depth = 4 + 2 * ((sel / kSpecialCount) % 4);
        in.value = all.sub(1);
    } else {
        in.cp = all.be16(1);
        in.depth = 6 + 2 * (sel & 0x0F);
        in.value = all.sub(3);
    }
    return in;
}

inline std::string check_dispatch(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return "";
    const DispatchInput in = dispatch_input(data, size);
    const std::string a = capture([&](drda::TextWriter& w) { drda::dispatch_value(w, in.depth, in.cp, in.value); });
    const std::string b = capture([&](drda::TextWriter& w) { drda::dispatch_value(w, in.depth, in.cp, in.value); });
    if (a != b) return fail("value printer output differs between two runs on the same value");
    if (!a.empty() && a.back() != '\n') return fail("value printer leaves an unfinished line");
    if (!printable(a)) return fail("value printer writes a character that is not printable");
    if (!output_bounded(a.size(), in.value.size())) return fail("value printer output not linear in the value");
    if (!drda::special_printer(in.cp)) {
        const std::string dump = capture([&](drda::TextWriter& w) { drda::print_data_dump(w, in.depth, in.value); });
        if (a != dump) return fail("code point without a printer not shown as a data dump");
    }
    // Every line a printer writes is indented by at least the depth.
    std::size_t pos = 0;
    while (pos < a.size()) {
        std::size_t nl = a.find('\n', pos);
        std::string_view line(a.data() + pos, nl - pos);
        pos = nl + 1;
        if (line.empty()) continue;
        if (line.size() < static_cast<std::size_t>(in.depth) ||
            line.find_first_not_of(' ') < static_cast<std::size_t>(in.depth))
            return fail("value printer line indented less than its depth");
    }
    return "";
}

// ---------------------------------------------------------------------------
// Whole-tool target: the trace reader without -f, with -f and with rows on an
// in-memory file, against a model of the file format.

// What the file format says of a trace: the data of the records that are
// read whole, and how the run ends.
struct TraceModel {
    std::vector<std::pair<int, std::string_view>> records;  // direction, data
    int status = 0;
    std::string error_line;   // the "ERROR:" text expected at the end of the output
    bool error_report = false;  // a report on the error stream is expected
    std::size_t started = 0;  // records whose record line is printed
};

inline TraceModel model_trace(const std::uint8_t* data, std::size_t size) {
    TraceModel m;
    const ByteView f(data, size);
    auto short_read = [&] {
        m.status = -1;
        m.error_report = true;
        return m;
    };
    if (size < 7) return short_read();
    if (std::memcmp(data, "DRDADBG", 7) != 0) {
        m.status = -1;
        m.error_line = "\nERROR: Invalid file format.\n";
        return m;
    }
    if (size < 11) return short_read();
    std::size_t p = 11;
    while (p < size) {
        ++m.started;
        const std::uint8_t type = f.u8(p);
        if (type != 'R' && type != 'W') {
            m.status = -1;
            m.error_line = "\nERROR: Invalid file format: bad type\n";
            return m;
        }
        if (!f.has(p + 1, 4)) return short_read();
        const std::int32_t name_len = f.sbe32(p + 1);
        if (name_len < 1 || name_len > 20) {
            m.status = -1;
            m.error_line = "\nERROR: Invalid file format: bad func length\n";
            return m;
        }
        std::size_t q = p + 5 + static_cast<std::size_t>(name_len);
        if (!f.has(p + 5, static_cast<std::size_t>(name_len)) || !f.has(q, 4)) return short_read();
        const std::int32_t count = f.sbe32(q);
        if (count < 1) {
            m.status = -1;
            m.error_line = "\nERROR: Invalid file format: bad record length\n";
            return m;
        }
        q += 4;
        if (!f.has(q, 8)) return short_read();
        q += 8;
        if (!f.has(q, static_cast<std::size_t>(count))) return short_read();
        m.records.emplace_back(type == 'W' ? drda::kDirectionSend : drda::kDirectionReceive,
                               std::string_view(reinterpret_cast<const char*>(data + q), static_cast<std::size_t>(count)));
        p = q + static_cast<std::size_t>(count);
    }
    return m;
}

struct TraceRun {
    int status = 0;
    std::string out;
    std::string err;
};

inline TraceRun run_trace(const std::uint8_t* data, std::size_t size, bool format, bool rows = false,
                          bool summary = false, bool json = false, drda::Selection* selection = nullptr) {
    TraceRun r;
    // fmemopen needs a buffer of at least one byte.
    static const char empty_file[1] = {0};
    std::FILE* in = fmemopen(size ? const_cast<std::uint8_t*>(data) : (void*)empty_file, size ? size : 1, "rb");
    if (!in) std::abort();
    if (size == 0) std::fgetc(in);  // leave nothing to read
    char* err_text = nullptr;
    std::size_t err_len = 0;
    std::FILE* err = open_memstream(&err_text, &err_len);
    if (!err) std::abort();
    drda::CommandLine line;
    line.input = "fuzz.drdadbg";
    line.format = format;
    line.rows = rows;
    line.summary = summary;
    line.exchange_lines = summary;
    line.json = json;
    if (selection) line.selection = *selection;
    drda::Plan options;
    if (!drda::make_plan(line, options, stderr)) std::abort();
    r.out = capture([&](drda::TextWriter& w) { r.status = drda::read_trace_stream(in, "fuzz.drdadbg", w, err, options); });
    std::fclose(err);
    r.err.assign(err_text, err_len);
    std::free(err_text);
    std::fclose(in);
    return r;
}

// ---------------------------------------------------------------------------
// JSON Lines of -j: a strict reader of one line (RFC 8259, UTF-8 checked,
// no duplicate keys) that also checks the keys of an exchange.

inline constexpr std::string_view kExchangeKeys[] = {
    "ts", "conn", "client", "server", "corr", "command", "sql", "replies", "svrcod", "sqlcode",
    "sqlstate", "tokens", "rows", "updated", "first_reply_ms", "last_reply_ms", "bytes_out", "bytes_in",
    "record", "reply_record", "server_ms", "chain", "user"};

class JsonReader {
public:
    explicit JsonReader(std::string_view s) : s_(s) {}

    // Empty when `s` is one object with exactly the exchange keys in order.
    std::string exchange() {
        std::vector<std::string> keys;
        if (!object(0, &keys)) return "not JSON at byte " + std::to_string(i_);
        if (i_ != s_.size()) return "text after the object";
        const std::size_t n = sizeof kExchangeKeys / sizeof kExchangeKeys[0];
        if (keys.size() != n) return "wrong number of keys";
        for (std::size_t k = 0; k < n; ++k)
            if (keys[k] != kExchangeKeys[k]) return "key " + keys[k] + " where " + std::string(kExchangeKeys[k]) + " belongs";
        return "";
    }

    // Empty when `s` is one object whose first key is "kind" (--compare -j).
    std::string kind_first() {
        std::vector<std::string> keys;
        if (!object(0, &keys)) return "not JSON at byte " + std::to_string(i_);
        if (i_ != s_.size()) return "text after the object";
        if (keys.empty() || keys[0] != "kind") return "\"kind\" not first";
        return "";
    }

private:
    bool eat(char c) {
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    bool value(int depth) {
        if (depth > 16 || i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') return object(depth + 1, nullptr);
        if (c == '[') {
            ++i_;
            if (eat(']')) return true;
            do {
                if (!value(depth + 1)) return false;
            } while (eat(','));
            return eat(']');
        }
        if (c == '"') return string(nullptr);
        for (std::string_view word : {"null", "true", "false"})
            if (s_.substr(i_, word.size()) == word) return i_ += word.size(), true;
        return number();
    }
    bool object(int depth, std::vector<std::string>* keys) {
        std::vector<std::string> seen;
        if (!eat('{')) return false;
        if (!eat('}')) {
            do {
                std::string key;
                if (!string(&key) || !eat(':') || !value(depth)) return false;
                for (const std::string& k : seen)
                    if (k == key) return false;
                seen.push_back(key);
            } while (eat(','));
            if (!eat('}')) return false;
        }
        if (keys) *keys = std::move(seen);
        return true;
    }
    bool string(std::string* out) {
        if (!eat('"')) return false;
        while (i_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[i_]);
            if (c == '"') return ++i_, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++i_ >= s_.size()) return false;
                const char e = s_[i_++];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++i_)
                        if (i_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[i_]))) return false;
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
                if (out) out->push_back('?');
                continue;
            }
            std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
            if (len == 0 || (len == 2 && c < 0xC2) || i_ + len > s_.size()) return false;
            for (std::size_t k = 1; k < len; ++k)
                if ((static_cast<unsigned char>(s_[i_ + k]) & 0xC0) != 0x80) return false;
            if (out) out->append(s_.substr(i_, len));
            i_ += len;
        }
        return false;
    }
    bool number() {
        const std::size_t start = i_;
        eat('-');
        if (eat('0')) {
        } else if (i_ < s_.size() && s_[i_] >= '1' && s_[i_] <= '9') {
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
        } else {
            return false;
        }
        if (eat('.')) {
            const std::size_t d = i_;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
            if (i_ == d) return false;
        }
        if (eat('e') || eat('E')) {
            if (!eat('+')) eat('-');
            const std::size_t d = i_;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
            if (i_ == d) return false;
        }
        return i_ > start;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// Every line of a -j output is an exchange object.
inline std::string check_json_lines(std::string_view text) {
    std::size_t line_no = 0;
    for (std::size_t p = 0; p < text.size();) {
        const std::size_t e = text.find('\n', p);
        if (e == std::string_view::npos) return "JSON output does not end with a newline";
        ++line_no;
        const std::string why = JsonReader(text.substr(p, e - p)).exchange();
        if (!why.empty()) return fail_at(("JSON line: " + why).c_str(), line_no);
        p = e + 1;
    }
    return "";
}

// Every line of --compare -j output is an object with "kind" first.
inline std::string check_compare_lines(std::string_view text) {
    std::size_t line_no = 0;
    for (std::size_t p = 0; p < text.size();) {
        const std::size_t e = text.find('\n', p);
        if (e == std::string_view::npos) return "JSON output does not end with a newline";
        ++line_no;
        const std::string why = JsonReader(text.substr(p, e - p)).kind_first();
        if (!why.empty()) return fail_at(("--compare JSON line: " + why).c_str(), line_no);
        p = e + 1;
    }
    return "";
}

inline bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The whole tool with a selection drawn from the input: one listing mode
// and one of -s and -j, each against its run without the selection (`full`:
// the listing, -f and -r).
inline std::string check_trace_selection(const std::uint8_t* data, std::size_t size, const TraceModel& m,
                                         const std::vector<const TraceRun*>& full, const TraceRun& summary,
                                         const TraceRun& json) {
    const selcheck::RandomSelection s = selcheck::draw_selection(data, size, full[0]->out);
    const std::string with = " with " + s.text();
    const TraceRun& whole = *full[static_cast<std::size_t>(s.mode)];
    const TraceRun& view = s.summary ? summary : json;
    TraceRun listed, viewed;
    for (TraceRun* r : {&listed, &viewed}) {
        drda::Selection sel;
        const std::string why = selcheck::make_selection(s, sel);
        if (!why.empty()) return why;
        *r = r == &listed ? run_trace(data, size, s.mode > 0, s.mode == 2, false, false, &sel)
                          : run_trace(data, size, false, false, s.summary, !s.summary, &sel);
    }
    for (const auto& [r, w] : {std::pair{&listed, &whole}, {&viewed, &view}}) {
        if (r->status != w->status) return fail("a selection changes the status" + with);
        if (r->err != w->err) return fail("a selection changes the error stream" + with);
        if (!output_bounded(r->out.size(), size)) return fail("output not linear in the trace size" + with);
    }
    if (!printable(listed.out)) return fail("output holds a character that is not printable" + with);
    std::string why = selcheck::check_listing_selection(whole.out, listed.out, s, false);
    if (s.summary) {
        if (!printable(viewed.out)) return fail("summary holds a character that is not printable" + with);
        if (!m.error_line.empty() && !ends_with(viewed.out, m.error_line))
            return fail("summary with a selection does not end with the error line" + with);
    } else if (why.empty()) {
        why = selcheck::check_json_selection(json.out, viewed.out, s);
    }
    return why.empty() ? "" : "trace: " + why;
}

inline std::string check_trace(const std::uint8_t* data, std::size_t size) {
    // A file that begins with a pcap or pcapng magic is read as a capture;
    // the capture targets check those, this model is of trace files.
    if (drda::is_capture_magic(ByteView(data, size < 7 ? size : 7))) return "";
    const TraceModel m = model_trace(data, size);
    const TraceRun listed = run_trace(data, size, false);
    const TraceRun decoded = run_trace(data, size, true);
    const TraceRun rows = run_trace(data, size, true, true);
    const TraceRun again = run_trace(data, size, true, true);
    if (rows.status != again.status || rows.out != again.out || rows.err != again.err)
        return fail("output differs between two runs on the same trace");
    for (const TraceRun* r : {&listed, &decoded, &rows}) {
        if (r->status != m.status)
            return fail("status " + std::to_string(r->status) + " where the file format gives " +
                        std::to_string(m.status));
        if (!m.error_line.empty() && !ends_with(r->out, m.error_line))
            return fail("output does not end with \"" + m.error_line.substr(1, m.error_line.size() - 2) + "\"");
        // Besides the report, the error stream carries at most the timestamp
        // warning, once.
        std::string err = r->err;
        const std::string warning =
            "Warning: invalid timestamp.\n\t No timestamp will be generated in the output file.\n";
        if (err.rfind(warning, 0) == 0) err.erase(0, warning.size());
        if (m.error_report) {
            if (err.rfind("fuzz.drdadbg: ", 0) != 0 || err.find('\n') != err.size() - 1)
                return fail("short file without one report on the error stream: " + r->err);
        } else if (!err.empty()) {
            return fail("unexpected text on the error stream: " + r->err);
        }
        if (m.status == 0 && r->out.find("ERROR:") != std::string::npos &&
            r->out.find("\nERROR: Invalid file format") != std::string::npos)
            return fail("ERROR line in a sound trace");
        if (!output_bounded(r->out.size(), size)) return fail("output not linear in the trace size");
        if (!printable(r->out)) return fail("output holds a character that is not printable");
    }
    if (size >= 11 && m.error_line != "\nERROR: Invalid file format.\n" &&
        listed.out.rfind("DRDADBG Version ", 0) != 0)
        return fail("output does not begin with the version line");
    // The record lines: one per record begun.
    std::size_t lines = 0;
    for (std::size_t p = listed.out.find("\tdata ZEV DRDA Communication Manager\n"); p != std::string::npos;
         p = listed.out.find("\tdata ZEV DRDA Communication Manager\n", p + 1))
        ++lines;
    if (lines != m.started) return fail("record lines do not match the records in the file");
    // Without -f, the dump lines hold exactly the traced buffers of the
    // records read whole, in order.
    std::string want;
    for (const auto& rec : m.records) want.append(rec.second.substr(1));
    std::string got;
    std::string err = read_listing(listed.out, got);
    if (!err.empty()) return "trace listing: " + err;
    if (got != want)
        return fail("listing does not dump every traced byte exactly once (" + std::to_string(got.size()) +
                    " dumped of " + std::to_string(want.size()) + ")");

    // The summary views: same status, the reason of a failure after the
    // summary, printable text, the summary the same after any listing, and
    // JSON Lines that a strict reader takes.
    const TraceRun summary = run_trace(data, size, false, false, true);
    const TraceRun with_listing = run_trace(data, size, true, false, true);
    const TraceRun json = run_trace(data, size, false, false, false, true);
    for (const TraceRun* r : {&summary, &with_listing, &json})
        if (r->status != m.status) return fail("-s or -j changed the status");
    if (!m.error_line.empty() && !ends_with(summary.out, m.error_line))
        return fail("summary does not end with the error line");
    if (!printable(summary.out)) return fail("summary holds a character that is not printable");
    if (!output_bounded(summary.out.size(), size) || !output_bounded(json.out.size(), size))
        return fail("summary not linear in the trace size");
    // (The listing holds the error line itself; the summary alone repeats it.)
    const std::string_view alone(summary.out.data(), summary.out.size() - m.error_line.size());
    if (with_listing.out != decoded.out + std::string(alone))
        return fail("-f -s is not the -f output followed by the summary");
    const std::string why = check_json_lines(json.out);
    if (!why.empty()) return why;
    return check_trace_selection(data, size, m, {&listed, &decoded, &rows}, summary, json);
}

// Runs the check of `target` ("trace", "listing", "decoder", "dispatch").
inline std::string check(std::string_view target, const std::uint8_t* data, std::size_t size) {
    if (target == "trace") return check_trace(data, size);
    if (target == "listing") return check_listing(data, size);
    if (target == "decoder") return check_decoder(data, size);
    if (target == "dispatch") return check_dispatch(data, size);
    return "unknown target";
}

// For the fuzz targets: report and abort on a failed property.
inline void enforce(const std::string& failure) {
    if (failure.empty()) return;
    std::fprintf(stderr, "PROPERTY FAILED: %s\n", failure.c_str());
    std::abort();
}

}  // namespace fuzzcheck
