#include "dataaccess/DADataSet.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/OLEDBAccess.h"
#include "dataaccess/OLEDBParamBuffer.h"
#include "dataaccess/RecCountSQL.h"
#include "toolkit/DB.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

namespace {

// The first column of the first row of Rowset as a number; -1 when there is none.
std::int64_t firstNumber(IRowset* Rowset) {
    kv::oledb::ComPtr<IAccessor> accessors;
    HACCESSOR accessor = 0;
    DBBINDING b{};
    b.iOrdinal = 1;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.wType = DBTYPE_WSTR;
    b.obStatus = 0;
    b.obLength = 8;
    b.obValue = 16;
    b.cbMaxLen = 64;
    if (FAILED(kv::oledb::ComPtr<IRowset>::share(Rowset).as(IID_IAccessor, accessors)) ||
        !accessors ||
        FAILED(accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 16 + 64, &accessor, nullptr)))
        return -1;
    std::int64_t result = -1;
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    if (SUCCEEDED(Rowset->GetNextRows(0, 0, 1, &obtained, &rows)) && obtained == 1) {
        unsigned char buffer[16 + 64] = {};
        DBSTATUS status = DBSTATUS_E_UNAVAILABLE;
        if (SUCCEEDED(Rowset->GetData(rows[0], accessor, buffer)))
            std::memcpy(&status, buffer, sizeof status);
        if (status == DBSTATUS_S_OK) {
            DBLENGTH length = 0;
            std::memcpy(&length, buffer + 8, sizeof length);
            kv::oledb::OleString text(std::min<DBLENGTH>(length, 62) / sizeof(OLECHAR), OLECHAR{});
            std::memcpy(text.data(), buffer + 16, text.size() * sizeof(OLECHAR));
            result =
                std::strtoll(kv::oledb::fromOle(text.data(), text.size()).c_str(), nullptr, 10);
        }
        Rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
    }
    CoTaskMemFree(rows);
    accessors->ReleaseAccessor(accessor, nullptr);
    return result;
}

// Runs the count query straight on the provider and gives the count, or -1 when the server
// refuses it. A select that cannot stand as a derived table ("select count(*) from t" has a
// column without a name, "select a, a from t" names one twice) is no error of the dataset's,
// which then counts the rows it fetched; the count's failure goes nowhere. A failure that
// matters (a lost link) meets the statement itself right after.
std::int64_t countQuietly(TOLEDBConnection* Session, const std::string& Text, TDAParams& Params) {
    using kv::oledb::ComPtr;
    std::int64_t result = -1;
    ComPtr<IDBCreateCommand> factory;
    ComPtr<ICommandText> command;
    try {
        const TParamScanResult scan = ScanParams(Text);
        if (Session == nullptr || Session->SessionProperties() == nullptr ||
            FAILED(ComPtr<ISessionProperties>::share(Session->SessionProperties())
                       .as(IID_IDBCreateCommand, factory)) ||
            !factory ||
            FAILED(factory->CreateCommand(nullptr, IID_ICommandText, command.putUnknown())) ||
            !command ||
            FAILED(command->SetCommandText(DBGUID_DEFAULT,
                                           kv::oledb::toOle(scan.CommandText).c_str())))
            return -1;
        TParamDescs descs;
        for (const std::string& name : scan.Names)
            descs.push_back(std::make_unique<TParamDesc>(name));
        TOLEDBParamBuffer buffer;
        buffer.Bind(descs, Params);
        DBPARAMS params{};
        ComPtr<IAccessor> accessors;
        HACCESSOR accessor = 0;
        if (!buffer.Empty()) {
            if (FAILED(command.as(IID_IAccessor, accessors)) || !accessors ||
                FAILED(accessors->CreateAccessor(DBACCESSOR_PARAMETERDATA, buffer.Bindings().size(),
                                                 buffer.Bindings().data(), 0, &accessor, nullptr)))
                return -1;
            params.pData = buffer.Data();
            params.cParamSets = 1;
            params.hAccessor = accessor;
        }
        DBROWCOUNT affected = -1;
        ComPtr<IUnknown> outcome;
        const HRESULT hr =
            command->Execute(nullptr, IID_IMultipleResults, params.pData ? &params : nullptr,
                             &affected, outcome.put());
        if (accessors)
            accessors->ReleaseAccessor(accessor, nullptr);
        ComPtr<IMultipleResults> results;
        if (SUCCEEDED(hr) && outcome && SUCCEEDED(outcome.as(IID_IMultipleResults, results)) &&
            results) {
            for (int guard = 0; guard < 100; ++guard) {
                ComPtr<IUnknown> next;
                if (results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected,
                                       next.put()) != S_OK)
                    break;
                ComPtr<IRowset> rowset;
                if (next && SUCCEEDED(next.as(IID_IRowset, rowset)) && rowset) {
                    result = firstNumber(rowset.get());
                    break;
                }
            }
        }
    } catch (const Exception&) {
        result = -1; // the count's text does not scan
    }
    ComPtr<IErrorInfo> dropped;
    GetErrorInfo(0, dropped.put());
    return result;
}

} // namespace

std::int64_t TCustomDADataSet::QueryServerRecordCount() {
    const std::optional<std::string> text = RecCountSQL(FinalSQL());
    if (!text)
        return -1; // RecordCount counts the fetched rows
    return countQuietly(Session(), *text, Params());
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
