// SPDX-License-Identifier: Apache-2.0
#include "capture/capture_file.h"

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace drda::capture {
namespace {

constexpr std::size_t kWindow = std::size_t{1} << 20;
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
// More interfaces than this in one section is damage, not a capture.
constexpr std::size_t kMaxInterfaces = 4096;
// Decryption Secrets Block; its secrets type for TLS key log text ("TLSK").
constexpr std::uint32_t kSecretsBlock = 0x0000000A;
constexpr std::uint32_t kTlsKeyLog = 0x544C534B;
// A key log line longer than this is not one.
constexpr std::size_t kMaxKeyLine = 4096;

std::uint32_t le32(ByteView v, std::size_t off) {
    return std::uint32_t{v.u8(off)} | std::uint32_t{v.u8(off + 1)} << 8 | std::uint32_t{v.u8(off + 2)} << 16 |
           std::uint32_t{v.u8(off + 3)} << 24;
}

constexpr std::uint64_t kPow10[20] = {1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL,
                                      10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL,
                                      100000000000ULL, 1000000000000ULL, 10000000000000ULL,
                                      100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL,
                                      100000000000000000ULL, 1000000000000000000ULL,
                                      10000000000000000000ULL};

}  // namespace

CaptureInput::CaptureInput(std::FILE* in, ByteView head) : in_(in), window_(new std::uint8_t[kWindow]) {
    if (!head.empty()) std::memcpy(window_.get(), head.data(), head.size() < kWindow ? head.size() : kWindow);
    data_ = window_.get();
    len_ = head.size() < kWindow ? head.size() : kWindow;
}

CaptureInput::CaptureInput(StreamInput& live, ByteView head) : CaptureInput(static_cast<std::FILE*>(nullptr), head) {
    live_ = &live;
}

CaptureInput::CaptureInput(ByteView whole) : data_(whole.data()), len_(whole.size()), eof_(true) {}

void CaptureInput::fill(std::size_t need) {
    if (eof_ || (!in_ && !live_)) return;
    if (pos_ > 0) {
        std::memmove(window_.get(), window_.get() + pos_, len_ - pos_);
        base_ += pos_;
        len_ -= pos_;
        pos_ = 0;
    }
    if (live_) {
        while (len_ < need && len_ < kWindow) {
            const std::size_t got = live_->read_some(window_.get() + len_, kWindow - len_);
            len_ += got;
            if (got == 0) {
                error_ = live_->error();
                eof_ = true;
                break;
            }
        }
        return;
    }
    while (len_ < kWindow) {
        errno = 0;
        const std::size_t got = std::fread(window_.get() + len_, 1, kWindow - len_, in_);
        len_ += got;
        if (got == 0) {
            if (std::ferror(in_)) error_ = errno ? errno : EIO;
            eof_ = true;
            break;
        }
    }
}

ByteView CaptureInput::peek(std::size_t n) {
    if (len_ - pos_ < n) fill(n);
    const std::size_t have = len_ - pos_;
    return ByteView(data_ + pos_, n < have ? n : have);
}

std::uint64_t CaptureInput::skip(std::uint64_t n) {
    std::uint64_t done = 0;
    while (done < n) {
        if (pos_ == len_) {
            if (eof_ || (!in_ && !live_)) break;
            base_ += len_;
            pos_ = len_ = 0;
            fill(1);
            if (len_ == 0) break;
        }
        const std::uint64_t step = std::min<std::uint64_t>(n - done, len_ - pos_);
        pos_ += static_cast<std::size_t>(step);
        done += step;
    }
    return done;
}

// --- file formats -------------------------------------------------------------

std::uint16_t CaptureFile::u16(ByteView v, std::size_t off) const {
    return big_endian_ ? v.be16(off) : static_cast<std::uint16_t>(v.u8(off) | v.u8(off + 1) << 8);
}

std::uint32_t CaptureFile::u32(ByteView v, std::size_t off) const {
    return big_endian_ ? v.be32(off) : le32(v, off);
}

ReadStatus CaptureFile::short_read(std::size_t got) const {
    if (in_.error()) return ReadStatus::error;
    // A stop request ends a live stream where it stands: a packet cut by
    // it is not damage.
    if (in_.stopped()) return ReadStatus::end;
    return got == 0 ? ReadStatus::end : ReadStatus::cut;
}

ReadStatus CaptureFile::open() {
    const ByteView h = in_.peek(24);
    const std::uint32_t magic = h.be32(0);
    if (magic == kSectionHeader) {
        pcapng_ = true;
        return ReadStatus::ok;
    }
    switch (magic) {
        case 0xA1B2C3D4: big_endian_ = true; break;
        case 0xA1B23C4D: big_endian_ = true; nanos_ = true; break;
        case 0xD4C3B2A1: break;
        case 0x4D3CB2A1: nanos_ = true; break;
        default: return damaged(0);
    }
    if (h.size() < 24) return in_.error() ? ReadStatus::error : ReadStatus::cut;
    major_ = u16(h, 4);
    minor_ = u16(h, 6);
    snaplen_ = u32(h, 16);
    link_ = u32(h, 20) & 0xFFFF;
    in_.skip(24);
    return ReadStatus::ok;
}

ReadStatus CaptureFile::next(Packet& p) { return pcapng_ ? next_pcapng(p) : next_pcap(p); }

ReadStatus CaptureFile::next_pcap(Packet& p) {
    const std::uint64_t at = in_.offset();
    const ByteView h = in_.peek(16);
    if (h.size() < 16) return short_read(h.size());
    const std::uint32_t caplen = u32(h, 8);
    if (caplen > kMaxPacket) return damaged(at);
    // The second peek may move the window: the header is read again from
    // the record, never through `h`.
    const ByteView rec = in_.peek(16 + std::size_t{caplen});
    if (rec.size() < 16 + std::size_t{caplen}) return short_read(1);
    const std::uint32_t frac = u32(rec, 4);
    p.data = rec.sub(16, caplen);
    p.orig_len = u32(rec, 12);
    p.link = link_;
    p.sec = u32(rec, 0);
    p.nsec = nanos_ ? frac : frac * 1000u;
    if (p.nsec >= 1000000000u) p.nsec = 999999999u;
    p.has_time = true;
    in_.skip(16 + std::size_t{caplen});
    return ReadStatus::ok;
}

void CaptureFile::read_interface(ByteView block) {
    Interface itf;
    itf.link = u16(block, 8);
    itf.snaplen = u32(block, 12);
    // Options up to the trailing length: code, length, value padded to 4.
    const ByteView opts = block.sub(16, block.size() - 20);
    for (std::size_t off = 0; opts.has(off, 4);) {
        const std::uint16_t code = u16(opts, off);
        const std::uint16_t len = u16(opts, off + 2);
        if (code == 0 || !opts.has(off + 4, len)) break;
        if (code == 9 && len >= 1) itf.tsresol = opts.u8(off + 4);
        if (code == 14 && len >= 8) {
            const std::uint64_t hi = u32(opts, off + 4), lo = u32(opts, off + 8);
            itf.tsoffset = static_cast<std::int64_t>(big_endian_ ? (hi << 32 | lo) : (lo << 32 | hi));
        }
        off += 4 + ((std::size_t{len} + 3) & ~std::size_t{3});
    }
    interfaces_.push_back(itf);
}

void CaptureFile::set_time(Packet& p, const Interface& itf, std::uint64_t ts) const {
    std::uint64_t sec = 0;
    std::uint64_t nsec = 0;
    const unsigned exp = itf.tsresol & 0x7F;
    if (itf.tsresol & 0x80) {
        if (exp < 64) {
            sec = ts >> exp;
            const std::uint64_t frac = exp ? ts & ((std::uint64_t{1} << exp) - 1) : 0;
            nsec = static_cast<std::uint64_t>(static_cast<long double>(frac) * 1e9L / std::ldexp(1.0L, static_cast<int>(exp)));
        } else {
            nsec = 0;
        }
    } else if (exp < 20) {
        sec = ts / kPow10[exp];
        const std::uint64_t rem = ts % kPow10[exp];
        nsec = exp <= 9 ? rem * kPow10[9 - exp] : rem / kPow10[exp - 9];
    }
    p.has_time = sec < (std::uint64_t{1} << 40);
    p.sec = static_cast<std::int64_t>(sec) + itf.tsoffset;
    p.nsec = static_cast<std::uint32_t>(nsec < 1000000000u ? nsec : 999999999u);
}

ReadStatus CaptureFile::next_pcapng(Packet& p) {
    for (;;) {
        const std::uint64_t at = in_.offset();
        ByteView h = in_.peek(12);
        if (h.size() < 12) return short_read(h.size());
        const std::uint32_t raw_type = h.be32(0);
        if (raw_type == kSectionHeader) {
            const std::uint32_t bom = h.be32(8);
            if (bom == kByteOrderMagic) big_endian_ = true;
            else if (le32(h, 8) == kByteOrderMagic) big_endian_ = false;
            else return damaged(at);
        }
        const std::uint32_t type = u32(h, 0);
        const std::uint32_t total = u32(h, 4);
        if (total < 12 || total % 4 != 0) return damaged(at);
        if (type == kSecretsBlock) {
            const ReadStatus st = read_secrets(at, total);
            if (st != ReadStatus::ok) return st;
            continue;
        }
        const bool known = type == kSectionHeader || type == 1 || type == 2 || type == 3 || type == 6;
        if (!known) {
            // Skipped without being held: any length the file really has.
            const std::uint64_t body = total - 4;
            if (in_.skip(body) < body) return short_read(1);
            const ByteView tail = in_.peek(4);
            if (tail.size() < 4) return short_read(1);
            if (u32(tail, 0) != total) return damaged(at);
            in_.skip(4);
            continue;
        }
        if (total > kMaxBlock) return damaged(at);
        const ByteView block = in_.peek(total);
        if (block.size() < total) return short_read(1);
        if (u32(block, total - 4) != total) return damaged(at);
        switch (type) {
            case kSectionHeader:
                if (total < 28 || u16(block, 12) != 1) return damaged(at);
                interfaces_.clear();
                break;
            case 1:
                if (total < 20 || interfaces_.size() >= kMaxInterfaces) return damaged(at);
                read_interface(block);
                break;
            case 6:
            case 2: {
                if (total < 32) return damaged(at);
                const std::uint32_t id = type == 6 ? u32(block, 8) : u16(block, 8);
                const std::uint32_t caplen = u32(block, 20);
                if (id >= interfaces_.size() || caplen > kMaxPacket || caplen > total - 32) return damaged(at);
                const Interface& itf = interfaces_[id];
                p.data = block.sub(28, caplen);
                p.orig_len = u32(block, 24);
                p.link = itf.link;
                set_time(p, itf, std::uint64_t{u32(block, 12)} << 32 | u32(block, 16));
                in_.skip(total);
                ++packets_;
                return ReadStatus::ok;
            }
            case 3: {
                if (total < 16 || interfaces_.empty()) return damaged(at);
                const Interface& itf = interfaces_[0];
                std::uint32_t caplen = u32(block, 8);
                p.orig_len = caplen;
                if (itf.snaplen && caplen > itf.snaplen) caplen = itf.snaplen;
                if (caplen > total - 16) caplen = total - 16;
                if (caplen > kMaxPacket) return damaged(at);
                p.data = block.sub(12, caplen);
                p.link = itf.link;
                p.sec = 0;
                p.nsec = 0;
                p.has_time = false;
                in_.skip(total);
                ++packets_;
                return ReadStatus::ok;
            }
        }
        in_.skip(total);
    }
}

// A Decryption Secrets Block: secrets type, length, the secrets, padding
// and options. Read a window at a time, so that it may be of any size; its
// TLS key log lines go to the key log.
ReadStatus CaptureFile::read_secrets(std::uint64_t at, std::uint32_t total) {
    const ByteView h = in_.peek(16);
    if (h.size() < 16) return short_read(h.size());
    const std::uint32_t kind = u32(h, 8);
    const std::uint32_t len = u32(h, 12);
    if (total < 20 || len > total - 20) return damaged(at);
    in_.skip(16);
    std::string carry;  // a line cut by the end of a piece
    const bool keep = kind == kTlsKeyLog && keys_;
    for (std::uint32_t left = len; left > 0;) {
        const std::size_t n = std::min<std::size_t>(left, kMaxBlock);
        const ByteView piece = in_.peek(n);
        if (piece.size() < n) return short_read(1);
        if (keep) {
            const std::string_view text(reinterpret_cast<const char*>(piece.data()), piece.size());
            const std::size_t last = text.rfind('\n');
            if (last == std::string_view::npos) {
                if (carry.size() + text.size() <= kMaxKeyLine) carry.append(text);
            } else {
                carry.append(text.substr(0, last + 1));
                keys_->add_text(carry);
                carry.assign(text.substr(last + 1).substr(0, kMaxKeyLine));
            }
        }
        in_.skip(n);
        left -= static_cast<std::uint32_t>(n);
    }
    if (keep && !carry.empty()) keys_->add_text(carry);
    const std::uint64_t rest = total - 16 - std::uint64_t{len} - 4;
    if (in_.skip(rest) < rest) return short_read(1);
    const ByteView tail = in_.peek(4);
    if (tail.size() < 4) return short_read(1);
    if (u32(tail, 0) != total) return damaged(at);
    in_.skip(4);
    if (kind == kTlsKeyLog) {
        ++secrets_blocks_;
        if (packets_) ++late_secrets_;
    }
    return ReadStatus::ok;
}

}  // namespace drda::capture
