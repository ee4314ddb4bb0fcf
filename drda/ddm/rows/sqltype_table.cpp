// SPDX-License-Identifier: Apache-2.0
// The names SQLDA lines show for SQLTYPE values (even codes; the odd code
// above each is its nullable form). Sorted by code.
#include <cstdint>

#include "ddm/rows/sqlda_reader.h"

namespace drda::rows {
namespace {

struct SqltypeRow {
    std::uint16_t code;
    const char* name;
};

constexpr SqltypeRow kSqltypes[] = {
    {384, "DATE"},
    {388, "TIME"},
    {392, "TIMESTAMP"},
    {396, "DATALINK"},
    {404, "BLOB"},
    {408, "CLOB"},
    {412, "DBCLOB"},
    {448, "VARCHAR"},
    {452, "CHAR"},
    {456, "LONG VARCHAR"},
    {460, "NTS CHAR"},
    {464, "VARGRAPHIC"},
    {468, "GRAPHIC"},
    {472, "LONG VARGRAPHIC"},
    {476, "PASCAL CHAR"},
    {480, "FLOAT"},
    {484, "DECIMAL"},
    {488, "ZONED DECIMAL"},
    {492, "BIGINT"},
    {496, "INTEGER"},
    {500, "SMALLINT"},
    {504, "NUMERIC CHAR"},
    {904, "ROWID"},
    {908, "VARBINARY"},
    {912, "BINARY"},
    {960, "BLOB LOCATOR"},
    {964, "CLOB LOCATOR"},
    {968, "DBCLOB LOCATOR"},
    {972, "RESULT SET LOCATOR"},
    {988, "XML"},
    {996, "DECFLOAT"},
    {2000, "UDT"},
    {2436, "BOOLEAN"},
    {2444, "CURSOR TYPE"},
    {2448, "TIMESTAMP WITH TIME ZONE"},
};

}  // namespace

const char* sqltype_name(int sqltype) {
    const int even = sqltype & ~1;
    for (const SqltypeRow& r : kSqltypes)
        if (r.code == even) return r.name;
    return "SQLTYPE";
}

bool sqltype_table_ok() {
    int last = -1;
    for (const SqltypeRow& r : kSqltypes) {
        if ((r.code & 1) || r.code <= last) return false;
        last = r.code;
    }
    return true;
}

}  // namespace drda::rows
