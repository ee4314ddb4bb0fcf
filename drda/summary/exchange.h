// SPDX-License-Identifier: Apache-2.0
// One exchange of a conversation: a DDM command with the objects chained to
// it and everything the server answered to it under the same correlator,
// as the summary views (-s, -j) show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace drda::summary {

// Bytes of a statement text kept; the rest is counted, not kept.
inline constexpr std::size_t kTextBytes = 4096;
// Reply object names kept per exchange.
inline constexpr std::size_t kMaxReplyNames = 64;
// Runs of record numbers kept per exchange; past them the last run is
// stretched to cover the records that follow.
inline constexpr std::size_t kMaxRecordSpans = 64;

// Records first..last (inclusive) of the exchange's connection that hold
// its request or reply DSSs.
struct RecordSpan {
    int first = 0, last = 0;
    bool operator==(const RecordSpan&) const = default;
};

struct Exchange {
    std::uint64_t seq = 0;           // 1, 2, ... in request order
    bool has_conn = false;           // false for a trace file: one conversation
    std::uint32_t conn = 0;
    std::string client, server;      // "addr:port", empty when not known
    std::uint16_t corr = 0;
    std::uint16_t command = 0;       // 0: no command seen (the input starts after it)
    bool has_request = false;        // a request DSS of it is in the input
    int record = 0;                  // where the request (or the first reply) begins
    int reply_record = 0;            // where the first reply begins; 0: no reply
    int sqlca_record = 0;            // where the SQLCA shown begins
    bool has_time = false;           // the request's record has a time
    double time = 0;
    bool has_first = false, has_last = false;
    double first_reply = 0, last_reply = 0;  // record times of the first and last reply
    bool has_sql = false;
    std::string sql;                 // UTF-8 where decodable, at most kTextBytes
    std::size_t sql_total = 0;       // its length in the input
    std::vector<std::uint16_t> replies;  // code points of the reply objects in order
    std::size_t replies_more = 0;    // past kMaxReplyNames
    int svrcod = -1;                 // highest SVRCOD of the reply messages
    std::uint16_t svrcod_cp = 0;     // the reply message that carried it
    bool has_sqlca = false;
    std::int32_t sqlcode = 0;
    std::string sqlstate;            // as decoded; "00000" for a null SQLCA
    std::vector<std::string> tokens;  // UTF-8 where decodable
    bool has_updated = false;
    std::int64_t updated = 0;
    bool has_rows = false;           // the replies carried countable rows
    std::uint64_t rows = 0;
    std::uint64_t bytes_out = 0, bytes_in = 0;
    std::uint64_t chain = 0;         // the request chain within its connection, from 1; 0: no request
    // Server time: from the later of the request's time and the last reply
    // of the exchange answered before it on the connection, to its last
    // reply. A chain answered in one buffer is charged once, to its first
    // exchange.
    bool has_server = false;
    double server_ms = 0;
    bool has_user = false;           // the connection's USRID, as sent by the end of the exchange
    std::string user;
    // The records that hold its request and reply DSSs, in order.
    std::vector<RecordSpan> records;
    // The package section its command names (PKGNAMCSN) as a hash, so that
    // the prepare, open, fetches and close of one statement can be told
    // together; 0: none named.
    std::uint64_t section = 0;

    bool replied() const { return reply_record != 0; }
    // A negative SQLCODE or a reply message of severity ERROR (8) or worse.
    bool failed() const { return (has_sqlca && sqlcode < 0) || svrcod >= 8; }
};

// How a connection was seen to end.
enum class ConnEnd : std::uint8_t {
    end_of_input,  // a trace file (or a stream) ended
    fin_client, fin_server, rst_client, rst_server,
    still_open,    // open at the end of the capture
    dropped,       // no longer followed: too many connections at once
    idle,          // no longer followed: idle for too long
    replaced,      // a new connection began on the same ports
    interrupted,   // the run was stopped by a signal
};

// What a conversation's own traffic says about its connection.
struct ConnectionInfo {
    bool has_conn = false;           // false for a trace file: one conversation
    std::uint32_t conn = 0;
    std::string client, server;      // "addr:port", empty when not known
    std::string user;                // USRID (never a password or token)
    std::string database;            // RDBNAM
    std::string client_product;      // SRVRLSLV or EXTNAM of EXCSAT, else PRDID of ACCRDB
    std::string server_product;      // SRVRLSLV of EXCSATRD, else PRDID of ACCRDBRM
    std::string secmec;              // the security mechanism by name (or number)
    bool has_start = false, has_end = false;
    double start = 0, end = 0;       // times of its first and last record
    ConnEnd how = ConnEnd::end_of_input;
};

// What the input is and what it lacked, for the summary's overview.
struct InputInfo {
    std::string kind;                // "trace file", "pcap capture, link type 1", "pcapng capture"
    std::uint64_t missing_bytes = 0; // bytes of connections not in the capture
    std::uint64_t gaps = 0;          // places where they were missing
    std::uint32_t snaplen = 0;       // the length packets were cut to when captured
    std::uint64_t cut_packets = 0;   // packets cut so
    std::uint64_t packets = 0;       // packets read
    std::uint64_t tls_keyed = 0;     // TLS connections decrypted
    std::uint64_t tls_unkeyed = 0;   // TLS connections not decrypted
    std::string selection;           // the selection options shown (-c, -n, ...); empty: all
};

// What the tracker counted beside the exchanges.
struct Totals {
    std::uint64_t exchanges = 0;
    std::uint64_t unreadable_bytes = 0;   // bytes no DSS or object could be read from
    std::uint64_t unreadable_places = 0;  // places where that happened
    std::uint64_t uncounted = 0;          // row objects whose rows could not be counted
    std::uint64_t forced = 0;             // exchanges printed early: too many open
};

class ExchangeSink {
public:
    virtual ~ExchangeSink() = default;
    // An exchange once complete (or forced out): in request order within
    // its connection.
    virtual void exchange(const Exchange& e) = 0;
    // A connection, once it ended and after all its exchanges.
    virtual void connection(const ConnectionInfo&) {}
    // What the input was, before finish.
    virtual void input(const InputInfo&) {}
    // After the last exchange.
    virtual void finish(const Totals& totals) = 0;
};

}  // namespace drda::summary
