// SPDX-License-Identifier: Apache-2.0
// The cryptography of reading TLS records, all of it done by OpenSSL's
// libcrypto: the key derivations of TLS 1.2 (its PRF) and TLS 1.3
// (HKDF-Expand-Label), and the AEAD ciphers that open records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/byte_view.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace drda::capture {

enum class TlsAead : std::uint8_t { none, aes128gcm, aes256gcm, chacha20poly1305 };

// A cipher suite: its IANA number and name, and how its records are read
// (`aead` none: a suite whose records this reader cannot open).
struct TlsSuite {
    std::uint16_t id;
    const char* name;
    TlsAead aead;
    bool sha384;  // the suite's hash: SHA-384, else SHA-256
};

// The suite of number `id`, or null when it is not in the table.
const TlsSuite* tls_suite(std::uint16_t id);
std::size_t tls_key_length(TlsAead aead);

// TLS 1.2: PRF(master, "key expansion", server_random + client_random),
// `n` bytes.
bool tls12_key_block(bool sha384, ByteView master, ByteView server_random, ByteView client_random,
                     std::uint8_t* out, std::size_t n);
// TLS 1.3: HKDF-Expand-Label(secret, label, "", n).
bool tls13_expand_label(bool sha384, ByteView secret, std::string_view label, std::uint8_t* out, std::size_t n);

// The key of one direction of a connection.
class RecordKey {
public:
    static constexpr std::size_t kTag = 16;
    RecordKey();
    ~RecordKey();
    RecordKey(const RecordKey&) = delete;
    RecordKey& operator=(const RecordKey&) = delete;

    // `iv`: 4 bytes of salt for TLS 1.2 AES-GCM (the record carries the
    // other 8), else 12. False when the cipher cannot be set up.
    bool set(TlsAead aead, ByteView key, ByteView iv);
    bool ready() const { return aead_ != TlsAead::none; }
    void clear();

    // Opens a record's body (`body`: explicit nonce if any, ciphertext,
    // tag) with sequence number `seq` and additional data `aad`; the
    // plaintext goes to out (room for body.size() bytes), its length to
    // out_len. False when the tag does not verify.
    bool open(std::uint64_t seq, ByteView aad, ByteView body, std::uint8_t* out, std::size_t& out_len);
    // Bytes of a body that are not plaintext.
    std::size_t overhead() const { return explicit_nonce_ ? 8 + kTag : kTag; }

private:
    EVP_CIPHER_CTX* ctx_ = nullptr;
    TlsAead aead_ = TlsAead::none;
    bool explicit_nonce_ = false;
    std::uint8_t iv_[12] = {};
};

}  // namespace drda::capture
