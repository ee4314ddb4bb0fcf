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

    bool replied() const { return reply_record != 0; }
    // A negative SQLCODE or a reply message of severity ERROR (8) or worse.
    bool failed() const { return (has_sqlca && sqlcode < 0) || svrcod >= 8; }
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
    // An exchange, in request order, once complete (or forced out).
    virtual void exchange(const Exchange& e) = 0;
    // After the last exchange.
    virtual void finish(const Totals& totals) = 0;
};

}  // namespace drda::summary
