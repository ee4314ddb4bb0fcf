// SPDX-License-Identifier: Apache-2.0
#include "capture/tls_keylog.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace drda::capture {
namespace {

constexpr const char* kLabels[kTlsSecrets] = {
    "CLIENT_RANDOM",
    "CLIENT_HANDSHAKE_TRAFFIC_SECRET",
    "SERVER_HANDSHAKE_TRAFFIC_SECRET",
    "CLIENT_TRAFFIC_SECRET_0",
    "SERVER_TRAFFIC_SECRET_0",
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex text into bytes; false unless every character is a digit, in pairs,
// and the bytes fit.
bool from_hex(std::string_view text, std::uint8_t* out, std::size_t cap, std::size_t& len) {
    if (text.size() % 2 != 0 || text.size() / 2 > cap) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i / 2] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    len = text.size() / 2;
    return true;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view next_field(std::string_view& rest) {
    std::size_t a = 0;
    while (a < rest.size() && blank(rest[a])) ++a;
    std::size_t b = a;
    while (b < rest.size() && !blank(rest[b])) ++b;
    const std::string_view f = rest.substr(a, b - a);
    rest.remove_prefix(b);
    return f;
}

}  // namespace

const char* tls_secret_label(TlsSecret s) { return kLabels[static_cast<int>(s)]; }

KeyLog::Line KeyLog::add_line(std::string_view line, const char** why) {
    const char* unused = nullptr;
    const char*& reason = why ? *why : unused;
    std::string_view rest = line;
    const std::string_view label = next_field(rest);
    if (label.empty() || label[0] == '#') return Line::skipped;
    int which = -1;
    for (int i = 0; i < kTlsSecrets; ++i)
        if (label == kLabels[i]) which = i;
    if (which < 0) return Line::skipped;
    const std::string_view random_hex = next_field(rest);
    const std::string_view secret_hex = next_field(rest);
    if (!next_field(rest).empty()) {
        reason = "more than three fields";
        return Line::malformed;
    }
    ClientRandom random{};
    std::size_t n = 0;
    if (!from_hex(random_hex, random.data(), random.size(), n) || n != random.size()) {
        reason = "the client random is not 64 hex digits";
        return Line::malformed;
    }
    Secret s;
    if (!from_hex(secret_hex, s.bytes.data(), s.bytes.size(), n) || n == 0 ||
        (which == 0 && n != 48)) {
        reason = which == 0 ? "the master secret is not 96 hex digits" : "the secret is not 32 to 128 hex digits";
        return Line::malformed;
    }
    if (which != 0 && n < 32) {
        reason = "the secret is not 32 to 128 hex digits";
        return Line::malformed;
    }
    s.len = static_cast<std::uint8_t>(n);
    auto it = map_.find(random);
    if (it == map_.end()) {
        if (map_.size() >= kMaxEntries) {
            full_ = true;
            reason = "more client randoms than the key log can hold";
            return Line::malformed;
        }
        it = map_.emplace(random, Entry{}).first;
    }
    it->second.secret[which] = s;
    ++generation_;
    return Line::used;
}

std::size_t KeyLog::add_text(std::string_view text) {
    std::size_t used = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        switch (add_line(line)) {
            case Line::used: ++used; break;
            case Line::malformed: ++malformed_; break;
            case Line::skipped: break;
        }
    }
    return used;
}

bool KeyLog::load_file(const std::string& path, std::string& error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    KeyLog fresh;
    std::string line;
    std::uint64_t number = 0;
    char chunk[4096];
    bool ok = true;
    auto finish_line = [&]() {
        ++number;
        const char* why = nullptr;
        if (fresh.add_line(line, &why) == Line::malformed) {
            error = path + ":" + std::to_string(number) + ": " + why;
            ok = false;
        }
        line.clear();
    };
    // Lines of a real key log are short; one longer than this is not one.
    constexpr std::size_t kMaxLine = 4096;
    std::size_t got = 0;
    while (ok && (got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        for (std::size_t i = 0; i < got && ok; ++i) {
            if (chunk[i] == '\n') {
                finish_line();
            } else if (line.size() < kMaxLine) {
                line.push_back(chunk[i]);
            } else {
                error = path + ":" + std::to_string(number + 1) + ": line longer than 4096 characters";
                ok = false;
            }
        }
    }
    if (ok && std::ferror(f.get())) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (ok && !line.empty()) finish_line();
    if (!ok) return false;
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        file_size_ = static_cast<std::uint64_t>(st.st_size);
        file_mtime_ = static_cast<std::int64_t>(st.st_mtime);
    }
    for (auto& [random, entry] : fresh.map_) {
        Entry& mine = map_[random];
        for (int i = 0; i < kTlsSecrets; ++i)
            if (entry.secret[i].len) mine.secret[i] = entry.secret[i];
    }
    ++generation_;
    path_ = path;
    return true;
}

bool KeyLog::reload() {
    if (path_.empty()) return false;
    struct stat st{};
    if (::stat(path_.c_str(), &st) != 0) return false;
    if (static_cast<std::uint64_t>(st.st_size) == file_size_ && static_cast<std::int64_t>(st.st_mtime) == file_mtime_)
        return false;
    std::string error;
    const std::string path = path_;
    return load_file(path, error);
}

const KeyLog::Entry* KeyLog::find(const ClientRandom& random) const {
    const auto it = map_.find(random);
    return it == map_.end() ? nullptr : &it->second;
}

}  // namespace drda::capture
