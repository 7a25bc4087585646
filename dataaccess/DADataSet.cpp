#include "dataaccess/DADataSet.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/OLEDBAccess.h"
#include "dataaccess/RecCountSQL.h"
#include "toolkit/DB.h"

#include <cstdlib>

namespace kv::dataaccess {

TCustomDADataSet::TCustomDADataSet(TComponent* AOwner) : TMemDataSet(AOwner), FStatement(nullptr) {
    FStatement.BeforeSQLChange = [this] {
        Close();
        Unprepare();
    };
    FStatement.Command().SetComponent(this);
}

TCustomDADataSet::~TCustomDADataSet() {
    try {
        Close();
    } catch (...) {
    }
    if (FConnection != nullptr) {
        TCustomDASQLMonitor::ObjectDestroyed(FConnection->SQLMonitor(), this);
        FConnection->UnRegisterClient(this);
    }
    FStatement.BeforeSQLChange = nullptr;
}

void TCustomDADataSet::SetConnection(TCustomDAConnection* Value) {
    if (Value == FConnection)
        return;
    Close();
    Unprepare();
    if (FConnection != nullptr) {
        FConnection->UnRegisterClient(this);
        RemoveFreeNotification(FConnection);
    }
    FConnection = Value;
    FStatement.Command().SetSession(nullptr);
    if (FConnection != nullptr) {
        FreeNotification(FConnection);
        FConnection->RegisterClient(this, false);
        FStatement.Command().SetSession(Session());
    }
}

void TCustomDADataSet::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent == FConnection) {
        FStatement.Command().SetSession(nullptr);
        FConnection = nullptr;
    }
    TMemDataSet::Notification(AComponent, Operation);
}

TOLEDBConnection* TCustomDADataSet::Session() const {
    return FConnection != nullptr ? dynamic_cast<TOLEDBConnection*>(FConnection->SessionObject())
                                  : nullptr;
}

void TCustomDADataSet::SetFetchRows(int Value) {
    if (Value < 1 || Value > 10000)
        DatabaseError(SFetchRowsRange);
    if (Active())
        return; // settable only while closed
    FFetchRows = Value;
}

void TCustomDADataSet::SetFetchAll(bool Value) {
    if (Value == FFetchAll)
        return;
    FFetchAll = Value;
    if (FFetchAll) {
        FUniDirectional = false;
        if (Active())
            FetchAllRows();
    }
}

void TCustomDADataSet::SetUniDirectional(bool Value) {
    if (Active() || Value == FUniDirectional)
        return;
    FUniDirectional = Value;
    if (FUniDirectional)
        FFetchAll = false;
}

void TCustomDADataSet::CheckConnection() {
    if (FConnection == nullptr)
        DatabaseError(SConnectionNotDefined);
}

void TCustomDADataSet::TraceExecute(bool Before) {
    TCustomDASQLMonitor* monitor = FConnection != nullptr ? FConnection->SQLMonitor() : nullptr;
    if ((monitor == nullptr && !FDebug) || (Before && FInExecute))
        return;
    TCustomDASQLMonitor::SQLExecute(monitor, this, FinalSQL(), &Params(), "", FTraceID, Before);
}

void TCustomDADataSet::Prepare() {
    if (Prepared())
        return;
    CheckConnection();
    FStatement.CheckScanned();
    FConnection->AcquireLink();
    try {
        FStatement.Command().SetSession(Session());
        std::uint32_t id = 0;
        TCustomDASQLMonitor::SQLPrepare(FConnection->SQLMonitor(), this, FinalSQL(), &Params(), id,
                                        true);
        FStatement.Command().Prepare();
        TCustomDASQLMonitor::SQLPrepare(FConnection->SQLMonitor(), this, FinalSQL(), &Params(), id,
                                        false);
    } catch (...) {
        FConnection->ReleaseLink();
        throw;
    }
    FConnection->ReleaseLink();
}

void TCustomDADataSet::Unprepare() {
    if (!Prepared())
        return;
    std::uint32_t id = 0;
    TCustomDASQLMonitor* monitor = FConnection != nullptr ? FConnection->SQLMonitor() : nullptr;
    TCustomDASQLMonitor::SQLUnprepare(monitor, this, FinalSQL(), &Params(), id, true);
    FStatement.Command().Unprepare();
    TCustomDASQLMonitor::SQLUnprepare(monitor, this, FinalSQL(), &Params(), id, false);
}

void TCustomDADataSet::Execute() {
    if (Executing())
        return;
    CheckConnection();
    CheckSQL();
    FStatement.CheckScanned();
    FConnection->AcquireLink();
    bool held = true;      // our hold of the link, until a cursor takes it over
    bool reported = false; // AfterExecute already told the command's completion
    internal::ConnectionGate::PushOperation(*FConnection, clExecute, this);
    try {
        if (Active())
            Close();
        for (;;) {
            try {
                reported = false;
                RunExecute(held, reported);
                break;
            } catch (const EFailOver& e) {
                // The link was re-opened by the error handling: run the statement again.
                if (e.ConnLostCause() != clExecute)
                    throw;
                StopWait();
                FInExecute = false;
                RestoreAfterFailOver();
            }
        }
    } catch (...) {
        internal::ConnectionGate::PopOperation(*FConnection);
        StopWait();
        FInExecute = false;
        Fail();
        // One report per execution: a fetch that fails after the command completed has
        // already been reported as a completed execution.
        if (AfterExecute && !reported)
            AfterExecute(this, false);
        if (held)
            FConnection->ReleaseLink();
        throw;
    }
    internal::ConnectionGate::PopOperation(*FConnection);
}

void TCustomDADataSet::RestoreAfterFailOver() {
    // The provider objects of the old link are gone; the statement starts afresh on the new
    // session.
    SetActiveFlag(false);
    RecordSet().ReleaseRowset();
    RecordSet().Clear();
    RecordSet().SetCommandType(ctUnknown);
    FStatement.Command().DrainResults();
    const bool prepared = Prepared();
    if (prepared)
        FStatement.Command().Unprepare();
    FStatement.Command().ReleaseProviderObjects();
    FStatement.Command().SetSession(nullptr);
}

void TCustomDADataSet::RunExecute(bool& Held, bool& Reported) {
    StartWait();
    FStatement.Command().SetSession(Session());
    if (AutoPrepare)
        Prepare();
    if (RecordSet().CommandType() == ctResultSet) {
        StopWait();
        Held = false;
        FConnection->ReleaseLink();
        Open();
        return;
    }
    TraceExecute(true);
    FInExecute = true;
    kv::oledb::ComPtr<IRowset> rowset;
    try {
        rowset = FStatement.Command().Execute(&Params());
    } catch (...) {
        FInExecute = false;
        throw;
    }
    FRowsAffected = FStatement.Command().RowsAffected();
    RecordSet().SetCommandType(rowset ? ctResultSet : ctNoResultSet);
    if (!rowset) {
        Held = false;
        FConnection->ReleaseLink();
    }
    Reported = true;
    if (AfterExecute)
        AfterExecute(this, true);
    if (rowset) {
        FCursorHold = true; // the cursor keeps the hold from here on
        Held = false;
        OpenOnRowset(std::move(rowset));
    }
    FInExecute = false;
    StopWait();
    TraceExecute(false);
}

void TCustomDADataSet::OpenCursor() {
    CheckConnection();
    CheckSQL();
    FStatement.CheckScanned();
    FConnection->AcquireLink();
    bool held = true;
    try {
        FStatement.Command().SetSession(Session());
        FServerRecordCount = WantsServerRecordCount() ? QueryServerRecordCount() : -1;
        TraceExecute(true);
        kv::oledb::ComPtr<IRowset> rowset = FStatement.Command().Execute(&Params());
        FRowsAffected = FStatement.Command().RowsAffected();
        RecordSet().SetCommandType(rowset ? ctResultSet : ctNoResultSet);
        if (!rowset)
            DatabaseError(SNotOneResultSet);
        FCursorHold = true;
        held = false;
        OpenOnRowset(std::move(rowset));
        TraceExecute(false);
    } catch (...) {
        Fail();
        if (held)
            FConnection->ReleaseLink();
        throw;
    }
}

std::int64_t TCustomDADataSet::QueryServerRecordCount() {
    const std::optional<std::string> text = RecCountSQL(FinalSQL());
    if (!text)
        return -1; // RecordCount counts the fetched rows
    TOLEDBCommand count;
    count.SetComponent(this);
    count.SetSession(Session());
    count.SetSQL(*text);
    kv::oledb::ComPtr<IRowset> rowset = count.Execute(&Params());
    if (!rowset)
        return -1;
    TOLEDBRecordSet rows;
    rows.Open(std::move(rowset), Session(), this);
    std::int64_t result = -1;
    if (rows.ColumnCount() > 0 && rows.FetchRound(1) > 0) {
        const TRecord& r = rows.Record(0);
        if (!r.empty() && !r[0].IsNull)
            result = std::strtoll(r[0].Text.c_str(), nullptr, 10);
    }
    rows.ReleaseRowset();
    count.DrainResults();
    count.ReleaseProviderObjects();
    return result;
}

int TCustomDADataSet::RecordCount() const {
    if (Active() && FServerRecordCount >= 0 && (!Fetched() || KeepsServerRecordCount()))
        return static_cast<int>(FServerRecordCount);
    return TMemDataSet::RecordCount();
}

void TCustomDADataSet::OpenOnRowset(kv::oledb::ComPtr<IRowset> Rowset) {
    RecordSet().Open(std::move(Rowset), Session(), this);
    SetActiveFlag(true);
    if (RecordSet().ColumnCount() == 0)
        DatabaseError(SNotOneResultSet);
    FStatement.Command().SetCursorState(FFetchAll ? csFetchingAll : csFetching);
    if (FFetchAll && !FUniDirectional)
        FetchAllRows();
    else
        FetchRound();
}

bool TCustomDADataSet::FetchRound() {
    if (!RecordSet().HasRowset())
        return false;
    bool cancel = false;
    if (BeforeFetch)
        BeforeFetch(this, cancel);
    if (cancel) {
        RecordSet().ReleaseRowset();
        FStatement.Command().SetCursorState(csFetched);
        ReleaseCursorHold();
        return false;
    }
    const int got = RecordSet().FetchRound(FFetchRows);
    if (AfterFetch)
        AfterFetch(this);
    if (got == 0) {
        FStatement.Command().SetCursorState(csFetched);
        // The statements after this result still run; their first error is raised here.
        FStatement.Command().FinishResults();
        FRowsAffected = FStatement.Command().RowsAffected();
        if (!Prepared())
            FStatement.Command().ReleaseProviderObjects();
        ReleaseCursorHold();
        return false;
    }
    return true;
}

void TCustomDADataSet::FetchAllRows() {
    while (FetchRound()) {
    }
}

bool TCustomDADataSet::FetchNext() {
    if (!Active())
        return false;
    try {
        return FetchRound();
    } catch (...) {
        Fail();
        throw;
    }
}

void TCustomDADataSet::ReleaseCursorHold() {
    if (!FCursorHold)
        return;
    FCursorHold = false;
    if (FConnection != nullptr)
        FConnection->ReleaseLink();
}

// After a failure: closed, result and provider objects released; text and parameters stay.
void TCustomDADataSet::Fail() {
    SetActiveFlag(false);
    FServerRecordCount = -1;
    RecordSet().ReleaseRowset();
    RecordSet().Clear();
    RecordSet().SetCommandType(ctUnknown);
    FStatement.Command().DrainResults();
    if (!Prepared())
        FStatement.Command().ReleaseProviderObjects();
    ReleaseCursorHold();
}

void TCustomDADataSet::CloseCursor() {
    TMemDataSet::CloseCursor();
    FServerRecordCount = -1;
    FStatement.Command().DrainResults();
    if (!Prepared())
        FStatement.Command().ReleaseProviderObjects();
    FStatement.Command().SetCursorState(Prepared() ? csPrepared : csInactive);
    RecordSet().SetCommandType(ctUnknown);
    ReleaseCursorHold();
}

void TCustomDADataSet::ConnectChange(bool Connecting) {
    if (Connecting)
        return;
    // A dataset whose rows are all in memory stays open when a disconnected-mode link
    // closes under it, also when that happens at the end of its own Execute; one that still
    // reads from the provider closes.
    if (FCursorHold || RecordSet().HasRowset() || FConnection == nullptr ||
        !FConnection->Options()->DisconnectedMode())
        Close();
}

void TCustomDADataSet::SessionChanged(TPVConnection* Session) {
    FStatement.Command().SetSession(dynamic_cast<TOLEDBConnection*>(Session));
}

bool TCustomDADataSet::CanReconnect(TConnLostCause Cause, TComponent* ErrorComponent) const {
    // A running statement or an open cursor cannot be carried over a new link unnoticed,
    // unless the failing statement is this one and it will run again.
    if (FInExecute || FStatement.Command().Executing())
        return Cause == clExecute && ErrorComponent == this;
    if (Active() && FCursorHold)
        return Cause == clRefresh && ErrorComponent == this;
    return true;
}

bool TCustomDADataSet::HoldsPendingResults() const {
    return FStatement.Command().HasPendingResults() || FInExecute;
}

} // namespace kv::dataaccess
