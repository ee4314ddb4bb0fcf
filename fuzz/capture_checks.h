// SPDX-License-Identifier: Apache-2.0
// Property checks of the capture targets, shared by the fuzz targets and the
// corpus replay test. Each returns "" when every property holds.
//
// Input formats:
//   capture_file        a capture file (pcap or pcapng), read from memory
//                       packet by packet, each through the link, IP and TCP
//                       layers.
//   capture_reassembly  segments one after another: byte 0 bits 0-1 the
//                       connection (of four), bit 2 the direction, bits 3-7
//                       FIN, SYN, RST, ACK and "cut"; bytes 1-4 the sequence
//                       number, 5-8 the acknowledgement (big-endian); byte 9
//                       the payload length, byte 10 the bytes missing behind
//                       it; then the payload. Fed to a tracker with small caps.
//   capture_tool        a capture file through the whole tool, raw, -f, -r,
//                       and the summary views -s and -j; then one of the
//                       first three and one of -s and -j with a selection
//                       drawn from the input's hash (selection_checks.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/driver.h"
#include "capture/capture_file.h"
#include "capture/connection_tracker.h"
#include "capture/packet_layers.h"
#include "checks.h"
#include "common/text_writer.h"
#include "compare/comparison.h"
#include "compare/report.h"
#include "compare/run_aggregate.h"

namespace capcheck {

using drda::ByteView;
namespace cap = drda::capture;

inline std::string check_capture_file(const std::uint8_t* data, std::size_t size) {
    const ByteView whole(data, size);
    cap::CaptureInput in(whole);
    cap::CaptureFile file(in);
    if (file.open() != cap::ReadStatus::ok) return "";
    cap::Packet p;
    cap::Segment seg;
    std::uint64_t last = in.offset();
    for (std::size_t n = 0;; ++n) {
        const cap::ReadStatus st = file.next(p);
        if (st != cap::ReadStatus::ok) {
            if (st == cap::ReadStatus::damaged && file.damage_offset() > size) return "damage offset past the end";
            return "";
        }
        if (in.offset() <= last) return "a packet read without the position advancing";
        last = in.offset();
        if (p.data.size() > cap::kMaxPacket) return "packet longer than the cap";
        if (p.data.size() && (p.data.data() < data || p.data.end() > data + size)) return "packet outside the file";
        if (cap::parse_packet(p.link, p.data, p.orig_len, seg) == cap::Layer::tcp) {
            if (seg.payload.size() && (seg.payload.data() < p.data.data() || seg.payload.end() > p.data.end()))
                return "payload outside its packet";
        }
        if (n > size) return "more packets than bytes";
    }
}

// The events of a tracker as text, checking each on the way.
inline std::string tracker_log(const std::uint8_t* data, std::size_t size, std::string& failure) {
    cap::Limits l;
    l.max_record_data = 512;
    l.max_held_direction = 1024;
    l.max_held_total = 2048;
    l.max_pending_total = 2048;
    l.max_connections = 3;
    cap::ConnectionTracker t(l);
    std::string log;
    std::uint32_t last_opened = 0;
    auto collect = [&] {
        while (!t.empty()) {
            cap::Event e = t.pop();
            log += std::to_string(e.kind) + " " + std::to_string(e.connection) + " " + std::to_string(e.side) + " " +
                   std::to_string(e.count) + " " + std::to_string(e.data.size()) + "\n";
            if (e.kind == cap::Event::opened) {
                if (e.connection != last_opened + 1) failure = "connections not numbered in order";
                last_opened = e.connection;
            } else if (e.connection == 0 || e.connection > last_opened) {
                failure = "event of a connection never opened";
            }
            if (e.kind == cap::Event::record && (e.data.empty() || e.data[0] != 1 || e.data.size() > 513))
                failure = "record without its role byte or over the cap";
            if (e.kind == cap::Event::gap && e.count == 0) failure = "empty gap";
            t.recycle(std::move(e.data));
        }
    };
    const ByteView in(data, size);
    std::string payload;
    for (std::size_t p = 0; in.has(p, 11);) {
        const std::uint8_t b = in.u8(p);
        cap::Segment s;
        s.src.addr[0] = 10;
        s.dst.addr[0] = 10;
        s.dst.addr[3] = 2;
        s.src.port = static_cast<std::uint16_t>(40000 + (b & 3));
        s.dst.port = 1527;
        if (b & 4) std::swap(s.src, s.dst);
        s.flags = static_cast<std::uint8_t>(((b >> 3) & 1 ? cap::kTcpFin : 0) | ((b >> 4) & 1 ? cap::kTcpSyn : 0) |
                                            ((b >> 5) & 1 ? cap::kTcpRst : 0) | ((b >> 6) & 1 ? cap::kTcpAck : 0));
        s.seq = in.be32(p + 1);
        s.ack = in.be32(p + 5);
        const std::size_t len = in.u8(p + 9);
        s.missing = b & 0x80 ? in.u8(p + 10) : 0;
        s.payload = in.sub(p + 11, len);
        p += 11 + s.payload.size();
        t.segment(s, cap::Time{1, 0, true});
        collect();
        if (!failure.empty()) return log;
    }
    t.finish();
    collect();
    return log;
}

inline std::string check_capture_reassembly(const std::uint8_t* data, std::size_t size) {
    std::string failure, again;
    const std::string a = tracker_log(data, size, failure);
    if (!failure.empty()) return failure;
    if (tracker_log(data, size, again) != a) return "events differ between two runs";
    return "";
}

inline bool printable(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u > 0x7E) && c != '\n' && c != '\t') return false;
    }
    return true;
}

inline int run_tool(const std::uint8_t* data, std::size_t size, const char* opt, std::string& text, std::string& err,
                    drda::Selection* selection = nullptr) {
    char* err_text = nullptr;
    std::size_t err_len = 0;
    std::FILE* e = open_memstream(&err_text, &err_len);
    if (!e) std::abort();
    drda::StringSink sink(text);
    int status;
    {
        drda::TextWriter out(sink);
        drda::CommandLine line;
        const std::string_view option(opt);
        line.input = "fuzz";
        line.format = option == "-f";
        line.rows = option == "-r";
        line.summary = option == "-s";
        line.json = option == "-j";
        if (selection) line.selection = *selection;
        drda::Plan o;
        if (!drda::make_plan(line, o, stderr)) std::abort();
        status = drda::read_capture_memory(ByteView(data, size), "fuzz", out, e, o);
        out.flush();
    }
    std::fclose(e);
    err.assign(err_text, err_len);
    std::free(err_text);
    return status;
}

// The tool with a selection drawn from the input: one listing mode and one
// of -s and -j, each against the same option without it (`texts`, `errs`:
// the output and reports of "", -f, -r, -s and -j in that order).
inline std::string check_capture_selection(const std::uint8_t* data, std::size_t size, int status,
                                           const std::string (&texts)[5], const std::string (&errs)[5]) {
    const selcheck::RandomSelection s = selcheck::draw_selection(data, size, texts[0]);
    static constexpr const char* kOpts[] = {"", "-f", "-r", "-s", "-j"};
    const std::string with = " with " + s.text();
    const int without[2] = {s.mode, s.summary ? 3 : 4};
    std::string got[2];
    for (int k = 0; k < 2; ++k) {
        drda::Selection sel;
        const std::string why = selcheck::make_selection(s, sel);
        if (!why.empty()) return why;
        std::string err;
        if (run_tool(data, size, kOpts[without[k]], got[k], err, &sel) != status)
            return "a selection changes the status" + with;
        if (err != errs[without[k]]) return "a selection changes the reports" + with;
        if (without[k] != 4 && !printable(got[k])) return "output holds a character that is not printable" + with;
        if (got[k].size() > 4096 * size + 65536) return "output not linear in the input" + with;
    }
    std::string why = selcheck::check_listing_selection(texts[s.mode], got[0], s, true);
    if (why.empty() && !s.summary) why = selcheck::check_json_selection(texts[4], got[1], s);
    return why.empty() ? "" : "capture: " + why;
}

// --compare of the input against itself: the same result as the other
// views, nothing flagged, every ratio 1, no error or connection fact
// changed, no more executions than exchanges; printable text, JSON Lines a
// strict reader takes.
inline std::string check_capture_compare(const std::uint8_t* data, std::size_t size, int status) {
    drda::compare::RunAggregate runs[2];
    for (drda::compare::RunAggregate& run : runs) {
        drda::compare::RunCollector collector(run);
        drda::NullSink none;
        drda::TextWriter out(none);
        std::FILE* e = std::fopen("/dev/null", "w");
        if (!e) std::abort();
        drda::CommandLine line;
        line.compare.given = true;
        line.compare.base = line.compare.next = "fuzz";
        drda::Plan o;
        if (!drda::make_plan(line, o, stderr)) std::abort();
        const int got = drda::read_capture_memory(ByteView(data, size), "fuzz", out, e, o, {}, &collector);
        std::fclose(e);
        if (got != status) return "--compare changes the result";
        if (run.executions > run.figures.exchanges) return "--compare: more executions than exchanges";
    }
    const drda::compare::Comparison c = drda::compare::compare_runs(runs[0], runs[1], 2.0);
    for (const drda::compare::ShapeChange& s : c.shapes)
        if (s.label != drda::compare::Label::same || (s.has_ratio && s.ratio != 1))
            return "--compare: the input against itself changed a shape";
    for (const drda::compare::ErrorChange& e : c.errors)
        if (e.label != drda::compare::Label::same) return "--compare: the input against itself changed an error";
    if (!c.facts.empty() || c.factor != 1) return "--compare: the input against itself changed";
    std::string text, json;
    drda::StringSink text_sink(text), json_sink(json);
    drda::TextWriter tw(text_sink), jw(json_sink);
    drda::compare::write_text(tw, c);
    drda::compare::write_json(jw, c);
    tw.flush();
    jw.flush();
    if (!printable(text)) return "--compare: text holds a character that is not printable";
    return fuzzcheck::check_compare_lines(json);
}

inline std::string check_capture_tool(const std::uint8_t* data, std::size_t size) {
    std::string first_err;
    int first = 2;
    std::string texts[5], errs[5];  // "", -f, -r, -s, -j
    int k = 0;
    for (const char* opt : {"", "-f", "-r"}) {
        std::string& text = texts[k];
        std::string& err = errs[k++];
        const int status = run_tool(data, size, opt, text, err);
        if (status != 0 && status != -1) return "status neither 0 nor -1";
        if (first == 2) {
            first = status;
            first_err = err;
        } else if (status != first || err != first_err) {
            return "the options change the result or the reports";
        }
        if (status == -1 && err.rfind("fuzz: ", 0) != 0) return "a failure without its report";
        if (!printable(text)) return "output holds a character that is not printable";
        if (text.size() > 4096 * size + 65536) return "output not linear in the input";
    }
    // The summary views: the same result, printable text, JSON Lines that a
    // strict reader takes.
    for (const char* opt : {"-s", "-j"}) {
        std::string& text = texts[k];
        std::string& err = errs[k++];
        if (run_tool(data, size, opt, text, err) != first) return std::string(opt) + " changes the result";
        if (opt[1] == 's' && !printable(text)) return "summary holds a character that is not printable";
        if (text.size() > 4096 * size + 65536) return "summary not linear in the input";
        if (opt[1] == 'j') {
            const std::string why = fuzzcheck::check_json_lines(text);
            if (!why.empty()) return why;
        }
    }
    const std::string why = check_capture_compare(data, size, first);
    if (!why.empty()) return why;
    return check_capture_selection(data, size, first, texts, errs);
}

inline std::string check(std::string_view target, const std::uint8_t* data, std::size_t size) {
    if (target == "capture_file") return check_capture_file(data, size);
    if (target == "capture_reassembly") return check_capture_reassembly(data, size);
    if (target == "capture_tool") return check_capture_tool(data, size);
    return "unknown target";
}

}  // namespace capcheck
