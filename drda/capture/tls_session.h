// SPDX-License-Identifier: Apache-2.0
// One TLS connection read with the keys of a key log: takes the
// reassembled bytes of each direction as they come, cuts them into records,
// follows the handshake (ClientHello random, ServerHello version and suite,
// the key changes: ChangeCipherSpec in TLS 1.2; ServerHello, Finished and
// KeyUpdate in TLS 1.3), derives the record keys, opens the records and
// hands on their application data. What it finds is reported as notes.
//
// State per direction is bounded: one record (at most 5 + 2^14 + 2048
// bytes) waits for its end, and of the handshake messages only the two
// hellos are kept (at most kMaxHello bytes); the others are only counted
// through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/tls_crypto.h"
#include "capture/tls_keylog.h"
#include "common/byte_view.h"

namespace drda::capture {

struct TlsTime {
    std::int64_t sec = 0;
    std::uint32_t nsec = 0;
    bool valid = false;
};

struct TlsNote {
    enum Kind {
        keyed,           // the handshake is known and the keys were found
        no_keys,         // the handshake is known, keys are missing
        unsupported,     // the suite's records cannot be opened
        after_handshake, // no ClientHello: the capture starts after it
        bad_record,      // a record did not authenticate (or is damaged)
        lost,            // this direction can no longer be followed
    } kind = keyed;
    int side = 0;        // 0 client, 1 server (bad_record, lost)
    std::string text;    // what to print after "CONNECTION n: "
};

class TlsReceiver {
public:
    virtual ~TlsReceiver() = default;
    // Application data of `side`; `time`: the first packet of its record.
    virtual void plaintext(int side, ByteView data, const TlsTime& time) = 0;
    virtual void note(TlsNote&& note) = 0;
};

// True when `p` begins with what a TLS record header can be (content type
// 20-23, major version 3, a length within bounds).
bool looks_like_tls_record(ByteView p);
// True when `p` begins with a TLS handshake record holding a ClientHello.
bool looks_like_client_hello(ByteView p);
// The client random of a ClientHello record at the start of `p`.
bool client_hello_random(ByteView p, ClientRandom& out);

class TlsSession {
public:
    static constexpr std::size_t kMaxRecord = 5 + (1 << 14) + 2048;
    static constexpr std::size_t kMaxHello = 1 << 16;
    static constexpr int kMaxBadNotes = 8;  // per direction; the rest are counted

    // `keys` may be null (no key log): then nothing is decrypted.
    explicit TlsSession(KeyLog* keys);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    void feed(int side, ByteView bytes, const TlsTime& time, TlsReceiver& out);
    // `count` bytes of `side` are missing: record boundaries are lost.
    void gap(int side, std::uint64_t count, TlsReceiver& out);
    // The end of the connection: a record cut short, failures not listed.
    void end(TlsReceiver& out);

    // "TLS 1.3, TLS_AES_128_GCM_SHA256" once the ServerHello was read.
    std::string describe() const;
    bool hello_seen() const { return suite_id_ != 0 || version_ != 0; }
    bool decrypting() const { return keyed_; }
    std::uint64_t bad_records() const { return bad_[0] + bad_[1]; }

    struct Direction;

private:
    void record(int side, std::uint8_t type, ByteView header, ByteView body, TlsReceiver& out);
    void content(int side, std::uint8_t type, ByteView data, TlsReceiver& out, bool decrypted = false);
    void handshake(int side, ByteView data, TlsReceiver& out);
    void message(int side, std::uint8_t type, ByteView body, TlsReceiver& out);
    void server_hello(ByteView body, TlsReceiver& out);
    void finished(int side, TlsReceiver& out);
    void key_update(int side);
    bool key_update_keys(int side);
    bool install_tls13(int side, TlsSecret which, TlsReceiver& out);
    void bad(int side, const char* what, TlsReceiver& out);
    void lose(int side, const char* why, TlsReceiver& out);

    KeyLog* keys_;
    std::unique_ptr<Direction> dir_[2];
    ClientRandom client_random_{};
    std::uint8_t server_random_[32] = {};
    bool have_random_ = false;
    bool mid_stream_noted_ = false;
    std::uint16_t version_ = 0;  // 0x0303 or 0x0304 once known
    std::uint16_t suite_id_ = 0;
    const TlsSuite* suite_ = nullptr;
    bool keyed_ = false;
    std::uint64_t bad_[2] = {0, 0};
    std::unique_ptr<std::uint8_t[]> scratch_;  // a record's plaintext (kMaxRecord bytes)
    // TLS 1.2: the key block, installed at each side's ChangeCipherSpec.
    std::vector<std::uint8_t> key_block_;
};

}  // namespace drda::capture
