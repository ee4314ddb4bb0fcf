// SPDX-License-Identifier: Apache-2.0
// Packet capture files (pcap and pcapng) read block by block through a
// window over the input, so that a capture of any size is read with a fixed
// amount of memory and every block is parsed through a bounded byte view.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "capture/tls_keylog.h"
#include "common/byte_view.h"
#include "common/stream_input.h"

namespace drda::capture {

// A captured packet larger than this is damage (sane readers cap it so too).
inline constexpr std::uint32_t kMaxPacket = 256 * 1024;
// Packet, section and interface blocks are read whole and may hold this
// much besides the packet (options, comments).
inline constexpr std::uint32_t kMaxBlock = kMaxPacket + 64 * 1024;

// The input of a capture: a stream read through a window of fixed size, or
// bytes already in memory (tests, fuzzing). A file is read a whole window
// at a time; a live stream (StreamInput) only as far as the bytes asked for
// have arrived.
class CaptureInput {
public:
    // `head`: the first bytes of the stream, already read by the caller.
    CaptureInput(std::FILE* in, ByteView head);
    CaptureInput(StreamInput& live, ByteView head);
    explicit CaptureInput(ByteView whole);

    // Up to n bytes from the read position (fewer only at the end of the
    // input or on a read error); n must not exceed the window.
    ByteView peek(std::size_t n);
    // Moves the read position on by n bytes; returns how many there were.
    std::uint64_t skip(std::uint64_t n);
    std::uint64_t offset() const { return base_ + pos_; }
    // errno of a failed read, 0 when none failed.
    int error() const { return error_; }

    // A live stream only: whether bytes wait unread in the window or the
    // next read would not wait for the writer.
    bool live() const { return live_ != nullptr; }
    bool ready() const { return pos_ < len_ || !live_ || live_->ready(); }
    // The input ended because a stop was requested, not by its end.
    bool stopped() const { return live_ && live_->stopped(); }

private:
    // Reads until `need` bytes from the read position are in the window
    // (a file: until the window is full), or the input ends.
    void fill(std::size_t need);

    std::FILE* in_ = nullptr;
    StreamInput* live_ = nullptr;
    std::unique_ptr<std::uint8_t[]> window_;  // not zeroed: only what is read is touched
    const std::uint8_t* data_ = nullptr;
    std::size_t len_ = 0;     // valid bytes at data_
    std::size_t pos_ = 0;     // read position in data_
    std::uint64_t base_ = 0;  // file offset of data_[0]
    bool eof_ = false;
    int error_ = 0;
};

struct Packet {
    ByteView data;               // the captured bytes, valid until the next read
    std::uint32_t orig_len = 0;  // length on the wire
    std::uint32_t link = 0;      // link type (LINKTYPE_ value)
    std::int64_t sec = 0;        // time: seconds since the epoch ...
    std::uint32_t nsec = 0;      // ... and nanoseconds
    bool has_time = false;       // false for simple packet blocks
};

enum class ReadStatus {
    ok,       // a packet (or, for open, the file header) was read
    end,      // the input ends at a block boundary
    cut,      // the input ends inside a block or packet
    damaged,  // a length that cannot be; damage_offset() tells where
    error,    // a read failed; CaptureInput::error() tells why
};

class CaptureFile {
public:
    explicit CaptureFile(CaptureInput& in) : in_(in) {}

    // Reads the file header (pcap) or checks that a section header starts
    // the file (pcapng).
    ReadStatus open();
    ReadStatus next(Packet& p);

    bool pcapng() const { return pcapng_; }
    // pcap only: the header's version and link type.
    unsigned version_major() const { return major_; }
    unsigned version_minor() const { return minor_; }
    std::uint32_t link_type() const { return link_; }
    std::uint64_t damage_offset() const { return damage_at_; }

    // pcapng Decryption Secrets Blocks of TLS key log text go into `keys`
    // (none: they are skipped).
    void set_key_log(KeyLog* keys) { keys_ = keys; }
    // Such blocks read, and those read after packets (whose connections
    // may have come too early for them).
    std::uint64_t secrets_blocks() const { return secrets_blocks_; }
    std::uint64_t late_secrets_blocks() const { return late_secrets_; }

private:
    struct Interface {
        std::uint32_t link = 0;
        std::uint32_t snaplen = 0;
        std::uint8_t tsresol = 6;
        std::int64_t tsoffset = 0;
    };

    ReadStatus next_pcap(Packet& p);
    ReadStatus next_pcapng(Packet& p);
    ReadStatus damaged(std::uint64_t at) {
        damage_at_ = at;
        return ReadStatus::damaged;
    }
    ReadStatus short_read(std::size_t got) const;
    std::uint16_t u16(ByteView v, std::size_t off) const;
    std::uint32_t u32(ByteView v, std::size_t off) const;
    void read_interface(ByteView block);
    void set_time(Packet& p, const Interface& itf, std::uint64_t ts) const;
    ReadStatus read_secrets(std::uint64_t at, std::uint32_t total);

    CaptureInput& in_;
    bool pcapng_ = false;
    bool big_endian_ = false;
    bool nanos_ = false;
    unsigned major_ = 0, minor_ = 0;
    std::uint32_t link_ = 0;
    std::uint32_t snaplen_ = 0;
    std::vector<Interface> interfaces_;
    std::uint64_t damage_at_ = 0;
    KeyLog* keys_ = nullptr;
    std::uint64_t packets_ = 0;
    std::uint64_t secrets_blocks_ = 0;
    std::uint64_t late_secrets_ = 0;
};

}  // namespace drda::capture
