// SPDX-License-Identifier: Apache-2.0
// The cipher suites named in the output: those whose records are opened
// (AEAD with AES-GCM or ChaCha20-Poly1305) and common ones that are not.
#include <algorithm>
#include <iterator>

#include "capture/tls_crypto.h"

namespace drda::capture {
namespace {

using A = TlsAead;

// Sorted by number.
constexpr TlsSuite kSuites[] = {
    {0x002F, "TLS_RSA_WITH_AES_128_CBC_SHA", A::none, false},
    {0x0033, "TLS_DHE_RSA_WITH_AES_128_CBC_SHA", A::none, false},
    {0x0035, "TLS_RSA_WITH_AES_256_CBC_SHA", A::none, false},
    {0x0039, "TLS_DHE_RSA_WITH_AES_256_CBC_SHA", A::none, false},
    {0x003C, "TLS_RSA_WITH_AES_128_CBC_SHA256", A::none, false},
    {0x003D, "TLS_RSA_WITH_AES_256_CBC_SHA256", A::none, false},
    {0x0067, "TLS_DHE_RSA_WITH_AES_128_CBC_SHA256", A::none, false},
    {0x006B, "TLS_DHE_RSA_WITH_AES_256_CBC_SHA256", A::none, false},
    {0x009C, "TLS_RSA_WITH_AES_128_GCM_SHA256", A::aes128gcm, false},
    {0x009D, "TLS_RSA_WITH_AES_256_GCM_SHA384", A::aes256gcm, true},
    {0x009E, "TLS_DHE_RSA_WITH_AES_128_GCM_SHA256", A::aes128gcm, false},
    {0x009F, "TLS_DHE_RSA_WITH_AES_256_GCM_SHA384", A::aes256gcm, true},
    {0x00A2, "TLS_DHE_DSS_WITH_AES_128_GCM_SHA256", A::aes128gcm, false},
    {0x00A3, "TLS_DHE_DSS_WITH_AES_256_GCM_SHA384", A::aes256gcm, true},
    {0x1301, "TLS_AES_128_GCM_SHA256", A::aes128gcm, false},
    {0x1302, "TLS_AES_256_GCM_SHA384", A::aes256gcm, true},
    {0x1303, "TLS_CHACHA20_POLY1305_SHA256", A::chacha20poly1305, false},
    {0x1304, "TLS_AES_128_CCM_SHA256", A::none, false},
    {0x1305, "TLS_AES_128_CCM_8_SHA256", A::none, false},
    {0xC009, "TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA", A::none, false},
    {0xC00A, "TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA", A::none, false},
    {0xC013, "TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA", A::none, false},
    {0xC014, "TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA", A::none, false},
    {0xC023, "TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256", A::none, false},
    {0xC024, "TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA384", A::none, true},
    {0xC027, "TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256", A::none, false},
    {0xC028, "TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA384", A::none, true},
    {0xC02B, "TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256", A::aes128gcm, false},
    {0xC02C, "TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384", A::aes256gcm, true},
    {0xC02F, "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256", A::aes128gcm, false},
    {0xC030, "TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", A::aes256gcm, true},
    {0xC09C, "TLS_RSA_WITH_AES_128_CCM", A::none, false},
    {0xC09D, "TLS_RSA_WITH_AES_256_CCM", A::none, false},
    {0xC0AC, "TLS_ECDHE_ECDSA_WITH_AES_128_CCM", A::none, false},
    {0xC0AD, "TLS_ECDHE_ECDSA_WITH_AES_256_CCM", A::none, false},
    {0xCCA8, "TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256", A::chacha20poly1305, false},
    {0xCCA9, "TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256", A::chacha20poly1305, false},
    {0xCCAA, "TLS_DHE_RSA_WITH_CHACHA20_POLY1305_SHA256", A::chacha20poly1305, false},
};

}  // namespace

const TlsSuite* tls_suite(std::uint16_t id) {
    const auto it = std::lower_bound(std::begin(kSuites), std::end(kSuites), id,
                                     [](const TlsSuite& s, std::uint16_t v) { return s.id < v; });
    return it != std::end(kSuites) && it->id == id ? &*it : nullptr;
}

}  // namespace drda::capture
