#include "dataaccess/MSQuery.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/DARegistration.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/DB.h"

namespace kv::dataaccess {

void TMSDataSetOptions::Assign(TPersistent* Source) {
    if (auto* o = dynamic_cast<TMSDataSetOptions*>(Source)) {
        AutoPrepare = o->AutoPrepare;
        QueryRecCount = o->QueryRecCount;
        NonBlocking = o->NonBlocking;
        DisableMultipleResults = o->DisableMultipleResults;
        LocalMasterDetail = o->LocalMasterDetail;
        UniqueRecords = o->UniqueRecords;
        CursorUpdate = o->CursorUpdate;
        QueryIdentity = o->QueryIdentity;
        DMLRefresh = o->DMLRefresh;
        AutoRefresh = o->AutoRefresh;
        AutoRefreshInterval = o->AutoRefreshInterval;
        StrictUpdate = o->StrictUpdate;
        LongStrings = o->LongStrings;
        TrimFixedChar = o->TrimFixedChar;
        FlatBuffers = o->FlatBuffers;
        QuoteNames = o->QuoteNames;
        UpdateBatchSize = o->UpdateBatchSize;
        return;
    }
    TPersistent::Assign(Source);
}

TCustomMSDataSet::TCustomMSDataSet(TComponent* AOwner) : TCustomDADataSet(AOwner) {}

TCustomMSDataSet::~TCustomMSDataSet() = default;

void TCustomMSDataSet::SetCursorType(TMSCursorType Value) {
    if (Value == FCursorType)
        return;
    Close();
    if (Value != ctDefaultResultSet && Connection() != nullptr &&
        Connection()->Options()->DisconnectedMode())
        DatabaseError(SDisconnectedModeServerCursors);
    FCursorType = Value;
}

void TCustomMSDataSet::CheckSQL() {
    if (const_cast<TCustomMSDataSet*>(this)->SQL()->Count() == 0)
        DatabaseError(SNoSQLStatement);
    if (FOptions.NonBlocking) {
        auto* c = MSConnection();
        TOLEDBConnection* s = c != nullptr ? c->OLEDBSession() : nullptr;
        if (s == nullptr || !s->IsNativeClient())
            DatabaseError(SNativeClientForNonBlocking);
    }
    AutoPrepare = FOptions.AutoPrepare;
    Statement().Command().MultipleResults = !FOptions.DisableMultipleResults;
}

TMSQuery::TMSQuery(TComponent* AOwner) : TCustomMSDataSet(AOwner) {}

TMSQuery::~TMSQuery() = default;

namespace {

const TEnumInfo kCursorTypeInfo{
    "TMSCursorType", {"ctDefaultResultSet", "ctStatic", "ctKeyset", "ctDynamic", "ctBaseTable"}};

template <class F, class C>
auto asQuery(F C::*Field) {
    return static_cast<F TMSQuery::*>(Field);
}

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    using O = TMSDataSetOptions;
    ClassBuilder<O>("TMSDataSetOptions", "TPersistent")
        .Bool("AutoPrepare", &O::AutoPrepare)
        .Default(false)
        .Bool("QueryRecCount", &O::QueryRecCount)
        .Default(false)
        .Bool("NonBlocking", &O::NonBlocking)
        .Default(false)
        .Bool("DisableMultipleResults", &O::DisableMultipleResults)
        .Default(false)
        .Bool("LocalMasterDetail", &O::LocalMasterDetail)
        .Default(false);
    using Q = TMSQuery;
    ClassBuilder<TMemDataSet>("TMemDataSet", "TComponent").Abstract();
    ClassBuilder<TCustomDADataSet>("TCustomDADataSet", "TMemDataSet").Abstract();
    ClassBuilder<TCustomMSDataSet>("TCustomMSDataSet", "TCustomDADataSet").Abstract();
    ClassBuilder<Q>("TMSQuery", "TCustomMSDataSet")
        .Component("Connection", &Q::MSConnection, &Q::SetMSConnection)
        .Object("SQL", &Q::SQL)
        .Bool("ParamCheck", &Q::ParamCheck, &Q::SetParamCheck)
        .Default(true)
        .Bool("Debug", &Q::Debug, &Q::SetDebug)
        .Default(false)
        .Integer("FetchRows", &Q::FetchRows, &Q::SetFetchRows)
        .Default(25)
        .Bool("FetchAll", &Q::FetchAll, &Q::SetFetchAll)
        .Default(true)
        .Bool("UniDirectional", &Q::UniDirectional, &Q::SetUniDirectional)
        .Default(false)
        .Bool("ReadOnly", &Q::ReadOnly, &Q::SetReadOnly)
        .Default(false)
        .Enum("CursorType", &kCursorTypeInfo, &Q::CursorType, &Q::SetCursorType)
        .Default(ctDefaultResultSet)
        .Integer("CommandTimeout", &Q::CommandTimeout, &Q::SetCommandTimeout)
        .Default(0)
        .Object("Options", &Q::Options)
        .Event("AfterExecute", asQuery(&TCustomDADataSet::AfterExecute))
        .Event("BeforeFetch", asQuery(&TCustomDADataSet::BeforeFetch))
        .Event("AfterFetch", asQuery(&TCustomDADataSet::AfterFetch));
    return true;
}();

} // namespace

bool detail::msQueryClassesRegistered() {
    return registered;
}

} // namespace kv::dataaccess
