#include "dataaccess/DASQLMonitor.h"

#include "dataaccess/ComStatementMonitor.h"
#include "platform/oledb/com_lite.h"
#include "toolkit/SysUtils.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <typeinfo>

namespace kv::dataaccess {

IMonitoredStatement::~IMonitoredStatement() = default;
IMonitoredConnection::~IMonitoredConnection() = default;

void TTraceViewerOptions::Assign(TPersistent* Source) {
    if (auto* o = dynamic_cast<TTraceViewerOptions*>(Source)) {
        Host = o->Host;
        Port = o->Port;
        ReconnectTimeout = o->ReconnectTimeout;
        SendTimeout = o->SendTimeout;
        return;
    }
    TPersistent::Assign(Source);
}

TMonitorOutlets& MonitorOutlets() {
    static TMonitorOutlets outlets = [] {
        TMonitorOutlets o;
        InstallComMonitorOutlets(o);
        InstallTraceViewerOutlets(o);
        return o;
    }();
    return outlets;
}

namespace {

std::string hex8(const void* p) {
    return IntToHex(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)) & 0xFFFFFFFFu,
                    8);
}

const char kCRLF[] = "\r\n";

// Object kinds on the trace viewer link.
enum {
    okOther = 0,
    okConnection = 1,
    okTransaction = 2,
    okStatement = 3,
    okDataSet = 4,
    okPool = 5
};

} // namespace

namespace {

// An object as the monitor sees it: as a component, a statement, a connection (each null when
// it is not one).
struct TObjectViews {
    TComponent* Component = nullptr;
    IMonitoredStatement* Statement = nullptr;
    IMonitoredConnection* Connection = nullptr;
};

// The three casts, remembered per dynamic type. While a trace viewer listens every statement
// describes its object and its connection again, and a cast through these deep class trees
// costs tens of nanoseconds (the run-time library compares type names as strings at each
// step). Where a view lies within an object depends on the object's dynamic type alone (no
// virtual bases here), so it is worked out once per type and thread; an object in the middle
// of its destruction has the dynamic type of the part still alive, and is looked up as that.
TObjectViews viewsOf(TObject* Obj) {
    if (Obj == nullptr)
        return {};
    constexpr std::ptrdiff_t None = PTRDIFF_MIN;
    struct Known {
        const std::type_info* Type = nullptr;
        std::ptrdiff_t Component = None, Statement = None, Connection = None;
    };
    thread_local std::array<Known, 8> known;
    thread_local std::size_t next = 0;
    const std::type_info* type = &typeid(*Obj);
    char* const base = reinterpret_cast<char*>(Obj);
    const auto at = [&](std::ptrdiff_t offset) -> char* {
        return offset == None ? nullptr : base + offset;
    };
    for (const Known& k : known)
        if (k.Type == type)
            return {reinterpret_cast<TComponent*>(at(k.Component)),
                    reinterpret_cast<IMonitoredStatement*>(at(k.Statement)),
                    reinterpret_cast<IMonitoredConnection*>(at(k.Connection))};
    const TObjectViews views{dynamic_cast<TComponent*>(Obj),
                             dynamic_cast<IMonitoredStatement*>(Obj),
                             dynamic_cast<IMonitoredConnection*>(Obj)};
    const auto offset = [&](const void* view) {
        return view == nullptr ? None : static_cast<const char*>(view) - base;
    };
    known[next++ % known.size()] = {type, offset(views.Component), offset(views.Statement),
                                    offset(views.Connection)};
    return views;
}

} // namespace

std::string MonitorObjectName(TObject* Obj) {
    std::string name;
    AssignMonitorObjectName(Obj, name);
    return name;
}

namespace {

// The name of `Obj` whose class name is known already.
void assignObjectName(TObject* Obj, const std::string& ClassName, std::string& Into) {
    if (auto* c = viewsOf(Obj).Component; c != nullptr && !c->Name().empty()) {
        Into.assign(c->Name());
        return;
    }
    // Written piece by piece: no text in between is made and thrown away.
    char hex[8];
    auto v = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Obj) & 0xFFFFFFFFu);
    for (int i = 7; i >= 0; --i, v >>= 4)
        hex[i] = "0123456789ABCDEF"[v & 15u];
    Into.assign(ClassName);
    Into.append(" ($").append(hex, sizeof hex).push_back(')');
}

} // namespace

void AssignMonitorObjectName(TObject* Obj, std::string& Into) {
    if (Obj == nullptr)
        Into.clear();
    else
        assignObjectName(Obj, Obj->ClassName(), Into);
}

// ---------------------------------------------------------------------------------------------
// The component

TCustomDASQLMonitor::TCustomDASQLMonitor(TComponent* AOwner) : TComponent(AOwner) {}

TCustomDASQLMonitor::~TCustomDASQLMonitor() {
    try {
        SetActualActive(false);
    } catch (...) {
    }
}

void TCustomDASQLMonitor::Loaded() {
    TComponent::Loaded();
    SyncActivity();
}

void TCustomDASQLMonitor::SetActive(bool Value) {
    FRequestedActive = Value;
    if (!ComponentState().Contains(csLoading))
        SyncActivity();
}

void TCustomDASQLMonitor::SyncActivity() {
    if (FActualActive != FRequestedActive)
        SetActualActive(FRequestedActive);
}

void TCustomDASQLMonitor::SetActualActive(bool Value) {
    if (Value == FActualActive)
        return;
    auto& out = MonitorOutlets();
    if (Value) {
        if (FOptions.Contains(moComMonitor))
            FComRegistered = RegisterComMonitor();
        if (FOptions.Contains(moTraceViewer) && out.ViewerStart) {
            try {
                out.ViewerStart(this);
                FViewerStarted = true;
            } catch (const EAbort&) {
            }
        }
    } else {
        if (FComRegistered)
            UnregisterComMonitor();
        FComRegistered = false;
        if (FViewerStarted && out.ViewerFinish)
            out.ViewerFinish(this);
        FViewerStarted = false;
    }
    FActualActive = Value;
}

void TCustomDASQLMonitor::SetOptions(TMonitorOptions Value) {
    if (FActualActive) {
        auto& out = MonitorOutlets();
        if (Value.Contains(moComMonitor) != FOptions.Contains(moComMonitor)) {
            if (Value.Contains(moComMonitor)) {
                FComRegistered = RegisterComMonitor();
            } else {
                if (FComRegistered)
                    UnregisterComMonitor();
                FComRegistered = false;
            }
        }
        if (Value.Contains(moTraceViewer) != FOptions.Contains(moTraceViewer)) {
            if (Value.Contains(moTraceViewer) && out.ViewerStart) {
                try {
                    out.ViewerStart(this);
                    FViewerStarted = true;
                } catch (const EAbort&) {
                }
            } else if (!Value.Contains(moTraceViewer) && FViewerStarted) {
                if (out.ViewerFinish)
                    out.ViewerFinish(this);
                FViewerStarted = false;
            }
        }
    }
    FOptions = Value;
}

bool TCustomDASQLMonitor::RegisterComMonitor() {
    auto& out = MonitorOutlets();
    if (!out.ComRegister)
        return false;
    try {
        return out.ComRegister(this);
    } catch (...) { // a broken COM monitor must not break the traced program
        return false;
    }
}

void TCustomDASQLMonitor::UnregisterComMonitor() {
    auto& out = MonitorOutlets();
    if (out.ComUnregister)
        out.ComUnregister(this);
}

TObject* TCustomDASQLMonitor::GetParent(TObject* Obj) const {
    if (auto* st = viewsOf(Obj).Statement)
        return st->MonitorConnection();
    return nullptr;
}

int TCustomDASQLMonitor::GetObjectKind(TObject* Obj) const {
    const TObjectViews views = viewsOf(Obj);
    if (views.Connection != nullptr)
        return okConnection;
    if (views.Statement != nullptr)
        return views.Statement->IsDataSet() ? okDataSet : okStatement;
    return okOther;
}

// ---------------------------------------------------------------------------------------------
// Texts

namespace {

bool isStringType(TFieldType t) {
    return t == ftString || t == ftFixedChar || t == ftWideString || t == ftFixedWideChar;
}

bool isBlobType(TFieldType t) {
    return t == ftBytes || t == ftVarBytes || t == ftBlob || t == ftMemo || t == ftOraBlob ||
           t == ftOraClob;
}

} // namespace

std::string TCustomDASQLMonitor::GetParamDataType(const TDAParam& Param) const {
    std::string name = FieldTypeName(Param.DataType());
    if (isStringType(Param.DataType()))
        // The length in characters (UTF-16 units, as the provider counts them), not bytes.
        name += "[" +
                IntToStr(static_cast<std::int64_t>(kv::oledb::toOle(Param.AsString()).size())) +
                "]";
    return name;
}

std::string TCustomDASQLMonitor::GetParamParamType(const TDAParam& Param) const {
    switch (Param.ParamType()) {
    case ptInput:
        return "IN";
    case ptOutput:
        return "OUT";
    case ptInputOutput:
        return "IN/OUT";
    case ptResult:
        return "RESULT";
    case ptUnknown:
        break;
    }
    return {};
}

std::string TCustomDASQLMonitor::GetParamValue(const TDAParam& Param) const {
    if (Param.IsNull())
        return "<NULL>";
    if (isBlobType(Param.DataType()))
        return "<BLOB:" + IntToStr(static_cast<std::int64_t>(Param.AsString().size())) + ">";
    if (Param.DataType() == ftCursor)
        return "<CURSOR>";
    if (isStringType(Param.DataType()))
        return "'" + Param.AsString() + "'";
    return Param.AsString();
}

std::string TCustomDASQLMonitor::ParamsText(const TDAParams* Params) const {
    if (Params == nullptr)
        return {};
    std::string text;
    for (int i = 0; i < Params->Count(); ++i) {
        const TDAParam& p = (*Params)[i];
        std::string type = GetParamDataType(p);
        std::string dir = GetParamParamType(p);
        std::string value = GetParamValue(p);
        text += ":" + p.Name() + "(" + type + (type.empty() || dir.empty() ? "" : ",") + dir + ")";
        if (!value.empty())
            text += "=" + value;
        text += " \r\n";
    }
    return TrimRight(text);
}

std::string TCustomDASQLMonitor::ObjectIdentity(TObject* Obj) const {
    if (!FOptions.Contains(moHandled) || Obj == nullptr)
        return {};
    auto* c = dynamic_cast<TComponent*>(Obj);
    std::string id = " [" + (c != nullptr ? c->Name() : std::string()) + "$" + hex8(Obj);
    if (auto* st = dynamic_cast<IMonitoredStatement*>(Obj);
        st != nullptr && st->MonitorConnection())
        id += "; " + st->MonitorConnection()->Name() + "$" + hex8(st->MonitorConnection());
    return id + "] ";
}

TMonitorEvent TCustomDASQLMonitor::ViewerEventOf(const TTraceViewerEvent& Event) const {
    TMonitorEvent e;
    ViewerEventOf(Event, e);
    return e;
}

// Every traced statement passes here twice while a viewer listens: the texts are assigned into
// the strings of `Into`, so an event kept for the next one reuses their memory.
namespace {

// What a start event says of an object, kept for the next event about the same object.
struct TObjectDescription {
    const TObject* Object = nullptr;
    const std::type_info* Type = nullptr;
    const TCustomDASQLMonitor* Monitor = nullptr;
    std::string ComponentName; // the component's name when it was described
    std::int32_t ID = 0;
    int Kind = 0;
    std::string Name;
    std::string TypeName;
};

} // namespace

void TCustomDASQLMonitor::ViewerEventOf(const TTraceViewerEvent& Event, TMonitorEvent& Into) const {
    const auto address = [](const TObject* o) {
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(o) & 0xFFFFFFFFu));
    };
    // A query's statements follow each other, so the last object and parent described on this
    // thread are kept, and used again while the object is the same: same address, class and
    // name (an object made later at the same address, of the same class and name, would be
    // described the same way). Its kind and class name depend on its class alone.
    thread_local TObjectDescription lastObject, lastParent;
    const auto describe = [&](TObject* o, TObjectDescription& d) -> const TObjectDescription& {
        const std::type_info* type = &typeid(*o);
        static const std::string unnamed;
        const TComponent* c = viewsOf(o).Component;
        const std::string& name = c != nullptr ? c->Name() : unnamed;
        if (d.Object != o || d.Type != type || d.Monitor != this || d.ComponentName != name) {
            d.Object = o;
            d.Type = type;
            d.Monitor = this;
            d.ComponentName.assign(name);
            d.ID = address(o);
            d.TypeName.assign(o->ClassName());
            assignObjectName(o, d.TypeName, d.Name);
            d.Kind = GetObjectKind(o);
        }
        return d;
    };
    TMonitorEvent& e = Into;
    e.EventNumber = 0;
    e.EventType = Event.EventType;
    e.Description.assign(Event.Description);
    e.Failed = Event.Failed;
    e.ErrorText.assign(Event.ErrorText);
    e.RowsAffected = static_cast<std::int32_t>(Event.RowsAffected);
    e.CallStack.clear();
    e.ObjectID = e.ParentID = 0;
    e.ObjectKind = e.ParentKind = 0;
    e.ObjectName.clear();
    e.ObjectTypeName.clear();
    e.ParentName.clear();
    e.ParentTypeName.clear();
    e.SQL.clear();
    // The statement, the object and its parent travel with the start event only.
    if (Event.Start)
        e.SQL.assign(Event.StatementText);
    if (TObject* o = Event.Start ? Event.Object : nullptr) {
        const TObjectDescription& d = describe(o, lastObject);
        e.ObjectID = d.ID;
        e.ObjectName.assign(d.Name);
        e.ObjectKind = d.Kind;
        e.ObjectTypeName.assign(d.TypeName);
        // Object-destroyed events (14) carry no parent.
        if (TObject* parent = Event.EventType == 14 ? nullptr : GetParent(o)) {
            const TObjectDescription& p = describe(parent, lastParent);
            e.ParentID = p.ID;
            e.ParentName.assign(p.Name);
            e.ParentKind = p.Kind;
            e.ParentTypeName.assign(p.TypeName);
        }
    }
    e.Params.clear();
    if (Event.Params != nullptr)
        for (int i = 0; i < Event.Params->Count(); ++i) {
            const TDAParam& p = (*Event.Params)[i];
            e.Params.push_back(
                {p.Name(), GetParamDataType(p), GetParamParamType(p), GetParamValue(p)});
        }
}

// ---------------------------------------------------------------------------------------------
// Delivery

struct TCustomDASQLMonitor::Note {
    TObject* Sender = nullptr;
    TDATraceFlag Flag = tfMisc;
    int EventType = 0;
    bool Before = true;
    bool OnSQLAfterToo = false; // savepoints: OnSQL on both calls
    bool Once = false;          // error, info, destroyed, pool: one call, start and end at once
    bool Statement = false;     // prepare, unprepare, execute: debug dialog and COM before only
    bool ComBeforeOnly = false; // connect, disconnect, transactions
    std::string OnSQLText;
    std::string ComText;
    std::string ViewerText;
    std::string StatementText;
    const TDAParams* Params = nullptr;
    std::string Operation; // for the debug dialog caption
    bool Failed = false;
    std::string ErrorText;
};

bool TCustomDASQLMonitor::Passes(TDATraceFlag Flag) {
    SyncActivity();
    return FActualActive && FTraceFlags.Contains(Flag);
}

void TCustomDASQLMonitor::Deliver(Note& N, std::uint32_t& MessageID) {
    auto& out = MonitorOutlets();
    // 1. The debug dialog: before a statement runs.
    if (N.Statement && N.Before && FOptions.Contains(moDialog) && out.DebugDialog) {
        auto* st = dynamic_cast<IMonitoredStatement*>(N.Sender);
        const bool limited = FOptions.Contains(moCustom) || ComponentState().Contains(csDesigning);
        if (!limited || (st != nullptr && st->GetDebug())) {
            TDebugDialogRequest r;
            r.Caption =
                Caption() + " Debug: " + MonitorObjectName(N.Sender) + "  [" + N.Operation + "]";
            if (auto* c = dynamic_cast<TComponent*>(N.Sender); c != nullptr && c->Owner())
                r.Caption = Caption() + " Debug: " + c->Owner()->Name() + "." + c->Name() + "  [" +
                            N.Operation + "]";
            r.Object = N.Sender;
            r.SQL = N.StatementText;
            r.ParamsText = ParamsText(N.Params);
            out.DebugDialog(r);
        }
    }
    // 2. The COM statement monitor.
    if (FComRegistered && out.ComSend && (N.Before || (!N.Statement && !N.ComBeforeOnly))) {
        try {
            out.ComSend(this, N.ComText);
            if (N.Statement && FTraceFlags.Contains(tfParams) && N.Params && N.Params->Count() > 0)
                out.ComSend(this, ParamsText(N.Params));
        } catch (...) {
        }
    }
    // 3. The trace viewer link: a start event before, an end event after.
    if (FViewerStarted && out.ViewerSend) {
        TTraceViewerEvent e;
        e.Monitor = this;
        e.EventType = N.EventType;
        e.Object = N.Sender;
        // The viewer is the last to need these two texts.
        e.Description = std::move(N.ViewerText);
        e.StatementText = std::move(N.StatementText);
        e.Params = N.Params;
        e.Failed = N.Failed;
        e.ErrorText = N.ErrorText;
        // Rows affected travel with the end event.
        if (N.Once || !N.Before)
            if (auto* st = viewsOf(N.Sender).Statement)
                e.RowsAffected = st->MonitorRowsAffected();
        try {
            if (N.Once) {
                e.Start = true;
                std::uint32_t id = N.Failed ? FLastStartID : out.ViewerSend(e, 0);
                e.Start = false;
                out.ViewerSend(e, id);
            } else {
                e.Start = N.Before;
                std::uint32_t id = out.ViewerSend(e, N.Before ? 0 : MessageID);
                if (N.Before) {
                    MessageID = id;
                    FLastStartID = id;
                }
            }
        } catch (const EAbort&) {
        }
    }
    // 4. The application.
    if (OnSQL && (N.Once || N.Before || N.OnSQLAfterToo))
        OnSQL(N.Sender, N.OnSQLText, N.Flag);
}

// ---------------------------------------------------------------------------------------------
// Entry points

void TCustomDASQLMonitor::Statement(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                    const std::string& SQL, const TDAParams* Params,
                                    const std::string& Name, std::uint32_t& MessageID, bool Before,
                                    int Kind) {
    static const char* const kPrefix[] = {"Prepare: ", "Unprepare: ", ""};
    static const char* const kCom[] = {"SQL Prepare", "SQL Unprepare", "SQL Execute"};
    static const char* const kOperation[] = {"Prepare", "Unprepare", "Execute"};
    const std::string sql = TrimRight(SQL);
    if (Monitor == nullptr) {
        // Without a monitor a statement marked Debug still shows the dialog before it runs.
        auto* st = dynamic_cast<IMonitoredStatement*>(Obj);
        auto& out = MonitorOutlets();
        if (Before && st != nullptr && st->GetDebug() && out.DebugDialog) {
            TDebugDialogRequest r;
            r.Caption = std::string("DataAccess Debug: ") + MonitorObjectName(Obj) + "  [" +
                        (Name.empty() ? kOperation[Kind] : Name) + "]";
            r.Object = Obj;
            r.SQL = sql;
            out.DebugDialog(r);
        }
        return;
    }
    const TDATraceFlag flag = Kind == 2 ? tfQExecute : tfQPrepare;
    if (!Monitor->Passes(flag))
        return;
    Note n;
    n.Sender = Obj;
    n.Flag = flag;
    n.EventType = 8 + Kind;
    n.Before = Before;
    n.Statement = true;
    n.Params = Params;
    n.StatementText = sql;
    n.Operation = Name.empty() ? kOperation[Kind] : Name;
    const std::string params = Monitor->ParamsText(Params);
    n.OnSQLText = kPrefix[Kind] + sql + (params.empty() ? "" : kCRLF + params);
    const std::string obj = Monitor->ObjectIdentity(Obj);
    n.ComText = std::string(kCom[Kind]) + (Kind == 2 && !Name.empty() ? " [" + Name + "]" : "") +
                obj + ": " + sql;
    n.ViewerText = std::string(kCom[Kind]) + obj + ": " + sql + kCRLF + params;
    Monitor->Deliver(n, MessageID);
}

void TCustomDASQLMonitor::SQLPrepare(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                     const std::string& SQL, const TDAParams* Params,
                                     std::uint32_t& MessageID, bool Before) {
    Statement(Monitor, Obj, SQL, Params, {}, MessageID, Before, 0);
}

void TCustomDASQLMonitor::SQLUnprepare(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                       const std::string& SQL, const TDAParams* Params,
                                       std::uint32_t& MessageID, bool Before) {
    Statement(Monitor, Obj, SQL, Params, {}, MessageID, Before, 1);
}

void TCustomDASQLMonitor::SQLExecute(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                     const std::string& SQL, const TDAParams* Params,
                                     const std::string& Name, std::uint32_t& MessageID,
                                     bool Before) {
    Statement(Monitor, Obj, SQL, Params, Name, MessageID, Before, 2);
}

void TCustomDASQLMonitor::Link(TCustomDASQLMonitor* Monitor, TObject* Obj, const char* Prefix,
                               TDATraceFlag Flag, int EventType, std::uint32_t& MessageID,
                               bool Before, bool WithLogin) {
    if (Monitor == nullptr || !Monitor->Passes(Flag))
        return;
    Note n;
    n.Sender = Obj;
    n.Flag = Flag;
    n.EventType = EventType;
    n.Before = Before;
    n.ComBeforeOnly = true;
    std::string text = Prefix;
    auto* conn = dynamic_cast<IMonitoredConnection*>(Obj);
    if (WithLogin && conn != nullptr)
        text += conn->MonitorUser() + "@" + conn->MonitorServer();
    text += Monitor->ObjectIdentity(Obj);
    n.OnSQLText = n.ComText = n.ViewerText = text;
    if (EventType == 2 && conn != nullptr)
        n.StatementText =
            "Username=" + conn->MonitorUser() + kCRLF + "Server=" + conn->MonitorServer();
    Monitor->Deliver(n, MessageID);
}

void TCustomDASQLMonitor::DBConnect(TCustomDASQLMonitor* Monitor, TComponent* Connection,
                                    std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Connection, "Connect: ", tfConnect, 2, MessageID, Before, true);
}

void TCustomDASQLMonitor::DBDisconnect(TCustomDASQLMonitor* Monitor, TComponent* Connection,
                                       std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Connection, "Disconnect: ", tfConnect, 3, MessageID, Before, true);
}

void TCustomDASQLMonitor::TRStart(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                  std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Obj, "Start: ", tfTransact, 4, MessageID, Before, true);
}

void TCustomDASQLMonitor::TRCommit(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                   std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Obj, "Commit: ", tfTransact, 5, MessageID, Before, true);
}

void TCustomDASQLMonitor::TRRollback(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                     std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Obj, "Rollback: ", tfTransact, 6, MessageID, Before, true);
}

void TCustomDASQLMonitor::TRCommitRetaining(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                            std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Obj, "CommitRetaining: ", tfTransact, 5, MessageID, Before, false);
}

void TCustomDASQLMonitor::TRRollbackRetaining(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                              std::uint32_t& MessageID, bool Before) {
    Link(Monitor, Obj, "RollbackRetaining: ", tfTransact, 6, MessageID, Before, false);
}

void TCustomDASQLMonitor::Savepoint(TCustomDASQLMonitor* Monitor, TObject* Obj, const char* Prefix,
                                    const std::string& Name, std::uint32_t& MessageID,
                                    bool Before) {
    if (Monitor == nullptr || !Monitor->Passes(tfTransact))
        return;
    Note n;
    n.Sender = Obj;
    n.Flag = tfTransact;
    n.EventType = 7;
    n.Before = Before;
    n.OnSQLAfterToo = true;
    n.OnSQLText = n.ComText = n.ViewerText = Prefix + Name + " " + Monitor->ObjectIdentity(Obj);
    Monitor->Deliver(n, MessageID);
}

void TCustomDASQLMonitor::TRSavepoint(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                      const std::string& Name, std::uint32_t& MessageID,
                                      bool Before) {
    Savepoint(Monitor, Obj, "Savepoint ", Name, MessageID, Before);
}

void TCustomDASQLMonitor::TRRollbackToSavepoint(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                                const std::string& Name, std::uint32_t& MessageID,
                                                bool Before) {
    Savepoint(Monitor, Obj, "Rollback to savepoint ", Name, MessageID, Before);
}

void TCustomDASQLMonitor::TRReleaseSavepoint(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                             const std::string& Name, std::uint32_t& MessageID,
                                             bool Before) {
    Savepoint(Monitor, Obj, "Release savepoint ", Name, MessageID, Before);
}

void TCustomDASQLMonitor::DBError(TCustomDASQLMonitor* Monitor, TObject* Error,
                                  const std::string& Message) {
    if (Monitor == nullptr || !Monitor->Passes(tfError))
        return;
    Note n;
    n.Sender = Error;
    n.Flag = tfError;
    n.EventType = 16;
    n.Once = true;
    n.Failed = true;
    n.ErrorText = Message;
    n.OnSQLText = n.ComText = n.ViewerText = "Error: " + Message;
    std::uint32_t id = 0;
    Monitor->Deliver(n, id);
}

void TCustomDASQLMonitor::ObjectDestroyed(TCustomDASQLMonitor* Monitor, TObject* Obj) {
    if (Monitor == nullptr || !Monitor->Passes(tfObjDestroy))
        return;
    Note n;
    n.Sender = Obj;
    n.Flag = tfObjDestroy;
    n.EventType = 14;
    n.Once = true;
    n.OnSQLText = n.ComText = n.ViewerText = "Object destroyed: " + MonitorObjectName(Obj);
    std::uint32_t id = 0;
    Monitor->Deliver(n, id);
}

void TCustomDASQLMonitor::InfoMessage(TCustomDASQLMonitor* Monitor, TComponent* Connection,
                                      const std::string& Message) {
    if (Monitor == nullptr || !Monitor->Passes(tfMisc))
        return;
    Note n;
    n.Sender = Connection;
    n.Flag = tfMisc;
    n.EventType = 16;
    n.Once = true;
    std::string text = "Info Message: " + Message + ": ";
    if (auto* conn = dynamic_cast<IMonitoredConnection*>(Connection))
        text += conn->MonitorUser() + "@" + conn->MonitorServer();
    n.OnSQLText = n.ComText = n.ViewerText = text + Monitor->ObjectIdentity(Connection);
    std::uint32_t id = 0;
    Monitor->Deliver(n, id);
}

void TCustomDASQLMonitor::PoolMessage(TCustomDASQLMonitor* Monitor, TObject* Pool,
                                      const std::string& Text, bool AddConnectionCount,
                                      int ConnectionCount) {
    if (Monitor == nullptr || !Monitor->Passes(tfPool))
        return;
    Note n;
    n.Sender = Pool;
    n.Flag = tfPool;
    n.EventType = 15;
    n.Once = true;
    std::string text = Text;
    if (AddConnectionCount) {
        char buf[64];
        std::snprintf(buf, sizeof buf, ". Pool has %d connection(s)", ConnectionCount);
        text += buf;
    }
    n.OnSQLText = n.ComText = n.ViewerText = text + Monitor->ObjectIdentity(Pool);
    std::uint32_t id = 0;
    Monitor->Deliver(n, id);
}

} // namespace kv::dataaccess
