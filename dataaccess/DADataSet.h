#pragma once
// TCustomDADataSet: a dataset that runs SQL text on a connection. Execute runs the text as one
// batch and, when the batch returns rows, leaves the dataset open on them; Open runs it and
// reads its first result set into memory in FetchRows rounds. Both hold a use of the
// connection while they work (AcquireLink / ReleaseLink); a cursor with unread rows keeps that
// hold until it is closed. After a failure the dataset is closed, its provider objects are
// released and the text and parameters stay, so the statement can run again.

#include "dataaccess/DASQL.h"
#include "dataaccess/DBAccess.h"
#include "dataaccess/MemDS.h"

#include <functional>

namespace kv::dataaccess {

class TCustomDADataSet;

using TAfterExecuteEvent = std::function<void(TObject* Sender, bool Result)>;
using TBeforeFetchEvent = std::function<void(TCustomDADataSet* DataSet, bool& Cancel)>;
using TAfterFetchEvent = std::function<void(TCustomDADataSet* DataSet)>;

class TCustomDADataSet : public TMemDataSet,
                         public IDAConnectionClient,
                         public IMonitoredStatement {
public:
    explicit TCustomDADataSet(TComponent* AOwner);
    ~TCustomDADataSet() override;
    std::string ClassName() const override { return "TCustomDADataSet"; }

    TCustomDAConnection* Connection() const { return FConnection; }
    void SetConnection(TCustomDAConnection* Value);

    TStringList* SQL() { return FStatement.SQL(); }
    TDAParams& Params() { return FStatement.Params(); }
    TMacros& Macros() { return FStatement.Macros(); }
    bool ParamCheck() const { return FStatement.ParamCheck(); }
    void SetParamCheck(bool Value) { FStatement.SetParamCheck(Value); }
    std::string FinalSQL() const { return FStatement.FinalSQL(); }
    TCustomDASQL& Statement() { return FStatement; }

    bool Debug() const { return FDebug; }
    void SetDebug(bool Value) { FDebug = Value; }
    int FetchRows() const { return FFetchRows; }
    void SetFetchRows(int Value);
    bool FetchAll() const { return FFetchAll; }
    void SetFetchAll(bool Value);
    bool UniDirectional() const { return FUniDirectional; }
    void SetUniDirectional(bool Value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    bool AutoPrepare = false;

    TAfterExecuteEvent AfterExecute;
    TBeforeFetchEvent BeforeFetch;
    TAfterFetchEvent AfterFetch;

    void Execute();
    void Prepare();
    void Unprepare();
    bool Prepared() const { return FStatement.Command().Prepared(); }
    bool Executing() const { return FStatement.Command().Executing(); }
    // Stops a statement that runs on another thread (Execute, Open or a fetch): the running
    // call raises the provider's cancel error through the connection's error path.
    void BreakExec() { FStatement.Command().Cancel(); }
    std::int64_t RowsAffected() const { return FRowsAffected; }
    // Reads the next round of rows of a cursor opened without FetchAll.
    bool FetchNext();
    bool Fetched() const { return !RecordSet().HasRowset(); }
    // The server's count when it was asked for at open and not all rows are read (or the
    // dataset reads without blocking); otherwise the rows held in memory.
    int RecordCount() const override;

    // IDAConnectionClient
    void ConnectChange(bool Connecting) override;
    void SessionChanged(TPVConnection* Session) override;
    bool CanReconnect(TConnLostCause Cause, TComponent* ErrorComponent) const override;
    bool HoldsPendingResults() const override;
    // IMonitoredStatement
    TComponent* MonitorConnection() const override { return FConnection; }
    bool GetDebug() const override { return FDebug; }
    bool IsDataSet() const override { return true; }
    std::int64_t MonitorRowsAffected() const override { return FRowsAffected; }

protected:
    void OpenCursor() override;
    void CloseCursor() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // Checks before a statement runs ("No SQL statement provided" for SQL Server datasets).
    virtual void CheckSQL() {}
    // Whether Open asks the server for the row count with a separate query.
    virtual bool WantsServerRecordCount() const { return false; }
    // Whether the server's count stands even when all rows are read.
    virtual bool KeepsServerRecordCount() const { return false; }
    const TOLEDBRecordSet& RecordSet() const { return Data(); }
    using TMemDataSet::RecordSet;

private:
    TOLEDBConnection* Session() const;
    void CheckConnection();
    void TraceExecute(bool Before);
    // Opens on a rowset the command returned, and fetches as FetchAll asks.
    void OpenOnRowset(kv::oledb::ComPtr<IRowset> Rowset);
    void FetchAllRows();
    bool FetchRound();
    void ReleaseCursorHold();
    void Fail();
    // Steps of Execute after the link is held; Held turns false once the hold is handed on,
    // Reported turns true once AfterExecute has told the completion.
    void RunExecute(bool& Held, bool& Reported);
    // Drops the statement's provider objects after the link was re-opened for a retry.
    void RestoreAfterFailOver();
    // Runs the count query for the current text and parameters.
    std::int64_t QueryServerRecordCount();

    TCustomDAConnection* FConnection = nullptr;
    TCustomDASQL FStatement;
    bool FDebug = false;
    int FFetchRows = 25;
    bool FFetchAll = true;
    bool FUniDirectional = false;
    bool FReadOnly = false;
    bool FInExecute = false;
    bool FCursorHold = false;
    std::int64_t FRowsAffected = -1;
    std::int64_t FServerRecordCount = -1; // -1: not asked for
    std::uint32_t FTraceID = 0;
};

} // namespace kv::dataaccess
