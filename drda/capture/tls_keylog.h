// SPDX-License-Identifier: Apache-2.0
// Session secrets of TLS connections in the key log format TLS libraries
// write (SSLKEYLOGFILE, Python's keylog_filename): one line per secret,
// `LABEL <client random, 64 hex> <secret, hex>`, looked up by the client
// random of a connection's ClientHello. The last line for a client random
// and label wins. Comment lines, empty lines and other labels are skipped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/byte_view.h"

namespace drda::capture {

// The secrets that key records.
enum class TlsSecret : int {
    master = 0,        // CLIENT_RANDOM: the TLS 1.2 master secret
    client_handshake,  // CLIENT_HANDSHAKE_TRAFFIC_SECRET
    server_handshake,  // SERVER_HANDSHAKE_TRAFFIC_SECRET
    client_traffic,    // CLIENT_TRAFFIC_SECRET_0
    server_traffic,    // SERVER_TRAFFIC_SECRET_0
};
inline constexpr int kTlsSecrets = 5;
const char* tls_secret_label(TlsSecret s);

using ClientRandom = std::array<std::uint8_t, 32>;

class KeyLog {
public:
    // A secret is at most this long (SHA-384 gives 48 bytes).
    static constexpr std::size_t kMaxSecret = 64;
    // Client randoms held at most; a key log with more is refused.
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

    struct Secret {
        std::uint8_t len = 0;  // 0: not in the key log
        std::array<std::uint8_t, kMaxSecret> bytes{};
        ByteView view() const { return ByteView(bytes.data(), len); }
    };
    struct Entry {
        std::array<Secret, kTlsSecrets> secret;
        const Secret& get(TlsSecret s) const { return secret[static_cast<int>(s)]; }
    };

    enum class Line { used, skipped, malformed };
    // One line (without its end). For `malformed` (a known label whose
    // random or secret is not what it must be), `why` says what is wrong.
    Line add_line(std::string_view line, const char** why = nullptr);
    // Text of many lines; malformed lines are counted, not fatal (keys
    // carried inside a capture). Returns the lines used.
    std::size_t add_text(std::string_view text);

    // Reads a key log file. On failure `error` is "FILE: reason" or
    // "FILE:LINE: reason" and nothing of the file is kept.
    bool load_file(const std::string& path, std::string& error);
    // Reads the file given to load_file again (keys written while a live
    // capture runs); false when it cannot be read or did not change.
    bool reload();

    const Entry* find(const ClientRandom& random) const;
    std::size_t size() const { return map_.size(); }
    std::size_t malformed() const { return malformed_; }
    bool full() const { return full_; }
    // Changes on every change of the keys held.
    std::uint64_t generation() const { return generation_; }
    const std::string& path() const { return path_; }

private:
    struct Hash {
        std::size_t operator()(const ClientRandom& r) const noexcept {
            std::size_t h = 0;
            for (int i = 0; i < 8; ++i) h = (h << 8) | r[i];
            return h;
        }
    };
    std::unordered_map<ClientRandom, Entry, Hash> map_;
    std::size_t malformed_ = 0;
    bool full_ = false;
    std::uint64_t generation_ = 0;
    std::string path_;
    std::uint64_t file_size_ = 0;
    std::int64_t file_mtime_ = 0;
};

}  // namespace drda::capture
