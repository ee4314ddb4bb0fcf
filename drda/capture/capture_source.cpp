// SPDX-License-Identifier: Apache-2.0
#include "capture/capture_source.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "capture/packet_layers.h"

namespace drda {

using capture::Event;
using capture::ReadStatus;

bool is_capture_magic(ByteView head) {
    if (head.size() < 4) return false;
    switch (head.be32(0)) {
        case 0xA1B2C3D4:
        case 0xD4C3B2A1:
        case 0xA1B23C4D:
        case 0x4D3CB2A1:
        case 0x0A0D0D0A: return true;
    }
    return false;
}

CaptureSource::CaptureSource(std::FILE* in, ByteView head, const std::string& input_name, std::FILE* err,
                             const capture::Limits& limits)
    : input_(in, head), file_(input_), tracker_(limits), name_(input_name), err_(err), file_in_(in),
      head_(head.begin(), head.end()), limits_max_undecided_(limits.max_undecided) {
    set_key_log(&own_keys_);
}

CaptureSource::CaptureSource(StreamInput& live, ByteView head, const std::string& input_name, std::FILE* err,
                             const capture::Limits& limits)
    : input_(live, head), file_(input_), tracker_(limits), name_(input_name), err_(err),
      limits_max_undecided_(limits.max_undecided) {
    set_key_log(&own_keys_);
}

CaptureSource::CaptureSource(ByteView whole, const std::string& input_name, std::FILE* err,
                             const capture::Limits& limits)
    : input_(whole), file_(input_), tracker_(limits), name_(input_name), err_(err),
      limits_max_undecided_(limits.max_undecided) {
    set_key_log(&own_keys_);
}

void CaptureSource::set_key_log(capture::KeyLog* keys) {
    if (!keys) keys = &own_keys_;
    keys_ = keys;
    file_.set_key_log(keys);
    tracker_.set_key_log(keys);
}

// A pcapng file may carry its keys after the packets they unlock: a file
// that can be read twice is first read for its Decryption Secrets Blocks
// alone. (A pipe cannot; its late keys are reported as they come.)
void CaptureSource::read_secrets_first() {
    if (!file_in_ || head_.size() < 4 || ByteView(head_.data(), head_.size()).be32(0) != 0x0A0D0D0A) return;
    const off_t start = ftello(file_in_);
    if (start < 0) return;
    {
        capture::CaptureInput again(file_in_, ByteView(head_.data(), head_.size()));
        capture::CaptureFile scan(again);
        scan.set_key_log(keys_);
        capture::Packet p;
        if (scan.open() == ReadStatus::ok)
            while (scan.next(p) == ReadStatus::ok) {
            }
        skip_late_note_ = scan.late_secrets_blocks();
    }
    if (fseeko(file_in_, start, SEEK_SET) != 0) {
        // Cannot go back: read on where the scan left off would be wrong.
        file_in_ = nullptr;
        return;
    }
    std::clearerr(file_in_);
}

bool CaptureSource::read_header() {
    read_secrets_first();
    switch (file_.open()) {
        case ReadStatus::ok: break;
        case ReadStatus::error:
            std::fprintf(err_, "%s: %s\n", name_.c_str(), std::strerror(input_.error()));
            return false;
        case ReadStatus::damaged:
            std::fprintf(err_, "%s: damaged capture at byte %llu\n", name_.c_str(),
                         static_cast<unsigned long long>(file_.damage_offset()));
            return false;
        default:
            std::fprintf(err_, "%s: capture ends inside a packet\n", name_.c_str());
            return false;
    }
    stats_.kind = file_.pcapng() ? "pcapng capture" : "pcap capture, link type " + std::to_string(file_.link_type());
    return true;
}

void CaptureSource::print_header(TextWriter& out) const {
    if (file_.pcapng()) out.put("pcapng capture\n\n");
    else
        out.printf("pcap capture, version %u.%u, link type %u\n\n", file_.version_major(), file_.version_minor(),
                   static_cast<unsigned>(file_.link_type()));
}

// Reads packets until the tracker has something to say or the input ends.
bool CaptureSource::read_packets() {
    capture::Packet p;
    capture::Segment seg;
    while (tracker_.empty() && !finished_) {
        // A live stream whose writer paused: what each connection has
        // pending is shown before the read waits (the reply that ends an
        // exchange would otherwise wait for the next request).
        if (input_.live() && !input_.ready()) {
            tracker_.end_runs();
            if (!tracker_.empty()) break;
        }
        const ReadStatus st = file_.next(p);
        if (file_.late_secrets_blocks() > skip_late_note_ && file_.late_secrets_blocks() != late_secrets_told_) {
            // Keys that come after packets unlock only the connections
            // that begin after them.
            late_secrets_told_ = file_.late_secrets_blocks();
            std::fprintf(err_,
                         "%s: TLS keys in the capture after packets: the connections before them are not "
                         "decrypted, since a pipe is read once (give the keys with --keylog FILE)\n",
                         name_.c_str());
        }
        if (st == ReadStatus::ok) {
            ++stats_.packets;
            if (p.data.size() < p.orig_len) {
                ++stats_.cut_packets;
                if (p.data.size() > stats_.cut_to) stats_.cut_to = static_cast<std::uint32_t>(p.data.size());
            }
            const capture::Layer layer = capture::parse_packet(p.link, p.data, p.orig_len, seg);
            if (layer == capture::Layer::tcp) {
                tracker_.segment(seg, capture::Time{p.sec, p.nsec, p.has_time});
            } else if (layer == capture::Layer::fragment) {
                ++fragments_;
            }
            continue;
        }
        // The end, clean or not: what was read is shown first.
        finished_ = true;
        tracker_.finish();
        switch (st) {
            case ReadStatus::end: break;
            case ReadStatus::cut:
                std::fprintf(err_, "%s: capture ends inside a packet\n", name_.c_str());
                failed_ = true;
                break;
            case ReadStatus::damaged:
                std::fprintf(err_, "%s: damaged capture at byte %llu\n", name_.c_str(),
                             static_cast<unsigned long long>(file_.damage_offset()));
                failed_ = true;
                break;
            default:
                std::fprintf(err_, "%s: %s\n", name_.c_str(), std::strerror(input_.error()));
                failed_ = true;
                break;
        }
    }
    return !tracker_.empty();
}

// An empty line before a line set apart by empty lines, where the record
// before does not end with one (a raw listing ends with its last dump
// line). Row lines inserted after a decode's last empty line do not count:
// they come in the place of the next line.
void CaptureSource::set_apart(TextWriter& out) {
    if (!ends_blank_ && !out.at_blank_line()) out.put('\n');
    ends_blank_ = false;
}

void CaptureSource::print_line(TextWriter& out, const Event& e) {
    // Each CONNECTION line is set apart by empty lines: one after it, and
    // one before it (set_apart).
    set_apart(out);
    out.printf("CONNECTION %u: ", e.connection);
    const char* side = e.side == capture::kClient ? "client" : "server";
    switch (e.kind) {
        case Event::opened:
            out.put(e.client);
            out.put(" > ");
            out.put(e.server);
            out.put(e.syn ? " opened" : " seen");
            break;
        case Event::gap:
            out.printf("%llu bytes from the %s missing from the capture", static_cast<unsigned long long>(e.count),
                       side);
            break;
        case Event::closed: out.printf("closed by the %s (%s)", side, e.rst ? "RST" : "FIN"); break;
        case Event::still_open: out.put("still open at the end of the capture"); break;
        case Event::dropped: out.put("no longer followed: too many connections open at once"); break;
        case Event::idle: out.put("no longer followed: idle"); break;
        case Event::replaced: out.put("replaced by a new connection on the same ports"); break;
        case Event::tls: out.put(e.text); break;
        case Event::record: break;
    }
    out.put("\n\n");
}

void CaptureSource::print_record_header(TextWriter& out, const Event& e) const {
    out.printf("%d\tconnection %u  ", record_, e.connection);
    out.put(e.client);
    out.put(e.side == capture::kClient ? " > " : " < ");
    out.put(e.server);
    out.printf("\n\tbytes %zu\n", e.data.size());
    const std::string_view t = time_text();
    if (t.empty()) return;
    out.put("\ttime  ");
    out.put(t);
    out.put('\n');
}

std::string_view CaptureSource::time_text() const {
    if (current_.kind != Event::record || !current_.time.valid) return {};
    if (time_len_ == 0) {
        std::tm tmv{};
        const std::time_t tt = static_cast<std::time_t>(current_.time.sec);
        if (!localtime_r(&tt, &tmv)) return {};
        const std::size_t n = std::strftime(time_text_, sizeof time_text_, "%Y-%m-%d %H:%M:%S", &tmv);
        if (n == 0) return {};
        const int m = std::snprintf(time_text_ + n, sizeof time_text_ - n, ".%06u", current_.time.nsec / 1000u);
        if (m < 0 || static_cast<std::size_t>(m) >= sizeof time_text_ - n) return {};
        time_len_ = n + static_cast<std::size_t>(m);
    }
    return std::string_view(time_text_, time_len_);
}

void CaptureSource::print_event(TextWriter& out) {
    if (current_.kind == Event::record) print_record_header(out, current_);
    else print_line(out, current_);
}

void CaptureSource::print_notes(TextWriter& out) {
    if (fragments_) {
        set_apart(out);
        out.printf("IP FRAGMENTS: %llu packets skipped, not reassembled\n\n",
                   static_cast<unsigned long long>(fragments_));
        fragments_ = 0;
    }
    if (const std::uint64_t n = tracker_.undecided() - undecided_reported_) {
        undecided_reported_ += n;
        set_apart(out);
        out.printf("LEFT OUT: %llu connections whose first bytes did not come within %zu bytes\n\n",
                   static_cast<unsigned long long>(n), limits_max_undecided_);
    }
}

CaptureSource::Next CaptureSource::next(Record& rec) {
    if (!current_.data.empty() || current_.data.capacity()) tracker_.recycle(std::move(current_.data));
    current_.data = {};
    time_len_ = 0;
    if (!read_packets()) {
        current_.kind = Event::still_open;
        if (failed_) return Next::failed;
        if (tracker_.shown() == 0) std::fprintf(err_, "no DRDA connection in the capture\n");
        return Next::end;
    }
    current_ = tracker_.pop();
    const Event& e = current_;
    rec.connection = e.connection;
    rec.direction = e.side == capture::kClient ? kDirectionSend : kDirectionReceive;
    // Only a record carries bytes: what the last one pointed at went back
    // to the tracker's buffers above and may be reused by now.
    rec.data = ByteView();
    if (e.kind == Event::record) {
        ends_blank_ = false;
        ++record_;
        rec.number = record_;
        rec.data = ByteView(e.data.data(), e.data.size());
        rec.time = static_cast<double>(e.time.sec) + e.time.nsec / 1e9;
        rec.has_time = e.time.valid;
        rec.client = e.client;
        rec.server = e.server;
        return Next::record;
    }
    if (e.kind == Event::gap) {
        ++stats_.gaps;
        stats_.missing_bytes += e.count;
        return Next::gap;
    }
    if (e.kind == Event::tls) {
        if (e.tls_kind == capture::TlsNote::keyed) ++stats_.tls_keyed;
        else if (e.tls_kind != capture::TlsNote::bad_record && e.tls_kind != capture::TlsNote::lost) ++stats_.tls_unkeyed;
    }
    if (e.done) {
        closing_ = Closing{e.kind, e.side, e.rst};
        return Next::closed;
    }
    return Next::note;
}

}  // namespace drda
