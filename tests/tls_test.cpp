// SPDX-License-Identifier: Apache-2.0
// The TLS reader over real TLS byte streams of every version and suite
// (tests/data/tls, made by make_vectors.py with Python's ssl): the
// application data comes out the same however the bytes are cut into
// packets; damaged records, wrong and missing keys, an unsupported suite
// and a capture that starts late are reported, and the rest goes on.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "capture/capture_source.h"
#include "capture/tls_keylog.h"
#include "capture/tls_session.h"
#include "support/trace_builder.h"

using namespace drda;
using namespace drda::capture;

namespace {

struct Chunk {
    int side;
    std::string bytes;
};

std::string data_path(const std::string& name) { return std::string(DSSVIEW_TEST_DATA) + "/tls/" + name; }

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::vector<Chunk> load_stream(const std::string& name) {
    std::ifstream f(data_path(name + ".tls"), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    const std::string s = ss.str();
    std::vector<Chunk> out;
    for (std::size_t at = 0; at + 5 <= s.size();) {
        const auto u = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
        const std::size_t len = std::size_t{u(at + 1)} << 24 | u(at + 2) << 16 | u(at + 3) << 8 | u(at + 4);
        out.push_back({u(at), s.substr(at + 5, len)});
        at += 5 + len;
    }
    return out;
}

struct Collect final : TlsReceiver {
    std::string plain[2];
    std::vector<TlsNote> notes;
    void plaintext(int side, ByteView data, const TlsTime&) override {
        plain[side].append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    void note(TlsNote&& n) override { notes.push_back(std::move(n)); }
    int count(TlsNote::Kind k) const {
        int n = 0;
        for (const TlsNote& x : notes) n += x.kind == k;
        return n;
    }
    std::string all_notes() const {
        std::string s;
        for (const TlsNote& x : notes) s += x.text + "\n";
        return s;
    }
};

// Feeds the wire chunks of a stream, each cut into pieces of random size
// (1 to max_piece bytes), and ends the session.
Collect replay(const std::vector<Chunk>& chunks, KeyLog* keys, unsigned seed, std::size_t max_piece) {
    Collect c;
    TlsSession s(keys);
    std::mt19937 rng(seed);
    for (const Chunk& ch : chunks) {
        if (ch.side > 1) continue;
        for (std::size_t at = 0; at < ch.bytes.size();) {
            const std::size_t n = std::min<std::size_t>(ch.bytes.size() - at, 1 + rng() % max_piece);
            s.feed(ch.side, ByteView(std::string_view(ch.bytes).substr(at, n)), TlsTime{}, c);
            at += n;
        }
    }
    s.end(c);
    return c;
}

std::string expected(const std::vector<Chunk>& chunks, int side) {
    std::string s;
    for (const Chunk& ch : chunks)
        if (ch.side == 2 + side) s += ch.bytes;
    return s;
}

KeyLog load_keys(const std::string& name) {
    KeyLog k;
    std::string error;
    EXPECT_TRUE(k.load_file(data_path(name + ".keylog"), error)) << error;
    return k;
}

struct Variant {
    const char* name;
    const char* description;
};
constexpr Variant kDecrypted[] = {
    {"tls13_aes128gcm", "TLS 1.3, TLS_AES_128_GCM_SHA256"},
    {"tls13_aes256gcm", "TLS 1.3, TLS_AES_256_GCM_SHA384"},
    {"tls13_chacha20", "TLS 1.3, TLS_CHACHA20_POLY1305_SHA256"},
    {"tls12_ecdhe_aes128gcm", "TLS 1.2, TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256"},
    {"tls12_ecdhe_aes256gcm", "TLS 1.2, TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384"},
    {"tls12_ecdhe_chacha20", "TLS 1.2, TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256"},
    {"tls12_rsa_aes128gcm", "TLS 1.2, TLS_RSA_WITH_AES_128_GCM_SHA256"},
};

// Every suite: the plaintext both sides sent, in order, whether the bytes
// come whole, byte by byte or in pieces of any size.
TEST(TlsSession, DecryptsEverySuiteHoweverTheBytesAreCut) {
    for (const Variant& v : kDecrypted) {
        SCOPED_TRACE(v.name);
        const std::vector<Chunk> chunks = load_stream(v.name);
        KeyLog keys = load_keys(v.name);
        for (const auto& [seed, piece] : {std::pair<unsigned, std::size_t>{1, 1 << 20}, {2, 1}, {3, 7}, {4, 3000}}) {
            const Collect c = replay(chunks, &keys, seed, piece);
            EXPECT_EQ(c.plain[0], expected(chunks, 0));
            EXPECT_EQ(c.plain[1], expected(chunks, 1));
            ASSERT_EQ(c.notes.size(), 1u) << c.all_notes();
            EXPECT_EQ(c.notes[0].kind, TlsNote::keyed);
            EXPECT_EQ(c.notes[0].text.rfind(std::string(v.description) + ", decrypted with the keys for client random ", 0),
                      0u)
                << c.notes[0].text;
        }
    }
}

// A record damaged on the way: that one is reported with its place and
// skipped; the records after it, and the other direction, still decrypt.
TEST(TlsSession, DamagedRecordIsReportedAndTheRestContinues) {
    for (const char* name : {"tls13_aes128gcm", "tls12_ecdhe_aes256gcm", "tls12_ecdhe_chacha20"}) {
        SCOPED_TRACE(name);
        std::vector<Chunk> chunks = load_stream(name);
        KeyLog keys = load_keys(name);
        // The server's 18,000-byte message comes in two records; damage a
        // byte inside the first.
        std::size_t idx = 0;
        for (std::size_t i = 0; i < chunks.size() && !idx; ++i)
            if (chunks[i].side == 1 && chunks[i].bytes.size() > 10000) idx = i;
        ASSERT_NE(idx, 0u);
        chunks[idx].bytes[100] ^= 0x40;
        const Collect c = replay(chunks, &keys, 5, 1500);
        ASSERT_EQ(c.count(TlsNote::bad_record), 1) << c.all_notes();
        const TlsNote& bad = c.notes[1];
        EXPECT_EQ(bad.side, 1);
        EXPECT_NE(bad.text.find("of the server (at byte "), std::string::npos) << bad.text;
        EXPECT_NE(bad.text.find("does not authenticate"), std::string::npos);
        // Lost: the first record of the big message (16,384 bytes of it).
        EXPECT_EQ(c.plain[1], expected(chunks, 1).substr(16384));
        EXPECT_EQ(c.plain[0], expected(chunks, 0));
    }
}

// Keys missing, in part or whole, or wrong: said exactly, nothing made up.
TEST(TlsSession, MissingAndWrongKeysAreNamed) {
    const std::vector<Chunk> t13 = load_stream("tls13_aes128gcm");
    const std::vector<Chunk> t12 = load_stream("tls12_ecdhe_aes128gcm");
    {
        const Collect c = replay(t13, nullptr, 1, 1 << 20);
        ASSERT_EQ(c.notes.size(), 1u);
        EXPECT_EQ(c.notes[0].kind, TlsNote::no_keys);
        EXPECT_NE(c.notes[0].text.find("not decrypted without a key log; give --keylog FILE"), std::string::npos);
        EXPECT_TRUE(c.plain[0].empty() && c.plain[1].empty());
    }
    {
        // A key log for other connections.
        KeyLog other = load_keys("tls13_aes256gcm");
        const Collect c = replay(t12, &other, 1, 1 << 20);
        ASSERT_EQ(c.notes.size(), 1u);
        EXPECT_NE(c.notes[0].text.find("client random "), std::string::npos);
        EXPECT_NE(c.notes[0].text.find("no keys in the key log for this client random"), std::string::npos);
    }
    {
        // Only the server's application secret is missing: the handshake
        // and the client's data decrypt, the server's data does not.
        std::ifstream f(data_path("tls13_aes128gcm.keylog"));
        KeyLog partial;
        for (std::string line; std::getline(f, line);)
            if (line.rfind("SERVER_TRAFFIC_SECRET_0", 0) != 0) partial.add_line(line);
        const Collect c = replay(t13, &partial, 1, 1 << 20);
        ASSERT_GE(c.notes.size(), 1u);
        EXPECT_NE(c.notes[0].text.find("decrypted in part: no SERVER_TRAFFIC_SECRET_0 in the key log"),
                  std::string::npos)
            << c.notes[0].text;
        EXPECT_EQ(c.plain[0], expected(t13, 0));
        EXPECT_TRUE(c.plain[1].empty());
    }
    {
        // Wrong secrets (one bit off): every record fails and is listed
        // with its place.
        std::ifstream f(data_path("tls12_ecdhe_aes128gcm.keylog"));
        KeyLog wrong;
        for (std::string line; std::getline(f, line);) {
            if (line.rfind("CLIENT_RANDOM", 0) == 0) line.back() = line.back() == '0' ? '1' : '0';
            wrong.add_line(line);
        }
        const Collect c = replay(t12, &wrong, 1, 1 << 20);
        EXPECT_TRUE(c.plain[0].empty() && c.plain[1].empty());
        EXPECT_EQ(c.notes[0].kind, TlsNote::keyed);
        EXPECT_EQ(c.count(TlsNote::bad_record), static_cast<int>(c.notes.size()) - 1);
        EXPECT_GE(c.count(TlsNote::bad_record), 8) << c.all_notes();
        EXPECT_NE(c.all_notes().find("TLS record 4 of the client (at byte 190 of its stream) does not authenticate"),
                  std::string::npos);
    }
}

TEST(TlsSession, UnsupportedSuiteLateStartAndCutRecord) {
    {
        const Collect c = replay(load_stream("tls12_ecdhe_cbc"), nullptr, 1, 1 << 20);
        ASSERT_EQ(c.notes.size(), 1u);
        EXPECT_EQ(c.notes[0].kind, TlsNote::unsupported);
        EXPECT_EQ(c.notes[0].text, "TLS 1.2, TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256: not decrypted: the suite is not "
                                   "supported (AES-GCM and ChaCha20-Poly1305 are)");
    }
    const std::vector<Chunk> all = load_stream("tls13_aes128gcm");
    KeyLog keys = load_keys("tls13_aes128gcm");
    {
        // The capture begins with the first application data.
        std::vector<Chunk> late;
        bool data = false;
        for (const Chunk& ch : all) {
            data = data || ch.side == 2;
            if (data) late.push_back(ch);
        }
        const Collect c = replay(late, &keys, 1, 1 << 20);
        ASSERT_EQ(c.notes.size(), 1u) << c.all_notes();
        EXPECT_EQ(c.notes[0].kind, TlsNote::after_handshake);
        EXPECT_TRUE(c.plain[0].empty() && c.plain[1].empty());
    }
    {
        // The capture ends inside a record; then bytes that are no record.
        std::vector<Chunk> cut;
        for (const Chunk& ch : all) {
            cut.push_back(ch);
            if (ch.side == 1 && ch.bytes.size() > 10000) {
                cut.back().bytes.resize(5000);
                break;
            }
        }
        Collect c = replay(cut, &keys, 1, 1 << 20);
        EXPECT_NE(c.all_notes().find("the server's last TLS record (at byte "), std::string::npos) << c.all_notes();
        EXPECT_NE(c.all_notes().find(") is cut short: 5000 of 16406 bytes"), std::string::npos) << c.all_notes();
        TlsSession s(&keys);
        Collect d;
        s.feed(0, ByteView(std::string_view("\x00\x00\xD0\x01\x00\x01", 6)), TlsTime{}, d);
        ASSERT_EQ(d.count(TlsNote::lost), 1);
        EXPECT_EQ(d.notes[0].text, "TLS: the client's stream at byte 0 is not a TLS record; the rest of it is not read");
    }
}

// The key log: known labels, comments and other labels skipped, the last
// line for a client random wins; a malformed line is named by its number.
TEST(KeyLog, ParsesTheFormatAndNamesTheBadLine) {
    const std::string r(64, 'a');
    const std::string m1(96, '1'), m2(96, '2');
    KeyLog k;
    EXPECT_EQ(k.add_text("# comment\n\nEXPORTER_SECRET " + r + " " + std::string(64, '0') + "\nCLIENT_RANDOM " +
                         r + " " + m1 + "\r\nCLIENT_RANDOM " + r + " " + m2 + "\n"),
              2u);
    ClientRandom cr;
    cr.fill(0xAA);
    ASSERT_NE(k.find(cr), nullptr);
    EXPECT_EQ(k.find(cr)->get(TlsSecret::master).bytes[0], 0x22);
    EXPECT_EQ(k.find(cr)->get(TlsSecret::client_traffic).len, 0);

    const char* why = nullptr;
    for (const std::string& bad : {"CLIENT_RANDOM " + r.substr(2) + " " + m1, "CLIENT_RANDOM " + r + " " + m1 + "0",
                                   "CLIENT_TRAFFIC_SECRET_0 " + r + " zz" + std::string(62, '0'),
                                   "CLIENT_RANDOM " + r + " " + m1 + " extra"}) {
        EXPECT_EQ(k.add_line(bad, &why), KeyLog::Line::malformed) << bad;
    }
    const std::string path = testing::TempDir() + "/bad.keylog";
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "# keys\nCLIENT_RANDOM %s %s\nCLIENT_RANDOM %s 12\n", r.c_str(), m1.c_str(), r.c_str());
    std::fclose(f);
    std::string error;
    KeyLog bad;
    EXPECT_FALSE(bad.load_file(path, error));
    EXPECT_EQ(error, path + ":3: the master secret is not 96 hex digits");
    EXPECT_FALSE(bad.load_file(path + ".none", error));
    EXPECT_EQ(error, path + ".none: No such file or directory");
    std::remove(path.c_str());
}

// The bytes of each direction of a capture's records, and its TLS lines.
struct Streams {
    std::string dir[2];
    std::string tls_lines;
    std::size_t records = 0;
};

Streams read_capture(const std::string& path, KeyLog* keys) {
    const std::string bytes = slurp(path);
    std::string text;
    StringSink sink(text);
    TextWriter out(sink);
    CaptureSource src(ByteView(bytes), path, stderr);
    src.set_key_log(keys);
    Streams s;
    EXPECT_TRUE(src.read_header());
    Record rec;
    for (;;) {
        const CaptureSource::Next n = src.next(rec);
        if (n == CaptureSource::Next::end || n == CaptureSource::Next::failed) break;
        if (n != CaptureSource::Next::record) {
            src.print_event(out);
            continue;
        }
        ++s.records;
        s.dir[rec.direction == kDirectionSend ? 0 : 1].append(reinterpret_cast<const char*>(rec.data.data()) + 1,
                                                            rec.data.size() - 1);
    }
    out.flush();
    for (std::size_t at = 0; (at = text.find("CONNECTION 1: TLS", at)) != std::string::npos; ++at)
        s.tls_lines += text.substr(at, text.find('\n', at) - at) + "\n";
    return s;
}

// Real Derby conversations over TLS (tests/tls_capture/make_derby_tls.py):
// with the key log, each direction carries exactly the bytes the relay's
// clear side carried, in records as many as there; the keys may also come
// inside the capture.
TEST(TlsCapture, DecryptedDerbyConversationEqualsItsClearSide) {
    for (const char* name : {"tls13_aes128gcm", "tls13_aes256gcm", "tls13_chacha20", "tls12_aes128gcm",
                             "tls12_aes256gcm", "tls12_chacha20"}) {
        SCOPED_TRACE(name);
        const std::string base = data_path(std::string("derby/") + name);
        KeyLog keys;
        std::string error;
        ASSERT_TRUE(keys.load_file(base + ".keylog", error)) << error;
        const Streams tls = read_capture(base + ".tls.pcap", &keys);
        const Streams clear = read_capture(base + ".clear.pcap", nullptr);
        EXPECT_GT(clear.dir[0].size(), 1000u);
        EXPECT_EQ(tls.dir[0], clear.dir[0]);
        EXPECT_EQ(tls.dir[1], clear.dir[1]);
        EXPECT_EQ(tls.records, clear.records);
        EXPECT_NE(tls.tls_lines.find(", decrypted with the keys for client random "), std::string::npos);
    }
    const Streams inside = read_capture(data_path("derby/keys_inside.pcapng"), nullptr);
    const Streams clear = read_capture(data_path("derby/tls13_aes128gcm.clear.pcap"), nullptr);
    EXPECT_EQ(inside.dir[0], clear.dir[0]);
    EXPECT_EQ(inside.dir[1], clear.dir[1]);
}

// The command line: a key log that cannot be read or holds a malformed
// line stops the run with status 1 and names the file and line.
TEST(TlsCapture, BadKeyLogIsAnErrorNamingFileAndLine) {
    const std::string capture = data_path("derby/tls12_aes128gcm.tls.pcap");
    const std::string path = testing::TempDir() + "/malformed.keylog";
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("# from a test\nCLIENT_RANDOM 00112233 44556677\n", f);
    std::fclose(f);
    testsupport::RunResult r = testsupport::run_dssview({"--keylog", path, capture});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, path + ":2: the client random is not 64 hex digits\n");
    r = testsupport::run_dssview({"-s", "--keylog", path + ".missing", capture});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, path + ".missing: No such file or directory\n");
    std::remove(path.c_str());
}

}  // namespace
