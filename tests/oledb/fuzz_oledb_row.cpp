// Fuzz target: the provider's row reader and bindings. A value of a server type, as db-lib hands
// it over, is turned into the provider's neutral form, written into a consumer's row buffer for a
// binding of any type, parts and size, and (when it came out whole) read back as a parameter
// value. Nothing may be read or written outside the value's bytes or the binding's room.
//
// Input: byte 0 the server type, byte 1 the binding's type, byte 2 its parts and flags, byte 3
// its size; the rest is the value.
#include "platform/oledb/tds_link.h"

#define MSDBLIB 1
#include <sybfront.h>
// sybfront.h must come first.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sybdb.h>
#include <vector>

namespace {

const int kServerTypes[] = {SYBINT1,     SYBINT2,      SYBINT4,     SYBINT8,        SYBINTN,
                            SYBBIT,      SYBBITN,      SYBREAL,     SYBFLT8,        SYBFLTN,
                            SYBDATETIME, SYBDATETIME4, SYBDATETIMN, SYBBINARY,      SYBVARBINARY,
                            SYBIMAGE,    SYBCHAR,      SYBVARCHAR,  SYBTEXT,        SYBNTEXT,
                            SYBNVARCHAR, SYBMONEY,     SYBMONEY4,   SYBMONEYN,      SYBDECIMAL,
                            SYBNUMERIC,  SYBMSDATE,    SYBMSTIME,   SYBMSDATETIME2, 36};

const DBTYPE kBindingTypes[] = {DBTYPE_WSTR, DBTYPE_STR,         DBTYPE_BSTR,   DBTYPE_BYTES,
                                DBTYPE_GUID, DBTYPE_DBTIMESTAMP, DBTYPE_BOOL,   DBTYPE_R8,
                                DBTYPE_R4,   DBTYPE_VARIANT,     DBTYPE_I1,     DBTYPE_I2,
                                DBTYPE_I4,   DBTYPE_I8,          DBTYPE_UI1,    DBTYPE_UI2,
                                DBTYPE_UI4,  DBTYPE_UI8,         DBTYPE_NUMERIC};

// The room a binding's value takes in the row buffer: cbMaxLen for the variable-length types,
// the type's own size otherwise (OLE DB ignores cbMaxLen for those).
DBLENGTH valueRoom(const DBBINDING& b) {
    switch (b.wType) {
    case DBTYPE_WSTR:
    case DBTYPE_STR:
    case DBTYPE_BYTES:
        return b.cbMaxLen;
    case DBTYPE_BSTR:
        return sizeof(BSTR);
    case DBTYPE_VARIANT:
        return sizeof(VARIANT);
    case DBTYPE_GUID:
        return sizeof(GUID);
    case DBTYPE_DBTIMESTAMP:
        return sizeof(DBTIMESTAMP);
    default:
        return 8;
    }
}

void releaseValue(const DBBINDING& b, DBSTATUS status, BYTE* row) {
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED)
        return;
    if (!(b.dwPart & DBPART_VALUE))
        return;
    if (b.wType == DBTYPE_BSTR) {
        BSTR bstr = nullptr;
        std::memcpy(&bstr, row + b.obValue, sizeof bstr);
        SysFreeString(bstr);
    } else if (b.wType == DBTYPE_VARIANT) {
        VARIANT var;
        std::memcpy(&var, row + b.obValue, sizeof var);
        VariantClear(&var);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // db-lib's converter serves the money, decimal and date types. Its default error handler
    // ends the process on a value it cannot convert; the provider's own handler cancels the
    // conversion instead, and so does this one.
    dbinit();
    dberrhandle([](DBPROCESS*, int, int, int, char*, char*) { return INT_CANCEL; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::oledb;
    if (size < 4)
        return 0;
    const int serverType = kServerTypes[data[0] % std::size(kServerTypes)];
    DBBINDING b{};
    b.wType = kBindingTypes[data[1] % std::size(kBindingTypes)];
    b.dwPart = data[2] & (DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS);
    b.cbMaxLen = data[3];
    ColumnDesc column;
    column.type = data[2] & 0x80 ? DBTYPE_R8 : DBTYPE_WSTR;
    const bool isNull = (data[2] & 0x40) != 0;

    // The value lives in a buffer of exactly its size, so that any read past it is caught.
    const std::vector<BYTE> value(data + 4, data + size);
    const CellValue cell =
        tds::cellFromRowData(nullptr, serverType, isNull ? nullptr : value.data(),
                             static_cast<std::int32_t>(value.size()), column);

    // Row buffer: value, then length, then status, with nothing to spare.
    b.obValue = 0;
    b.obLength = valueRoom(b);
    b.obStatus = b.obLength + sizeof(DBLENGTH);
    std::vector<BYTE> row(b.obStatus + sizeof(DBSTATUS));
    const DBSTATUS status = writeBinding(b, cell, row.data());

    // What came out whole reads back as a parameter value.
    if (status == DBSTATUS_S_OK && (b.dwPart & DBPART_VALUE) &&
        (b.dwPart & DBPART_LENGTH || (b.wType != DBTYPE_STR && b.wType != DBTYPE_WSTR) ||
         b.cbMaxLen > 0)) {
        CellValue back;
        (void)readBinding(b, row.data(), back);
    }
    releaseValue(b, status, row.data());
    std::string text;
    (void)asText(cell, text);
    return 0;
}
