// SPDX-License-Identifier: Apache-2.0
// The exchange tracker: fed with every record of the input (a trace file
// or a capture), it follows each connection's DSSs (joining those cut at a
// record end or continued in segments), pairs requests with their replies
// by correlator (first in, first out), and hands each exchange to a sink
// once it and every exchange asked before it on its connection are
// complete: in request order within a connection, in the order they
// complete across connections.
//
// It reads only what the summary needs: command and reply names, SVRCOD,
// SQLCARDs, statement texts (SQLSTT, or the text prepared earlier for the
// same package section), and counts rows of QRYDTA and SQLDTARD through
// the row cursor. Its state is bounded: open exchanges, connections,
// statement texts and queries have fixed caps.
#pragma once

#include <memory>

#include "common/record.h"
#include "summary/exchange.h"

namespace drda::summary {

// Exchanges waiting to be handed on, in all connections together: a
// memory bound (a waiting exchange is 256 bytes of figures, a few reply
// names and record spans, and references to the statement text and user
// it shares; so about 250 MiB at the bound, plus what the few with long
// reply groups or their own TYPDEFs keep apart), not a limit any real
// concurrency reaches. Past it the oldest is handed on before its end.
inline constexpr std::size_t kMaxOpenExchanges = 1000000;
// Connections followed at once; past it the one idle longest is ended.
inline constexpr std::size_t kMaxConnections = 4096;
// Statement texts of package sections (each at most kTextBytes) and open
// queries, of all connections together; past them the one used least
// recently is forgotten.
inline constexpr std::size_t kMaxTexts = 16384;
inline constexpr std::size_t kMaxQueries = 4096;

class ExchangeTracker {
public:
    // `max_waiting`: exchanges waiting at once before the oldest is handed
    // on before its end.
    explicit ExchangeTracker(ExchangeSink& sink, std::size_t max_waiting = kMaxOpenExchanges);
    ~ExchangeTracker();
    ExchangeTracker(const ExchangeTracker&) = delete;
    ExchangeTracker& operator=(const ExchangeTracker&) = delete;

    void feed(const Record& rec);
    // Bytes of rec.connection in rec.direction are missing (a capture's
    // gap): a DSS cut before them is lost.
    void gap(const Record& rec);
    // rec.connection is over (`how` says why): its exchanges are complete,
    // its state is dropped.
    void closed(const Record& rec, ConnEnd how);
    // Hands on every exchange still open, then every connection still
    // followed (ended as `how`), and ends the sink.
    void finish(ConnEnd how = ConnEnd::end_of_input);

    struct State;

private:
    std::unique_ptr<State> s_;
};

}  // namespace drda::summary
