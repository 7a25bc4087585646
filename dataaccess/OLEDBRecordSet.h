#pragma once
// TOLEDBRecordSet: the cursor over one provider rowset. It reads the column descriptions,
// binds every column as text through one row accessor (a value longer than its slot is read
// again whole), and copies rows into the record cache
// one fetch round at a time, releasing the row handles after every round.

#include "dataaccess/MemData.h"
#include "platform/oledb/com_lite.h"

class TComponent;

namespace kv::dataaccess {

class TOLEDBConnection;

enum TCommandType { ctUnknown, ctNoResultSet, ctResultSet };

class TOLEDBRecordSet : public TMemData {
public:
    TOLEDBRecordSet();
    ~TOLEDBRecordSet() override;
    TOLEDBRecordSet(const TOLEDBRecordSet&) = delete;
    TOLEDBRecordSet& operator=(const TOLEDBRecordSet&) = delete;

    TCommandType CommandType() const { return FCommandType; }
    void SetCommandType(TCommandType Value) { FCommandType = Value; }

    // Takes the rowset, reads its columns and creates the row accessor. Errors go through the
    // session's error path with Component as the failing object.
    void Open(kv::oledb::ComPtr<IRowset> Rowset, TOLEDBConnection* Session, TComponent* Component);
    bool HasRowset() const { return static_cast<bool>(FRowset); }
    int ColumnCount() const { return static_cast<int>(Fields().size()); }
    // One round of up to FetchRows rows; the number obtained. A round that obtains none
    // releases the rowset.
    int FetchRound(int FetchRows);
    void ReleaseRowset();

private:
    TRecord ReadRecord(const kv::oledb::ComPtr<IRowset>& Rowset, HROW Row,
                       const std::vector<DBBINDING>& Bindings,
                       const std::vector<unsigned char>& Buffer);
    std::string ReadLongValue(const kv::oledb::ComPtr<IRowset>& Rowset, HROW Row,
                              const DBBINDING& Binding, DBLENGTH Length);

    TCommandType FCommandType = ctUnknown;
    kv::oledb::ComPtr<IRowset> FRowset;
    kv::oledb::ComPtr<IAccessor> FAccessor;
    HACCESSOR FHAccessor = 0;
    std::vector<DBBINDING> FBindings;
    std::size_t FRowSize = 0;
    TOLEDBConnection* FSession = nullptr;
    TComponent* FComponent = nullptr;
};

} // namespace kv::dataaccess
