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
    FSQL = Text;
    FCommandText = std::move(scan.CommandText);
    FParamDescs.clear();
    for (std::string& n : scan.Names)
        FParamDescs.push_back(std::make_unique<TParamDesc>(std::move(n)));
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
    FSession->CheckResult(factory->CreateCommand(nullptr, IID_ICommandText, FCommand.putUnknown()),
                          FComponent);
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
    FCommand.reset();
    FPrepared = false;
}

namespace {

// The parameter buffer: one fixed-size slot per parameter (status, length, value).
struct ParamBuffer {
    std::vector<DBBINDING> bindings;
    std::vector<unsigned char> data;
};

constexpr DBLENGTH kParamTextBytes = 8002;

ParamBuffer bindParams(const TParamDescs& descs, const TDAParams& params) {
    ParamBuffer pb;
    const std::size_t n =
        std::min<std::size_t>(descs.size(), static_cast<std::size_t>(params.Count()));
    std::size_t offset = 0;
    for (std::size_t i = 0; i < n; ++i) {
        DBBINDING b{};
        b.iOrdinal = i + 1;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_INPUT;
        b.obStatus = offset;
        b.obLength = offset + 8;
        b.obValue = offset + 16;
        b.wType = DBTYPE_WSTR;
        b.cbMaxLen = kParamTextBytes;
        offset += 16 + kParamTextBytes;
        offset = (offset + 7) & ~std::size_t{7};
        pb.bindings.push_back(b);
    }
    pb.data.assign(std::max<std::size_t>(offset, 1), 0);
    for (std::size_t i = 0; i < n; ++i) {
        const DBBINDING& b = pb.bindings[i];
        const TDAParam* p = const_cast<TDAParams&>(params).FindParam(descs[i]->GetName());
        if (p == nullptr)
            p = &params[static_cast<int>(i)];
        DBSTATUS status = p->IsNull() ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
        kv::oledb::OleString text = kv::oledb::toOle(p->AsString());
        DBLENGTH length = std::min<DBLENGTH>(text.size() * 2, kParamTextBytes - 2);
        std::memcpy(pb.data.data() + b.obStatus, &status, sizeof status);
        std::memcpy(pb.data.data() + b.obLength, &length, sizeof length);
        std::memcpy(pb.data.data() + b.obValue, text.data(), length);
    }
    return pb;
}

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

// Raises the failure of the first parameter whose status the provider marked as failed.
void checkParamStatuses(const ParamBuffer& Pb, const TParamDescs& Descs) {
    for (std::size_t i = 0; i < Pb.bindings.size() && i < Descs.size(); ++i) {
        DBSTATUS status = DBSTATUS_S_OK;
        std::memcpy(&status, Pb.data.data() + Pb.bindings[i].obStatus, sizeof status);
        if (status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL || status == DBSTATUS_S_DEFAULT)
            continue;
        kv::oledb::ComPtr<IErrorInfo> stale;
        GetErrorInfo(0, stale.put());
        DatabaseError(paramFailureText(i, Descs[i]->GetName(), paramStatusText(status),
                                       static_cast<unsigned>(status)));
    }
}

} // namespace

kv::oledb::ComPtr<IRowset> TOLEDBCommand::Execute(const TDAParams* Params) {
    EnsureCommand();
    FExecuting = true;
    FCursorState = csExecuting;
    FRowsAffected = -1;
    try {
        DBPARAMS dbParams{};
        ParamBuffer pb;
        kv::oledb::ComPtr<IAccessor> accessor;
        HACCESSOR hAccessor = 0;
        if (Params != nullptr && !FParamDescs.empty() && Params->Count() > 0) {
            pb = bindParams(FParamDescs, *Params);
            FSession->CheckResult(FCommand.as(IID_IAccessor, accessor), FComponent);
            std::vector<DBBINDSTATUS> status(pb.bindings.size());
            HRESULT hr = accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, pb.bindings.size(),
                                                  pb.bindings.data(), 0, &hAccessor, status.data());
            if (FAILED(hr)) {
                for (std::size_t i = 0; i < status.size(); ++i)
                    if (status[i] != DBBINDSTATUS_OK) {
                        kv::oledb::ComPtr<IErrorInfo> stale;
                        GetErrorInfo(0, stale.put());
                        DatabaseError(paramFailureText(i, FParamDescs[i]->GetName(),
                                                       bindStatusText(status[i]),
                                                       static_cast<unsigned>(status[i])));
                    }
                FSession->CheckResult(hr, FComponent);
            }
            dbParams.pData = pb.data.data();
            dbParams.cParamSets = 1;
            dbParams.hAccessor = hAccessor;
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
            checkParamStatuses(pb, FParamDescs);
        if (hr == DB_E_OBJECTOPEN) {
            kv::oledb::ComPtr<IErrorInfo> stale;
            GetErrorInfo(0, stale.put());
            DatabaseError(SDefaultResultSetOpen);
        }
        FSession->CheckResult(hr, FComponent);
        FRowsAffected = rows;

        kv::oledb::ComPtr<IRowset> rowset;
        if (result && SUCCEEDED(result.as(IID_IMultipleResults, FMultipleResults)) &&
            FMultipleResults) {
            rowset = WalkResults();
        } else if (result) {
            FMultipleResults.reset();
            FSession->RaiseProviderError(S_OK, FComponent); // messages of the single result
            result.as(IID_IRowset, rowset);
        }
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
        FCursorState = FPrepared ? csPrepared : csInactive;
        FMultipleResults.reset();
        if (!FPrepared)
            FCommand.reset();
        throw;
    }
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
            return {};
        }
        try {
            FSession->CheckResult(hr, FComponent);
        } catch (...) {
            DrainResults();
            throw;
        }
        FSession->RaiseProviderError(S_OK, FComponent); // PRINT and informational messages
        if (rows >= 0)
            lastCount = rows;
        FRowsAffected = lastCount;
        kv::oledb::ComPtr<IRowset> rowset;
        if (result && SUCCEEDED(result.as(IID_IRowset, rowset)) && rowset)
            return rowset;
    }
}

void TOLEDBCommand::DrainResults() {
    if (!FMultipleResults)
        return;
    for (int guard = 0; guard < 1000; ++guard) {
        DBROWCOUNT rows = 0;
        kv::oledb::ComPtr<IUnknown> result;
        HRESULT hr = FMultipleResults->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows,
                                                 result.put());
        kv::oledb::ComPtr<IErrorInfo> dropped; // errors of the drained results are dropped
        GetErrorInfo(0, dropped.put());
        if (hr == DB_S_NORESULT || hr == E_UNEXPECTED)
            break;
        // A failing result is consumed too; keep going until the batch says it is done.
    }
    FMultipleResults.reset();
}

} // namespace kv::dataaccess
