// SPDX-License-Identifier: Apache-2.0
// The -r row decoder of one trace: the state carried from buffer to buffer
// (TYPDEFs, SQLAM level, requests by correlator, open queries with their
// descriptors and row cursors, statement texts, a cut DSS per side) and the
// lines it inserts into the -f output.
//
// It walks every buffer on its own (joining continued DSSs and DSSs cut at
// a buffer end), lazily: when the -f decoder reports an object done, the
// walk catches up to that object. Lines of an object that the -f decoder
// printed whole go right under it; lines of one it did not print go into a
// group at depth 4 opened by a "ROWS: from ..." heading.
#pragma once

#include <memory>

#include "ddm/decode_observer.h"

namespace drda::rows {

class Conversation final : public DecodeObserver {
public:
    Conversation();
    ~Conversation() override;
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    void buffer_begin(TextWriter& out, int direction, ByteView record, ByteView carried) override;
    void continued_dss(TextWriter& out, ByteView dss) override;
    void object_done(TextWriter& out, std::uint16_t cp, ByteView object, ByteView value, int value_depth) override;
    void buffer_end(TextWriter& out) override;
    // Bytes of one side are not in the input (a capture's gap): its cut DSS
    // is dropped; after server bytes, open queries are no longer decoded.
    void bytes_missing(bool server_side);

    struct State;  // defined in conversation.cpp

private:
    std::unique_ptr<State> s_;
};

}  // namespace drda::rows
