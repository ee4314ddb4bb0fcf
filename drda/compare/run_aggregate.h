// SPDX-License-Identifier: Apache-2.0
// What one run (one input of --compare) says, from its finished exchanges:
// the executions of its statements by shape, its errors, the facts of its
// connections and the overall figures. Fed through the same sink as the
// -s and -j views, once per input; every part has a cap.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "summary/exchange.h"
#include "summary/figures.h"
#include "summary/shapes.h"

namespace drda::compare {

// Executions waiting for their statement's next exchange, in all
// connections together; past it the oldest is counted as it stands.
inline constexpr std::size_t kMaxOpenExecutions = 4096;
// Distinct values of each connection fact kept.
inline constexpr std::size_t kMaxFactValues = 64;

// One distinct error: the SQLCODE as -s shows it (or the reply message and
// its severity) and the SQLSTATE, with where it first came.
struct ErrorKind {
    std::string error, sqlstate;
    std::uint64_t count = 0;
    int record = 0;
    bool has_conn = false;
    std::uint32_t conn = 0;
};

// The facts a connection states about itself, by kind.
enum class Fact : std::uint8_t { user, database, client_product, server_product, secmec };
inline constexpr int kFactKinds = 5;

struct RunAggregate {
    std::string name;                 // the input as named on the command line
    summary::InputInfo input;
    summary::Figures figures;         // exchanges, failed, rows, first and last time
    std::uint64_t connections = 0;
    std::uint64_t executions = 0;
    std::uint64_t forced = 0;         // executions ended early: too many open
    summary::ShapeStats all;          // server time of every execution
    summary::ShapeTable shapes;       // executions by shape
    std::vector<ErrorKind> errors;
    std::uint64_t errors_more = 0;    // failures of kinds past kMaxErrorKinds
    // Each fact's values with the number of connections that stated them.
    std::map<std::string, std::uint64_t> facts[kFactKinds];
    std::uint64_t facts_more = 0;     // values past kMaxFactValues
    bool finished = false;
    summary::Totals totals;
};

// Groups a run's exchanges into executions and adds them to a RunAggregate.
// An execution of a statement holds its prepare, describe, open or execute,
// and every continuation and close of its query (the exchanges that name
// the same package section on one connection); its server time is theirs
// summed. A new prepare, open or execute of the section, the close of its
// query, or the end of the connection ends it.
class RunCollector final : public summary::ExchangeSink {
public:
    explicit RunCollector(RunAggregate& run) : run_(run) {}
    void exchange(const summary::Exchange& e) override;
    void connection(const summary::ConnectionInfo& c) override;
    void input(const summary::InputInfo& info) override { run_.input = info; }
    void finish(const summary::Totals& totals) override;

private:
    struct Execution {
        std::uint64_t stamp = 0;
        bool has_sql = false;
        std::string sql;
        bool ran = false;       // an open or execute is in it
        bool failed = false;
        std::uint64_t rows = 0;
        bool timed = false;
        double ms = 0;
    };
    using Key = std::pair<std::uint32_t, std::uint64_t>;  // connection, section
    void add(Execution& x, const summary::Exchange& e);
    void end(std::map<Key, Execution>::iterator it);
    void count(const Execution& x);

    RunAggregate& run_;
    std::map<Key, Execution> open_;
    std::uint64_t stamp_ = 0;
};

}  // namespace drda::compare
