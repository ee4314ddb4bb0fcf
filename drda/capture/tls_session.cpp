// SPDX-License-Identifier: Apache-2.0
#include "capture/tls_session.h"

#include <algorithm>
#include <cstring>

namespace drda::capture {
namespace {

constexpr std::uint8_t kChangeCipherSpec = 20;
constexpr std::uint8_t kAlert = 21;
constexpr std::uint8_t kHandshake = 22;
constexpr std::uint8_t kApplicationData = 23;

constexpr std::uint8_t kClientHello = 1;
constexpr std::uint8_t kServerHello = 2;
constexpr std::uint8_t kFinished = 20;
constexpr std::uint8_t kKeyUpdate = 24;

constexpr std::uint16_t kTls12 = 0x0303;
constexpr std::uint16_t kTls13 = 0x0304;

// A ServerHello with this random asks the client for another ClientHello.
constexpr std::uint8_t kHelloRetryRandom[32] = {
    0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C, 0x02, 0x1E, 0x65, 0xB8, 0x91,
    0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB, 0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C,
};

const char* kSideName[2] = {"client", "server"};

std::string hex(const std::uint8_t* p, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s(2 * n, '0');
    for (std::size_t i = 0; i < n; ++i) {
        s[2 * i] = kDigits[p[i] >> 4];
        s[2 * i + 1] = kDigits[p[i] & 15];
    }
    return s;
}

std::string hex16(std::uint16_t v) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    return hex(b, 2);
}

std::string version_name(std::uint16_t v) {
    switch (v) {
        case 0x0300: return "SSL 3.0";
        case 0x0301: return "TLS 1.0";
        case 0x0302: return "TLS 1.1";
        case kTls12: return "TLS 1.2";
        case kTls13: return "TLS 1.3";
    }
    return "TLS version 0x" + hex16(v);
}

bool valid_header(ByteView h) {
    const std::uint8_t type = h.u8(0);
    return type >= kChangeCipherSpec && type <= kApplicationData && h.u8(1) == 3 && h.u8(2) <= 4 &&
           h.be16(3) <= TlsSession::kMaxRecord - 5;
}

}  // namespace

bool looks_like_tls_record(ByteView p) { return p.size() >= 5 && valid_header(p); }

bool looks_like_client_hello(ByteView p) {
    return looks_like_tls_record(p) && p.u8(0) == kHandshake && p.u8(5) == kClientHello && p.be16(3) >= 4 + 2 + 32;
}

bool client_hello_random(ByteView p, ClientRandom& out) {
    if (!looks_like_client_hello(p) || !p.has(11, 32)) return false;
    std::memcpy(out.data(), p.data() + 11, 32);
    return true;
}

struct TlsSession::Direction {
    std::vector<std::uint8_t> buf;  // a record waiting for its end
    TlsTime rec_time;
    std::uint64_t offset = 0;     // bytes of the direction read
    std::uint64_t rec_start = 0;  // offset of the record in buf
    std::uint64_t records = 0;
    bool lost = false;
    bool encrypted = false;  // records from here on are protected
    RecordKey key;
    std::uint64_t seq = 0;
    std::vector<std::uint8_t> secret;  // TLS 1.3: the current traffic secret
    // The handshake message being read.
    std::uint8_t hs_header[4] = {};
    int hs_have = 0;
    std::uint32_t hs_left = 0;
    bool hs_keep = false;
    std::vector<std::uint8_t> hs_body;
};

TlsSession::TlsSession(KeyLog* keys) : keys_(keys) {
    dir_[0] = std::make_unique<Direction>();
    dir_[1] = std::make_unique<Direction>();
}

TlsSession::~TlsSession() {
    for (auto& d : dir_) {
        std::fill(d->secret.begin(), d->secret.end(), std::uint8_t{0});
    }
    std::fill(key_block_.begin(), key_block_.end(), std::uint8_t{0});
}

std::string TlsSession::describe() const {
    std::string s = version_name(version_);
    s += ", ";
    if (suite_) s += suite_->name;
    else s += "suite 0x" + hex16(suite_id_);
    return s;
}

void TlsSession::feed(int side, ByteView bytes, const TlsTime& time, TlsReceiver& out) {
    Direction& d = *dir_[side];
    std::size_t off = 0;
    while (!d.lost && off < bytes.size()) {
        if (d.buf.empty()) {
            d.rec_time = time;
            d.rec_start = d.offset;
            // Whole records straight from the input, without a copy.
            const ByteView rest = bytes.sub(off);
            if (rest.size() >= 5) {
                if (!valid_header(rest)) {
                    lose(side, "is not a TLS record", out);
                    return;
                }
                const std::size_t len = rest.be16(3);
                if (rest.size() >= 5 + len) {
                    d.offset += 5 + len;
                    off += 5 + len;
                    record(side, rest.u8(0), rest.first(5), rest.sub(5, len), out);
                    continue;
                }
            }
        }
        // A record cut across packets: its bytes wait in buf.
        const ByteView rest = bytes.sub(off);
        std::size_t want = 5;
        if (d.buf.size() >= 5) want = 5 + ((std::size_t{d.buf[3]} << 8) | d.buf[4]);
        std::size_t take = std::min(want - d.buf.size(), rest.size());
        d.buf.insert(d.buf.end(), rest.begin(), rest.begin() + take);
        off += take;
        d.offset += take;
        if (d.buf.size() == 5) {
            if (!valid_header(ByteView(d.buf.data(), 5))) {
                d.buf.clear();
                lose(side, "is not a TLS record", out);
                return;
            }
            d.buf.reserve(5 + std::size_t{d.buf[3]} * 256 + d.buf[4]);
            want = 5 + ((std::size_t{d.buf[3]} << 8) | d.buf[4]);
        }
        if (d.buf.size() >= 5 && d.buf.size() == want) {
            std::vector<std::uint8_t> whole;
            whole.swap(d.buf);
            const ByteView v(whole.data(), whole.size());
            record(side, v.u8(0), v.first(5), v.sub(5), out);
            whole.clear();
            if (d.buf.empty()) d.buf.swap(whole);  // keep the capacity
        }
    }
}

void TlsSession::gap(int side, std::uint64_t count, TlsReceiver& out) {
    Direction& d = *dir_[side];
    d.offset += count;
    d.buf.clear();
    lose(side, "follows missing bytes: its records cannot be found again", out);
}

void TlsSession::end(TlsReceiver& out) {
    for (int side = 0; side < 2; ++side) {
        Direction& d = *dir_[side];
        if (!d.lost && !d.buf.empty()) {
            TlsNote n;
            n.kind = TlsNote::bad_record;
            n.side = side;
            n.text = "the " + std::string(kSideName[side]) + "'s last TLS record (at byte " +
                     std::to_string(d.rec_start) + ") is cut short: " + std::to_string(d.buf.size()) + " of " +
                     std::to_string(d.buf.size() >= 5 ? 5 + (std::size_t{d.buf[3]} << 8 | d.buf[4]) : 5) +
                     " bytes";
            out.note(std::move(n));
            d.buf.clear();
        }
        if (bad_[side] > static_cast<std::uint64_t>(kMaxBadNotes)) {
            TlsNote n;
            n.kind = TlsNote::bad_record;
            n.side = side;
            n.text = std::to_string(bad_[side]) + " TLS records of the " + kSideName[side] +
                     " in all did not authenticate";
            out.note(std::move(n));
        }
    }
}

void TlsSession::lose(int side, const char* why, TlsReceiver& out) {
    Direction& d = *dir_[side];
    if (d.lost) return;
    d.lost = true;
    std::vector<std::uint8_t>().swap(d.buf);
    std::vector<std::uint8_t>().swap(d.hs_body);
    TlsNote n;
    n.kind = TlsNote::lost;
    n.side = side;
    n.text = "TLS: the " + std::string(kSideName[side]) + "'s stream at byte " + std::to_string(d.rec_start) + " " +
             why + "; the rest of it is not read";
    out.note(std::move(n));
}

void TlsSession::bad(int side, const char* what, TlsReceiver& out) {
    Direction& d = *dir_[side];
    if (++bad_[side] > static_cast<std::uint64_t>(kMaxBadNotes)) return;
    TlsNote n;
    n.kind = TlsNote::bad_record;
    n.side = side;
    n.text = "TLS record " + std::to_string(d.records) + " of the " + kSideName[side] + " (at byte " +
             std::to_string(d.rec_start) + " of its stream) " + what + "; skipped";
    if (bad_[side] == static_cast<std::uint64_t>(kMaxBadNotes)) n.text += " (further ones are only counted)";
    out.note(std::move(n));
}

void TlsSession::record(int side, std::uint8_t type, ByteView header, ByteView body, TlsReceiver& out) {
    Direction& d = *dir_[side];
    ++d.records;
    if (!have_random_ && !mid_stream_noted_ && !(side == 0 && type == kHandshake)) {
        mid_stream_noted_ = true;
        TlsNote n;
        n.kind = TlsNote::after_handshake;
        n.text = "TLS: the capture starts after the handshake: without the client random no keys can be "
                 "looked up; not decrypted";
        out.note(std::move(n));
    }
    const bool tls13 = version_ == kTls13;
    // TLS 1.3 protects only records sent as application data; a
    // ChangeCipherSpec is sent in clear for compatibility.
    const bool protected_record = d.encrypted && (!tls13 || type == kApplicationData);
    if (!protected_record) {
        if (type == kApplicationData) return;  // before the handshake was seen
        content(side, type, body, out);
        return;
    }
    if (!d.key.ready()) return;  // no keys: reported at ServerHello
    if (body.size() < d.key.overhead()) {
        ++d.seq;
        bad(side, "is too short to hold its tag", out);
        return;
    }
    std::uint8_t aad[13];
    ByteView aad_view = header;
    if (!tls13) {
        const std::size_t plain = body.size() - d.key.overhead();
        for (int i = 0; i < 8; ++i) aad[i] = static_cast<std::uint8_t>(d.seq >> (56 - 8 * i));
        aad[8] = type;
        aad[9] = header.u8(1);
        aad[10] = header.u8(2);
        aad[11] = static_cast<std::uint8_t>(plain >> 8);
        aad[12] = static_cast<std::uint8_t>(plain);
        aad_view = ByteView(aad, sizeof aad);
    }
    if (!scratch_) scratch_.reset(new std::uint8_t[kMaxRecord]);  // not zeroed: only written bytes are read
    std::size_t len = 0;
    const bool ok = d.key.open(d.seq, aad_view, body, scratch_.get(), len);
    ++d.seq;
    if (!ok) {
        bad(side, "does not authenticate (wrong keys or damaged bytes)", out);
        return;
    }
    std::uint8_t inner = type;
    if (tls13) {
        while (len > 0 && scratch_[len - 1] == 0) --len;
        if (len == 0) {
            bad(side, "holds no content type", out);
            return;
        }
        inner = scratch_[--len];
    }
    // content() may install new keys; the plaintext stays in scratch_,
    // which only record() itself refills.
    content(side, inner, ByteView(scratch_.get(), len), out, true);
}

void TlsSession::content(int side, std::uint8_t type, ByteView data, TlsReceiver& out, bool decrypted) {
    Direction& d = *dir_[side];
    switch (type) {
        case kChangeCipherSpec:
            if (version_ == kTls13 || decrypted) return;
            d.encrypted = true;
            d.seq = 0;
            d.key.clear();
            if (key_block_.empty() || !suite_) return;
            {
                const std::size_t kl = tls_key_length(suite_->aead);
                const std::size_t ivl = suite_->aead == TlsAead::chacha20poly1305 ? 12 : 4;
                const ByteView block(key_block_.data(), key_block_.size());
                d.key.set(suite_->aead, block.sub(side * kl, kl), block.sub(2 * kl + side * ivl, ivl));
            }
            return;
        case kHandshake: handshake(side, data, out); return;
        case kApplicationData:
            if (decrypted && !data.empty()) out.plaintext(side, data, d.rec_time);
            return;
        case kAlert:
        default: return;
    }
}

void TlsSession::handshake(int side, ByteView data, TlsReceiver& out) {
    Direction& d = *dir_[side];
    std::size_t off = 0;
    while (off < data.size() && !d.lost) {
        if (d.hs_have < 4) {
            d.hs_header[d.hs_have++] = data.u8(off++);
            if (d.hs_have < 4) continue;
            d.hs_left = (std::uint32_t{d.hs_header[1]} << 16) | (std::uint32_t{d.hs_header[2]} << 8) | d.hs_header[3];
            const std::uint8_t t = d.hs_header[0];
            d.hs_keep = (t == kClientHello || t == kServerHello) && d.hs_left <= kMaxHello;
            d.hs_body.clear();
        } else {
            const std::size_t take = std::min<std::size_t>(d.hs_left, data.size() - off);
            if (d.hs_keep) d.hs_body.insert(d.hs_body.end(), data.begin() + off, data.begin() + off + take);
            off += take;
            d.hs_left -= static_cast<std::uint32_t>(take);
        }
        if (d.hs_have == 4 && d.hs_left == 0) {
            d.hs_have = 0;
            message(side, d.hs_header[0], ByteView(d.hs_body.data(), d.hs_body.size()), out);
        }
    }
}

void TlsSession::message(int side, std::uint8_t type, ByteView body, TlsReceiver& out) {
    switch (type) {
        case kClientHello:
            if (side == 0 && body.has(2, 32)) {
                std::memcpy(client_random_.data(), body.data() + 2, 32);
                have_random_ = true;
            }
            return;
        case kServerHello:
            if (side == 1) server_hello(body, out);
            return;
        case kFinished:
            if (version_ == kTls13 && dir_[side]->encrypted)
                install_tls13(side, side == 0 ? TlsSecret::client_traffic : TlsSecret::server_traffic, out);
            return;
        case kKeyUpdate:
            if (version_ == kTls13) key_update(side);
            return;
    }
}

void TlsSession::server_hello(ByteView b, TlsReceiver& out) {
    if (!b.has(0, 2 + 32 + 1)) return;
    if (std::memcmp(b.data() + 2, kHelloRetryRandom, 32) == 0) return;  // another ClientHello follows
    std::uint16_t version = b.be16(0);
    std::size_t at = 34 + 1 + b.u8(34);
    const std::uint16_t suite = b.be16(at);
    at += 3;
    if (b.has(at, 2)) {
        const std::size_t end = std::min(b.size(), at + 2 + b.be16(at));
        for (at += 2; at + 4 <= end;) {
            const std::uint16_t ext = b.be16(at), len = b.be16(at + 2);
            if (ext == 43 && len >= 2) version = b.be16(at + 4);  // supported_versions
            at += 4 + len;
        }
    }
    version_ = version;
    suite_id_ = suite;
    suite_ = tls_suite(suite);
    std::memcpy(server_random_, b.data() + 2, 32);
    const std::string random = have_random_ ? hex(client_random_.data(), 32) : std::string();
    TlsNote n;
    if (version != kTls12 && version != kTls13) {
        n.kind = TlsNote::unsupported;
        n.text = describe() + ": not decrypted: only TLS 1.2 and 1.3 are read";
        out.note(std::move(n));
        version_ = version == 0 ? 1 : version;
        return;
    }
    if (!suite_ || suite_->aead == TlsAead::none) {
        n.kind = TlsNote::unsupported;
        n.text = describe() + ": not decrypted: the suite is not supported (AES-GCM and ChaCha20-Poly1305 are)";
        out.note(std::move(n));
        if (version == kTls13) dir_[0]->encrypted = dir_[1]->encrypted = true;
        suite_ = nullptr;
        return;
    }
    if (!have_random_) {
        n.kind = TlsNote::no_keys;
        n.text = describe() + ": no ClientHello in the capture, so no client random to find keys by";
        out.note(std::move(n));
        if (version == kTls13) dir_[0]->encrypted = dir_[1]->encrypted = true;
        return;
    }
    const KeyLog::Entry* entry = keys_ ? keys_->find(client_random_) : nullptr;
    if (keys_ && !entry && keys_->reload()) entry = keys_->find(client_random_);
    std::string lacking;
    auto need = [&](TlsSecret s) {
        if (entry && entry->get(s).len) return true;
        if (!lacking.empty()) lacking += ", ";
        lacking += tls_secret_label(s);
        return false;
    };
    bool all = true;
    if (version == kTls13) {
        dir_[0]->encrypted = dir_[1]->encrypted = true;
        for (TlsSecret s : {TlsSecret::client_handshake, TlsSecret::server_handshake, TlsSecret::client_traffic,
                            TlsSecret::server_traffic})
            all = need(s) && all;
        const bool c = install_tls13(0, TlsSecret::client_handshake, out);
        const bool s = install_tls13(1, TlsSecret::server_handshake, out);
        keyed_ = c || s;
        if (entry && all && !(c && s)) lacking = "usable handshake secrets (the length does not fit the suite)";
        all = all && c && s;
    } else {
        all = need(TlsSecret::master);
        if (all) {
            const std::size_t kl = tls_key_length(suite_->aead);
            const std::size_t ivl = suite_->aead == TlsAead::chacha20poly1305 ? 12 : 4;
            key_block_.assign(2 * (kl + ivl), 0);
            const KeyLog::Secret& m = entry->get(TlsSecret::master);
            if (!tls12_key_block(suite_->sha384, m.view(), ByteView(server_random_, 32),
                                 ByteView(client_random_.data(), 32), key_block_.data(), key_block_.size())) {
                key_block_.clear();
                all = false;
                lacking = "a key block (the key derivation failed)";
            }
        }
        keyed_ = all;
    }
    if (all) {
        n.kind = TlsNote::keyed;
        n.text = describe() + ", decrypted with the keys for client random " + random;
    } else {
        n.kind = TlsNote::no_keys;
        n.text = describe() + ", client random " + random + ": ";
        if (!keys_) n.text += "not decrypted without a key log; give --keylog FILE";
        else if (!entry) n.text += "no keys in the key log for this client random; give --keylog FILE";
        else n.text += (keyed_ ? "decrypted in part: no " : "not decrypted: no ") + lacking + " in the key log";
    }
    out.note(std::move(n));
}

bool TlsSession::install_tls13(int side, TlsSecret which, TlsReceiver& out) {
    (void)out;
    Direction& d = *dir_[side];
    d.key.clear();
    d.seq = 0;
    std::fill(d.secret.begin(), d.secret.end(), std::uint8_t{0});
    d.secret.clear();
    const KeyLog::Entry* entry = keys_ && have_random_ ? keys_->find(client_random_) : nullptr;
    if (!entry || !suite_) return false;
    const KeyLog::Secret& s = entry->get(which);
    if (s.len != (suite_->sha384 ? 48 : 32)) return false;
    d.secret.assign(s.bytes.begin(), s.bytes.begin() + s.len);
    return key_update_keys(side);
}

bool TlsSession::key_update_keys(int side) {
    Direction& d = *dir_[side];
    std::uint8_t key[32], iv[12];
    const std::size_t kl = tls_key_length(suite_->aead);
    const ByteView secret(d.secret.data(), d.secret.size());
    const bool ok = tls13_expand_label(suite_->sha384, secret, "key", key, kl) &&
                    tls13_expand_label(suite_->sha384, secret, "iv", iv, sizeof iv) &&
                    d.key.set(suite_->aead, ByteView(key, kl), ByteView(iv, sizeof iv));
    std::memset(key, 0, sizeof key);
    std::memset(iv, 0, sizeof iv);
    return ok;
}

void TlsSession::key_update(int side) {
    Direction& d = *dir_[side];
    d.seq = 0;
    if (d.secret.empty() || !suite_) {
        d.key.clear();
        return;
    }
    std::uint8_t next[48];
    const bool ok = tls13_expand_label(suite_->sha384, ByteView(d.secret.data(), d.secret.size()), "traffic upd",
                                       next, d.secret.size());
    if (ok) std::memcpy(d.secret.data(), next, d.secret.size());
    std::memset(next, 0, sizeof next);
    if (!ok || !key_update_keys(side)) d.key.clear();
}

}  // namespace drda::capture
