// SPDX-License-Identifier: Apache-2.0
#include "capture/tls_crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <cstring>

namespace drda::capture {
namespace {

const char* digest_name(bool sha384) { return sha384 ? "SHA384" : "SHA256"; }

// The algorithms, fetched from the provider once (a fetch costs more than
// a derivation) and kept for the life of the process.
EVP_KDF* kdf_of(bool prf) {
    static EVP_KDF* const tls1_prf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
    static EVP_KDF* const hkdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    return prf ? tls1_prf : hkdf;
}

// Runs TLS1-PRF (`prf`) or HKDF with `params` into out[0, n).
bool derive(bool prf, OSSL_PARAM* params, std::uint8_t* out, std::size_t n) {
    EVP_KDF* kdf = kdf_of(prf);
    EVP_KDF_CTX* ctx = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    const bool ok = ctx && EVP_KDF_derive(ctx, out, n, params) > 0;
    EVP_KDF_CTX_free(ctx);
    return ok;
}

// An HKDF context in expand-only mode with its digest set, one per digest
// and thread, used again for each expansion with a new key and info (each
// setting of the info replaces the last): looking the digest up by its name
// for every one cost more than the expansion, and a TLS 1.3 connection
// makes a dozen of them.
class HkdfExpand {
public:
    explicit HkdfExpand(bool sha384) {
        EVP_KDF* kdf = kdf_of(false);
        ctx_ = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
        int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
            OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest_name(sha384)), 0),
            OSSL_PARAM_construct_end(),
        };
        if (ctx_ && EVP_KDF_CTX_set_params(ctx_, params) <= 0) {
            EVP_KDF_CTX_free(ctx_);
            ctx_ = nullptr;
        }
    }
    ~HkdfExpand() { EVP_KDF_CTX_free(ctx_); }
    HkdfExpand(const HkdfExpand&) = delete;
    HkdfExpand& operator=(const HkdfExpand&) = delete;

    bool run(ByteView key, ByteView info, std::uint8_t* out, std::size_t n) {
        if (!ctx_) return false;
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(key.data()), key.size()),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<std::uint8_t*>(info.data()),
                                              info.size()),
            OSSL_PARAM_construct_end(),
        };
        return EVP_KDF_derive(ctx_, out, n, params) > 0;
    }

private:
    EVP_KDF_CTX* ctx_ = nullptr;
};

const EVP_CIPHER* cipher_of(TlsAead aead) {
    static EVP_CIPHER* const aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-GCM", nullptr);
    static EVP_CIPHER* const aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    static EVP_CIPHER* const chacha = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
    switch (aead) {
        case TlsAead::aes128gcm: return aes128;
        case TlsAead::aes256gcm: return aes256;
        case TlsAead::chacha20poly1305: return chacha;
        case TlsAead::none: break;
    }
    return nullptr;
}

}  // namespace

std::size_t tls_key_length(TlsAead aead) { return aead == TlsAead::aes128gcm ? 16 : aead == TlsAead::none ? 0 : 32; }

bool tls12_key_block(bool sha384, ByteView master, ByteView server_random, ByteView client_random,
                     std::uint8_t* out, std::size_t n) {
    static constexpr char kLabel[] = "key expansion";
    std::uint8_t seed[sizeof kLabel - 1 + 64];
    if (server_random.size() != 32 || client_random.size() != 32) return false;
    std::memcpy(seed, kLabel, sizeof kLabel - 1);
    std::memcpy(seed + sizeof kLabel - 1, server_random.data(), 32);
    std::memcpy(seed + sizeof kLabel - 1 + 32, client_random.data(), 32);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest_name(sha384)), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<std::uint8_t*>(master.data()),
                                          master.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, seed, sizeof seed),
        OSSL_PARAM_construct_end(),
    };
    return derive(true, params, out, n);
}

bool tls13_expand_label(bool sha384, ByteView secret, std::string_view label, std::uint8_t* out, std::size_t n) {
    // HkdfLabel: uint16 length, opaque label<7..255> = "tls13 " + label,
    // opaque context<0..255> (empty here).
    static constexpr char kPrefix[] = "tls13 ";
    std::uint8_t info[2 + 1 + 255 + 1];
    const std::size_t label_len = sizeof kPrefix - 1 + label.size();
    if (label_len > 255 || n > 0xFFFF || secret.empty()) return false;
    info[0] = static_cast<std::uint8_t>(n >> 8);
    info[1] = static_cast<std::uint8_t>(n);
    info[2] = static_cast<std::uint8_t>(label_len);
    std::memcpy(info + 3, kPrefix, sizeof kPrefix - 1);
    std::memcpy(info + 3 + sizeof kPrefix - 1, label.data(), label.size());
    info[3 + label_len] = 0;
    thread_local HkdfExpand sha256(false), sha384_expand(true);
    return (sha384 ? sha384_expand : sha256).run(secret, ByteView(info, 4 + label_len), out, n);
}

RecordKey::RecordKey() = default;
RecordKey::~RecordKey() { EVP_CIPHER_CTX_free(ctx_); }

void RecordKey::clear() {
    aead_ = TlsAead::none;
    std::memset(iv_, 0, sizeof iv_);
    if (ctx_) EVP_CIPHER_CTX_reset(ctx_);
}

bool RecordKey::set(TlsAead aead, ByteView key, ByteView iv) {
    clear();
    const EVP_CIPHER* cipher = cipher_of(aead);
    if (!cipher || key.size() != tls_key_length(aead)) return false;
    const bool salt = iv.size() == 4;
    if (!(iv.size() == 12 || (salt && aead != TlsAead::chacha20poly1305))) return false;
    if (!ctx_ && !(ctx_ = EVP_CIPHER_CTX_new())) return false;
    if (EVP_DecryptInit_ex(ctx_, cipher, nullptr, key.data(), nullptr) <= 0) return false;
    std::memcpy(iv_, iv.data(), iv.size());
    explicit_nonce_ = salt;
    aead_ = aead;
    return true;
}

bool RecordKey::open(std::uint64_t seq, ByteView aad, ByteView body, std::uint8_t* out, std::size_t& out_len) {
    if (!ready() || body.size() < overhead()) return false;
    std::uint8_t nonce[12];
    std::memcpy(nonce, iv_, sizeof nonce);
    std::size_t at = 0;
    if (explicit_nonce_) {
        std::memcpy(nonce + 4, body.data(), 8);
        at = 8;
    } else {
        for (int i = 0; i < 8; ++i) nonce[4 + i] ^= static_cast<std::uint8_t>(seq >> (56 - 8 * i));
    }
    const std::size_t len = body.size() - at - kTag;
    int n = 0, fin = 0;
    const bool ok = EVP_DecryptInit_ex(ctx_, nullptr, nullptr, nullptr, nonce) > 0 &&
                    EVP_DecryptUpdate(ctx_, nullptr, &n, aad.data(), static_cast<int>(aad.size())) > 0 &&
                    EVP_DecryptUpdate(ctx_, out, &n, body.data() + at, static_cast<int>(len)) > 0 &&
                    EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_AEAD_SET_TAG, kTag,
                                        const_cast<std::uint8_t*>(body.data() + at + len)) > 0 &&
                    EVP_DecryptFinal_ex(ctx_, out + n, &fin) > 0;
    out_len = ok ? static_cast<std::size_t>(n) + static_cast<std::size_t>(fin) : 0;
    return ok;
}

}  // namespace drda::capture
