#pragma once
// The SQL Server query component: TCustomMSDataSet (cursor type, command time-out, options)
// and TMSQuery, the component the application places on its windows.

#include "dataaccess/DADataSet.h"
#include "dataaccess/MSAccess.h"

namespace kv::dataaccess {

enum TMSCursorType : int { ctDefaultResultSet, ctStatic, ctKeyset, ctDynamic, ctBaseTable };

class TMSDataSetOptions : public TPersistent {
public:
    std::string ClassName() const override { return "TMSDataSetOptions"; }
    void Assign(TPersistent* Source) override;

    bool AutoPrepare = false;
    bool QueryRecCount = false;
    bool NonBlocking = false;
    bool DisableMultipleResults = false;
    bool LocalMasterDetail = false;
    bool UniqueRecords = false;
    bool CursorUpdate = true;
    bool QueryIdentity = true;
    bool DMLRefresh = false;
    bool AutoRefresh = false;
    int AutoRefreshInterval = 60;
    bool StrictUpdate = true;
    bool LongStrings = true;
    bool TrimFixedChar = true;
    bool FlatBuffers = false;
    bool QuoteNames = false;
    int UpdateBatchSize = 1;
};

class TCustomMSDataSet : public TCustomDADataSet {
public:
    explicit TCustomMSDataSet(TComponent* AOwner);
    ~TCustomMSDataSet() override;
    std::string ClassName() const override { return "TCustomMSDataSet"; }

    TCustomMSConnection* MSConnection() const {
        return dynamic_cast<TCustomMSConnection*>(Connection());
    }
    void SetMSConnection(TCustomMSConnection* Value) { SetConnection(Value); }
    TMSCursorType CursorType() const { return FCursorType; }
    void SetCursorType(TMSCursorType Value);
    int CommandTimeout() const { return Statement().Command().CommandTimeout; }
    void SetCommandTimeout(int Value) { Statement().Command().CommandTimeout = Value; }
    TMSDataSetOptions* Options() { return &FOptions; }

protected:
    void CheckSQL() override;
    bool WantsServerRecordCount() const override {
        return FOptions.QueryRecCount && (!FetchAll() || FOptions.NonBlocking);
    }
    bool KeepsServerRecordCount() const override { return FOptions.NonBlocking; }
    using TCustomDADataSet::Statement;
    const TCustomDASQL& Statement() const {
        return const_cast<TCustomMSDataSet*>(this)->Statement();
    }

private:
    TMSCursorType FCursorType = ctDefaultResultSet;
    TMSDataSetOptions FOptions;
};

class TMSQuery : public TCustomMSDataSet {
public:
    explicit TMSQuery(TComponent* AOwner);
    ~TMSQuery() override;
    std::string ClassName() const override { return "TMSQuery"; }
};

} // namespace kv::dataaccess
