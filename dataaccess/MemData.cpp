#include "dataaccess/MemData.h"

#include "platform/oledb/oledb.h"
#include "toolkit/SysUtils.h"

#include <stdexcept>

namespace kv::dataaccess {

TMemData::~TMemData() = default;

int TMemData::FieldIndex(std::string_view Name) const {
    for (std::size_t i = 0; i < FFields.size(); ++i)
        if (SameText(FFields[i].Name, Name))
            return static_cast<int>(i);
    return -1;
}

void TMemData::AddBlock(std::vector<TRecord> Rows) {
    FRecordCount += Rows.size();
    FBlocks.push_back(std::move(Rows));
}

const TRecord& TMemData::Record(int Index) const {
    if (Index < 0)
        throw std::out_of_range("record index");
    auto i = static_cast<std::size_t>(Index);
    for (const auto& block : FBlocks) {
        if (i < block.size())
            return block[i];
        i -= block.size();
    }
    throw std::out_of_range("record index");
}

void TMemData::Clear() {
    FBlocks.clear();
    FRecordCount = 0;
}

TFieldType FieldTypeOf(std::uint16_t t) {
    switch (t) {
    case DBTYPE_I2:
    case DBTYPE_I1:
    case DBTYPE_UI1:
        return ftSmallint;
    case DBTYPE_I4:
        return ftInteger;
    case DBTYPE_UI2:
        return ftWord;
    case DBTYPE_I8:
    case DBTYPE_UI4:
    case DBTYPE_UI8:
        return ftLargeint;
    case DBTYPE_BOOL:
        return ftBoolean;
    case DBTYPE_R4:
    case DBTYPE_R8:
        return ftFloat;
    case DBTYPE_CY:
        return ftCurrency;
    case DBTYPE_NUMERIC:
    case DBTYPE_DECIMAL:
        return ftBCD;
    case DBTYPE_DATE:
    case DBTYPE_DBTIMESTAMP:
        return ftDateTime;
    case DBTYPE_DBDATE:
        return ftDate;
    case DBTYPE_DBTIME:
        return ftTime;
    case DBTYPE_STR:
        return ftString;
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
        return ftWideString;
    case DBTYPE_BYTES:
        return ftVarBytes;
    case DBTYPE_GUID:
        return ftGuid;
    default:
        return ftUnknown;
    }
}

} // namespace kv::dataaccess
