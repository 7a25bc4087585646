#pragma once
// TMemData: the in-memory record cache under a dataset. Rows arrive in blocks (one per fetch
// round) and are kept as text values with a null flag per field, which is all the layer's
// users read back; the field descriptors keep the provider's column type for callers that
// need it.

#include "dataaccess/DAParams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv::dataaccess {

struct TFieldDesc {
    std::string Name;
    TFieldType DataType = ftUnknown;
    std::uint16_t ProviderType = 0; // the OLE DB DBTYPE of the column
    std::size_t Size = 0;
    bool Required = false;
};

struct TFieldValue {
    bool IsNull = true;
    std::string Text;
};

using TRecord = std::vector<TFieldValue>;

class TMemData {
public:
    virtual ~TMemData();

    const std::vector<TFieldDesc>& Fields() const { return FFields; }
    void SetFields(std::vector<TFieldDesc> Fields) { FFields = std::move(Fields); }
    int FieldIndex(std::string_view Name) const; // -1 when missing

    // Appends one fetch round's rows as a block.
    void AddBlock(std::vector<TRecord> Rows);
    int RecordCount() const { return static_cast<int>(FRecordCount); }
    int BlockCount() const { return static_cast<int>(FBlocks.size()); }
    const TRecord& Record(int Index) const;
    void Clear();

private:
    std::vector<TFieldDesc> FFields;
    std::vector<std::vector<TRecord>> FBlocks;
    std::size_t FRecordCount = 0;
};

// The field type of an OLE DB column type.
TFieldType FieldTypeOf(std::uint16_t ProviderType);

} // namespace kv::dataaccess
