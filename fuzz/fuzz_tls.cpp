// SPDX-License-Identifier: Apache-2.0
// libFuzzer target of the TLS reader: key log text, then the bytes of a
// connection's two directions.
//
// Input: key log text up to the first 0x00 byte (fed to KeyLog::add_text),
// then chunks: a byte h (bit 0: 0 client, 1 server; the rest with the next
// byte: the chunk's length, (h >> 1) | next << 7), then the chunk's bytes
// (fewer at the end of the input). Seeds (make_seeds.py) are the TLS
// streams of tests/data/tls with their key logs, so the fuzzer starts
// inside decrypted handshakes and records.
//
// Checks: the same plaintext and notes when every chunk is cut into pieces
// of 1 to 7 bytes (cuts only move bytes between packets); the same on a
// second run; no more plaintext than bytes fed per direction; notes
// printable, bounded in number, and free of any secret of the key log.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "capture/tls_keylog.h"
#include "capture/tls_session.h"

using namespace drda;
using namespace drda::capture;

namespace {

struct Chunk {
    int side;
    ByteView bytes;
};

struct Result final : TlsReceiver {
    std::string plain[2];
    std::string notes;
    std::size_t count = 0;
    void plaintext(int side, ByteView data, const TlsTime&) override {
        plain[side].append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    void note(TlsNote&& n) override {
        notes += std::to_string(n.kind) + ":" + std::to_string(n.side) + ":" + n.text + "\n";
        ++count;
    }
    bool operator==(const Result& o) const {
        return plain[0] == o.plain[0] && plain[1] == o.plain[1] && notes == o.notes;
    }
};

Result run(KeyLog& keys, const std::vector<Chunk>& chunks, std::size_t piece) {
    Result r;
    TlsSession s(&keys);
    for (const Chunk& c : chunks) {
        if (piece == 0) {
            s.feed(c.side, c.bytes, TlsTime{}, r);
            continue;
        }
        for (std::size_t at = 0, i = 0; at < c.bytes.size(); ++i) {
            const std::size_t n = 1 + (at + i * 3) % piece;
            s.feed(c.side, c.bytes.sub(at, n), TlsTime{}, r);
            at += n;
        }
    }
    s.end(r);
    return r;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "PROPERTY FAILED: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    std::size_t at = 0;
    while (at < size && data[at] != 0) ++at;
    const std::string_view text(reinterpret_cast<const char*>(data), at);
    KeyLog keys;
    keys.add_text(text);
    std::vector<Chunk> chunks;
    std::size_t fed[2] = {0, 0};
    for (++at; at + 2 <= size;) {
        const int side = in.u8(at) & 1;
        const std::size_t len = (in.u8(at) >> 1) | std::size_t{in.u8(at + 1)} << 7;
        const ByteView b = in.sub(at + 2, len);
        chunks.push_back({side, b});
        fed[side] += b.size();
        at += 2 + b.size();
    }
    const Result whole = run(keys, chunks, 0);
    if (!(run(keys, chunks, 0) == whole)) fail("two runs differ");
    if (!(run(keys, chunks, 7) == whole)) fail("cutting the chunks into pieces changes what comes out");
    for (int s = 0; s < 2; ++s)
        if (whole.plain[s].size() > fed[s]) fail("more plaintext than bytes fed");
    if (whole.count > 8 + size / 8) fail("more notes than the input can explain");
    for (char c : whole.notes)
        if (!(c == '\n' || (c >= 0x20 && c < 0x7F))) fail("a note is not printable");
    // No secret of the key log in any note (a secret that is also in a
    // client random, which notes name, aside).
    std::vector<std::string> randoms, secrets;
    for (std::size_t p = 0; p < text.size();) {
        const std::size_t e = text.find('\n', p);
        const std::string_view line = text.substr(p, e == std::string_view::npos ? std::string_view::npos : e - p);
        p = e == std::string_view::npos ? text.size() : e + 1;
        std::vector<std::string> fields;
        for (std::size_t q = 0; q < line.size();) {
            const std::size_t f = line.find_first_not_of(" \t\r", q);
            if (f == std::string_view::npos) break;
            const std::size_t g = std::min(line.size(), line.find_first_of(" \t\r", f));
            fields.emplace_back(line.substr(f, g - f));
            q = g;
        }
        if (fields.size() != 3) continue;
        randoms.push_back(fields[1]);
        if (fields[2].size() >= 32 && fields[2].find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            secrets.push_back(fields[2].substr(0, 32));
    }
    // The notes name the client random of the capture's ClientHello, which
    // is the input's own bytes and may hold anything, a secret's hex too.
    static constexpr std::string_view kRandom = "client random ";
    for (std::size_t p = whole.notes.find(kRandom); p != std::string::npos; p = whole.notes.find(kRandom, p + 1)) {
        const std::size_t from = p + kRandom.size();
        const std::size_t end = whole.notes.find_first_not_of("0123456789abcdef", from);
        randoms.push_back(whole.notes.substr(from, end - from));
    }
    for (const std::string& secret : secrets) {
        bool in_random = false;
        for (const std::string& r : randoms) in_random = in_random || r.find(secret) != std::string::npos;
        if (!in_random && whole.notes.find(secret) != std::string::npos)
            fail("a secret of the key log appears in a note");
    }
    return 0;
}
