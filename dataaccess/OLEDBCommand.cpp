#include "dataaccess/OLEDBCommand.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/OLEDBAccess.h"
#include "dataaccess/OLEDBProperties.h"
#include "toolkit/DB.h"

#include <cstdio>
#include <cstring>

namespace kv::dataaccess {

TOLEDBCommand::TOLEDBCommand() = default;

TOLEDBCommand::~TOLEDBCommand() {
    ReleaseProviderObjects();
}

void TOLEDBCommand::SetSession(TOLEDBConnection* Session) {
    if (Session == FSession)
        return;
    ReleaseProviderObjects();
    FSession = Session;
}

void TOLEDBCommand::SetSQL(const std::string& Text) {
    if (Text == FSQL && !FCommandText.empty())
        return;
    TParamScanResult scan = ScanParams(Text);
    if (FPrepared)
        Unprepare();
    ReleaseProviderObjects(); // a provider command keeps the text it was given
    FSQL = Text;
    FCommandText = std::move(scan.CommandText);
    FParamDescs.clear();
    for (std::string& n : scan.Names)
        FParamDescs.push_back(std::make_unique<TParamDesc>(std::move(n)));
}

void TOLEDBCommand::ClearSQL() {
    if (FPrepared)
        Unprepare();
    ReleaseProviderObjects();
    FSQL.clear();
    FCommandText.clear();
    FParamDescs.clear();
}

void TOLEDBCommand::EnsureCommand() {
    if (FCommand)
        return;
    if (FSession == nullptr || FSession->SessionProperties() == nullptr)
        DatabaseError(SConnectionNotDefined);
    kv::oledb::ComPtr<IDBCreateCommand> factory;
    FSession->CheckResult(
        kv::oledb::ComPtr<ISessionProperties>::share(FSession->SessionProperties())
            .as(IID_IDBCreateCommand, factory),
        FComponent);
    kv::oledb::ComPtr<ICommandText> command;
    FSession->CheckResult(factory->CreateCommand(nullptr, IID_ICommandText, command.putUnknown()),
                          FComponent);
    SetCommandObject(std::move(command));
    const kv::oledb::OleString text = kv::oledb::toOle(FCommandText);
    FSession->CheckResult(FCommand->SetCommandText(DBGUID_DEFAULT, text.c_str()), FComponent);
    SetProperties();
}

// The command time-out and the rowset shape of a default result set: client side, forward
// only, read to the end, no server cursor.
void TOLEDBCommand::SetProperties() {
    kv::oledb::ComPtr<ICommandProperties> props;
    if (FAILED(FCommand.as(IID_ICommandProperties, props)) || !props)
        return;
    TOLEDBPropertiesSet set(DBPROPSET_ROWSET);
    set.AddPropInt(DBPROP_COMMANDTIMEOUT, CommandTimeout);
    set.AddPropBool(DBPROP_SERVERCURSOR, false);
    FSession->CheckResult(props->SetProperties(1, set.Set()), FComponent);
}

void TOLEDBCommand::Prepare() {
    if (FPrepared)
        return;
    EnsureCommand();
    kv::oledb::ComPtr<ICommandPrepare> prepare;
    if (SUCCEEDED(FCommand.as(IID_ICommandPrepare, prepare)) && prepare)
        FSession->CheckResult(prepare->Prepare(0), FComponent);
    FPrepared = true;
    FCursorState = csPrepared;
}

void TOLEDBCommand::Unprepare() {
    if (!FPrepared)
        return;
    kv::oledb::ComPtr<ICommandPrepare> prepare;
    if (FCommand && SUCCEEDED(FCommand.as(IID_ICommandPrepare, prepare)) && prepare)
        prepare->Unprepare();
    FPrepared = false;
    FCursorState = csInactive;
    ReleaseProviderObjects();
}

void TOLEDBCommand::ReleaseProviderObjects() {
    FMultipleResults.reset();
    SetCommandObject({});
    FPrepared = false;
}

void TOLEDBCommand::SetCommandObject(kv::oledb::ComPtr<ICommandText> Command) {
    std::lock_guard lock(FCommandLock);
    FCommand = std::move(Command);
}

// A request belongs to the execution that runs when it is made. The layer keeps it for its own
// execution and checks it once more just before the provider's Execute, because the provider
// would ignore a request that reaches it before its Execute has started; and it passes it on
// to the provider, which stops its command while that runs (Execute, a result walk, a fetch).
// Made while nothing runs, a request has no effect.
void TOLEDBCommand::Cancel() {
    kv::oledb::ComPtr<ICommandText> command;
    {
        std::lock_guard lock(FCommandLock);
        if (FExecuting.load())
            FCancelRequested.store(true);
        command = FCommand;
    }
    if (command)
        command->Cancel();
}

namespace {

// A walk over the rest of a batch gives up after this many results, so that a provider that
// keeps answering with failures cannot hold the caller for ever.
constexpr int kMaxResults = 1000;

const char* bindStatusText(DBBINDSTATUS s) {
    switch (s) {
    case DBBINDSTATUS_BADORDINAL:
        return SInvalidParamType;
    case DBBINDSTATUS_UNSUPPORTEDCONVERSION:
        return SInvalidValue;
    case DBBINDSTATUS_BADBINDINFO:
        return SBadStatus;
    default:
        return SUnknownStatus;
    }
}

// The words for a parameter's status that the provider wrote back after a failed execution.
const char* paramStatusText(DBSTATUS s) {
    switch (s) {
    case DBSTATUS_E_BADACCESSOR:
        return SInvalidParamType;
    case DBSTATUS_E_CANTCONVERTVALUE:
        return SInvalidValue;
    case DBSTATUS_S_TRUNCATED:
        return SDataTruncated;
    case DBSTATUS_E_SIGNMISMATCH:
        return SSignMismatch;
    case DBSTATUS_E_DATAOVERFLOW:
        return SDataOverflow;
    case DBSTATUS_E_CANTCREATE:
        return SCantAllocateReturn;
    case DBSTATUS_E_INTEGRITYVIOLATION:
        return SIntegrityViolation;
    case DBSTATUS_E_SCHEMAVIOLATION:
        return SSchemaViolation;
    case DBSTATUS_E_BADSTATUS:
        return SBadStatus;
    default:
        return SUnknownStatus;
    }
}

// "Parameter[i] :name - words (Status = Xh)."; the index stands for the name when it is empty.
std::string paramFailureText(std::size_t Index, const std::string& Name, const char* Words,
                             unsigned Status) {
    const std::string shown = Name.empty() ? std::to_string(Index) : ":" + Name;
    char buf[512];
    std::snprintf(buf, sizeof buf, SParameterStatus, static_cast<int>(Index), shown.c_str(), Words,
                  Status);
    return buf;
}

} // namespace

// Raises the failure of the first parameter whose status the provider marked as failed.
void TOLEDBCommand::CheckParamStatuses(HRESULT hr) {
    for (std::size_t i = 0; i < FParamBuffer.Bindings().size() && i < FParamDescs.size(); ++i) {
        const DBSTATUS status = FParamBuffer.Status(i);
        if (status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL || status == DBSTATUS_S_DEFAULT)
            continue;
        FSession->RaiseLayerError(hr,
                                  paramFailureText(i, FParamDescs[i]->GetName(),
                                                   paramStatusText(status),
                                                   static_cast<unsigned>(status)),
                                  FComponent);
    }
}

kv::oledb::ComPtr<IRowset> TOLEDBCommand::Execute(TDAParams* Params) {
    EnsureCommand();
    {
        std::lock_guard lock(FCommandLock);
        FCancelRequested.store(false);
        FExecuting = true;
    }
    FCursorState = csExecuting;
    FRowsAffected = -1;
    FOutputPending = false;
    try {
        DBPARAMS dbParams{};
        kv::oledb::ComPtr<IAccessor> accessor;
        HACCESSOR hAccessor = 0;
        FParamBuffer = TOLEDBParamBuffer();
        if (Params != nullptr && !FParamDescs.empty())
            FParamBuffer.Bind(FParamDescs, *Params);
        if (!FParamBuffer.Empty()) {
            // A value the buffer could not convert to its parameter's type never leaves.
            CheckParamStatuses(DB_E_ERRORSOCCURRED);
            const auto& bindings = FParamBuffer.Bindings();
            FSession->CheckResult(FCommand.as(IID_IAccessor, accessor), FComponent);
            std::vector<DBBINDSTATUS> status(bindings.size());
            HRESULT hr = accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, bindings.size(),
                                                  bindings.data(), 0, &hAccessor, status.data());
            if (FAILED(hr)) {
                for (std::size_t i = 0; i < status.size(); ++i)
                    if (status[i] != DBBINDSTATUS_OK)
                        FSession->RaiseLayerError(
                            hr,
                            paramFailureText(i, FParamDescs[i]->GetName(),
                                             bindStatusText(status[i]),
                                             static_cast<unsigned>(status[i])),
                            FComponent);
                FSession->CheckResult(hr, FComponent);
            }
            dbParams.pData = FParamBuffer.Data();
            dbParams.cParamSets = 1;
            dbParams.hAccessor = hAccessor;
        }

        if (FCancelRequested.load()) {
            // Stopped before the provider started it: the statement never leaves.
            if (accessor && hAccessor != 0)
                accessor->ReleaseAccessor(hAccessor, nullptr);
            FSession->RaiseLayerError(DB_E_CANCELED, SOperationCanceled, FComponent);
        }
        DBROWCOUNT rows = -1;
        kv::oledb::ComPtr<IUnknown> result;
        HRESULT hr =
            FCommand->Execute(nullptr, MultipleResults ? IID_IMultipleResults : IID_IRowset,
                              dbParams.pData ? &dbParams : nullptr, &rows, result.put());
        if (accessor && hAccessor != 0)
            accessor->ReleaseAccessor(hAccessor, nullptr);
        if (hr == DB_E_ABORTLIMITREACHED) {
            Unprepare();
            ReleaseProviderObjects();
        }
        if (FAILED(hr) && dbParams.pData != nullptr)
            CheckParamStatuses(hr);
        if (hr == DB_E_OBJECTOPEN)
            FSession->RaiseLayerError(hr, SDefaultResultSetOpen, FComponent);
        FSession->CheckResult(hr, FComponent);
        FRowsAffected = rows;
        FOutputPending = !FParamBuffer.Empty();

        kv::oledb::ComPtr<IRowset> rowset;
        if (result && SUCCEEDED(result.as(IID_IMultipleResults, FMultipleResults)) &&
            FMultipleResults) {
            rowset = WalkResults();
        } else if (result) {
            FMultipleResults.reset();
            FSession->RaiseProviderError(S_OK, FComponent); // messages of the single result
            result.as(IID_IRowset, rowset);
        }
        if (!FMultipleResults && !rowset)
            ReadOutputParams();
        FExecuting = false;
        if (rowset) {
            FCursorState = csExecuted;
        } else {
            FCursorState = FPrepared ? csPrepared : csInactive;
            if (!FPrepared)
                ReleaseProviderObjects();
        }
        return rowset;
    } catch (...) {
        FExecuting = false;
        FOutputPending = false;
        FCursorState = FPrepared ? csPrepared : csInactive;
        FMultipleResults.reset();
        if (!FPrepared)
            SetCommandObject({});
        throw;
    }
}

void TOLEDBCommand::ReadOutputParams() {
    if (!FOutputPending)
        return;
    FOutputPending = false;
    FParamBuffer.ReadOutput();
    // An output value longer than the room given for it arrived cut: say so.
    for (std::size_t i = 0; i < FParamBuffer.Bindings().size() && i < FParamDescs.size(); ++i)
        if ((FParamBuffer.Bindings()[i].eParamIO & DBPARAMIO_OUTPUT) &&
            FParamBuffer.Status(i) == DBSTATUS_S_TRUNCATED)
            FSession->RaiseLayerError(DB_E_ERRORSOCCURRED,
                                      paramFailureText(i, FParamDescs[i]->GetName(), SDataTruncated,
                                                       static_cast<unsigned>(DBSTATUS_S_TRUNCATED)),
                                      FComponent);
}

kv::oledb::ComPtr<IRowset> TOLEDBCommand::WalkResults() {
    std::int64_t lastCount = FRowsAffected;
    for (;;) {
        DBROWCOUNT rows = -1;
        kv::oledb::ComPtr<IUnknown> result;
        HRESULT hr = FMultipleResults->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &rows,
                                                 result.put());
        if (hr == DB_S_NORESULT) {
            FMultipleResults.reset();
            FRowsAffected = lastCount;
            ReadOutputParams();
            return {};
        }
        try {
            FSession->CheckResult(hr, FComponent);
        } catch (...) {
            DrainResults();
            throw;
        }
        FSession->RaiseProviderError(S_OK, FComponent); // PRINT and informational messages
        if (FCancelRequested.load()) {
            // Cancelled while the batch was still answering: the rest is not wanted.
            DrainResults();
            FSession->CheckResult(DB_E_CANCELED, FComponent);
        }
        if (rows >= 0)
            lastCount = rows;
        FRowsAffected = lastCount;
        kv::oledb::ComPtr<IRowset> rowset;
        if (result && SUCCEEDED(result.as(IID_IRowset, rowset)) && rowset)
            return rowset;
    }
}

void TOLEDBCommand::DrainResults() {
    // Taken off the command first: an error handler run from here may close the dataset,
    // which drains again.
    kv::oledb::ComPtr<IMultipleResults> walker = std::move(FMultipleResults);
    FOutputPending = false;
    if (!walker)
        return;
    for (int guard = 0; guard < kMaxResults; ++guard) {
        DBROWCOUNT rows = 0;
        kv::oledb::ComPtr<IUnknown> result;
        HRESULT hr =
            walker->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, result.put());
        kv::oledb::ComPtr<IErrorInfo> dropped; // errors of the drained results are dropped
        GetErrorInfo(0, dropped.put());
        if (hr == DB_S_NORESULT || hr == E_UNEXPECTED || hr == DB_E_CANCELED)
            break;
        // A failing result is consumed too; keep going until the batch says it is done.
    }
}

void TOLEDBCommand::FinishResults() {
    kv::oledb::ComPtr<IMultipleResults> walker = std::move(FMultipleResults);
    if (!walker) {
        ReadOutputParams();
        return;
    }
    // The first failure of the rest of the batch, with its error object, raised once the
    // batch has been read to its end so that the link is free for the error handling.
    HRESULT first = S_OK;
    kv::oledb::ComPtr<IErrorInfo> firstError;
    std::int64_t lastCount = FRowsAffected;
    for (int guard = 0; guard < kMaxResults; ++guard) {
        DBROWCOUNT rows = -1;
        kv::oledb::ComPtr<IUnknown> result;
        HRESULT hr =
            walker->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, result.put());
        if (hr == DB_S_NORESULT)
            break;
        if (FAILED(hr)) {
            kv::oledb::ComPtr<IErrorInfo> error;
            GetErrorInfo(0, error.put());
            if (SUCCEEDED(first)) {
                first = hr;
                firstError = std::move(error);
            }
            if (hr == E_UNEXPECTED || hr == DB_E_CANCELED)
                break;
            continue;
        }
        if (SUCCEEDED(first))
            FSession->RaiseProviderError(S_OK, FComponent); // PRINT and informational messages
        else {
            kv::oledb::ComPtr<IErrorInfo> dropped;
            GetErrorInfo(0, dropped.put());
        }
        if (rows >= 0)
            lastCount = rows;
    }
    walker.reset();
    FRowsAffected = lastCount;
    if (FAILED(first)) {
        FOutputPending = false;
        SetErrorInfo(0, firstError.get());
        FSession->CheckResult(first, FComponent);
    }
    ReadOutputParams();
}

} // namespace kv::dataaccess
