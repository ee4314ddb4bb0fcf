// SPDX-License-Identifier: Apache-2.0
// Decoders of coded values: each shows the meaning of the code in words.
#pragma once

#include "ddm/printers.h"

namespace drda {

// Reply message and security codes.
void print_svrcod(TextWriter& out, int depth, ByteView value);
void print_synerrcd(TextWriter& out, int depth, ByteView value);
void print_prccnvcd(TextWriter& out, int depth, ByteView value);
void print_deperrcd(TextWriter& out, int depth, ByteView value);
void print_dscerrcd(TextWriter& out, int depth, ByteView value);
void print_secchkcd(TextWriter& out, int depth, ByteView value);
void print_secmec(TextWriter& out, int depth, ByteView value);
void print_encalg(TextWriter& out, int depth, ByteView value);
void print_enckeylen(TextWriter& out, int depth, ByteView value);

// Sync point, XA and query attribute codes.
void print_synctype(TextWriter& out, int depth, ByteView value);
void print_rsynctyp(TextWriter& out, int depth, ByteView value);
void print_uowstate(TextWriter& out, int depth, ByteView value);
void print_typsqlda(TextWriter& out, int depth, ByteView value);
void print_xaretval(TextWriter& out, int depth, ByteView value);
void print_xaflags(TextWriter& out, int depth, ByteView value);
void print_rslsetflg(TextWriter& out, int depth, ByteView value);
void print_uowdsp(TextWriter& out, int depth, ByteView value);
void print_cmmtyp(TextWriter& out, int depth, ByteView value);
void print_outovropt(TextWriter& out, int depth, ByteView value);
void print_pkgathrul(TextWriter& out, int depth, ByteView value);
void print_qryattsns(TextWriter& out, int depth, ByteView value);
void print_qryattupd(TextWriter& out, int depth, ByteView value);
void print_qryscrorn(TextWriter& out, int depth, ByteView value);
void print_rtnextdta(TextWriter& out, int depth, ByteView value);

}  // namespace drda
