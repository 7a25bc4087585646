#pragma once
// The SQL trace monitor: a component that hears about everything the data-access layer does
// on the server and passes each notification to its outlets.
//
// Connections, datasets and statement objects call the class-level entry points below with
// the monitor their class looks up (the process-wide TMSSQLMonitor for the SQL Server
// classes; none for the base classes). Each entry point builds the texts of its notification
// and feeds the outlets in a fixed order: the debug dialog, the COM statement monitor, the
// trace viewer link, OnSQL. Only OnSQL lives here; the other three are plug-in points that
// the user-interface module and the trace viewer link install as process-wide hooks, and that
// do nothing while nobody installed them.
//
// Nothing here raises into the traced operation except the application's own OnSQL handler.

#include "dataaccess/DAParams.h"
#include "dataaccess/TraceViewerMessages.h"
#include "toolkit/Component.h"
#include "toolkit/Sets.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kv::dataaccess {

enum TDATraceFlag {
    tfQPrepare,
    tfQExecute,
    tfQFetch,
    tfError,
    tfStmt,
    tfConnect,
    tfTransact,
    tfBlob,
    tfService,
    tfMisc,
    tfParams,
    tfObjDestroy,
    tfPool
};
using TDATraceFlags = SetOf<TDATraceFlag>;

enum TMonitorOption { moDialog, moComMonitor, moTraceViewer, moCustom, moHandled };
using TMonitorOptions = SetOf<TMonitorOption>;

// Sender is the object the notification is about (for errors: the error object).
using TOnSQLEvent =
    std::function<void(TObject* Sender, const std::string& Text, TDATraceFlag Flag)>;

// What the monitor needs to know about a dataset or statement object it reports on.
class IMonitoredStatement {
public:
    virtual ~IMonitoredStatement();
    virtual TComponent* MonitorConnection() const = 0; // may be null
    virtual bool GetDebug() const = 0;
    virtual bool IsDataSet() const = 0; // a dataset (kind 4) or a statement object (kind 3)
    virtual std::int64_t MonitorRowsAffected() const = 0;
};

// What the monitor needs to know about a connection it reports on.
class IMonitoredConnection {
public:
    virtual ~IMonitoredConnection();
    virtual std::string MonitorUser() const = 0;
    virtual std::string MonitorServer() const = 0;
};

class TTraceViewerOptions : public TPersistent {
public:
    std::string ClassName() const override { return "TTraceViewerOptions"; }
    void Assign(TPersistent* Source) override;

    std::string Host;
    int Port = 1000;
    int ReconnectTimeout = 5000;
    int SendTimeout = 1000;
};

class TCustomDASQLMonitor;

// ---------------------------------------------------------------------------------------------
// Plug-in points of the outlets that live elsewhere.

struct TDebugDialogRequest {
    std::string Caption; // "Nuvo Debug: Owner.Name  [Execute]"
    TObject* Object = nullptr;
    std::string SQL;
    std::string ParamsText;
};

// One notification for the trace viewer link: a start event (Before) or an end event.
struct TTraceViewerEvent {
    TCustomDASQLMonitor* Monitor = nullptr;
    int EventType = 0;
    bool Start = true;
    TObject* Object = nullptr;
    std::string Description;
    std::string StatementText;
    const TDAParams* Params = nullptr;
    bool Failed = false;
    std::string ErrorText;
    std::int64_t RowsAffected = 0;
};

struct TMonitorOutlets {
    // Shows the modal debug dialog.
    std::function<void(const TDebugDialogRequest&)> DebugDialog;
    // Registers the monitor with the external COM statement monitor; false when there is none.
    std::function<bool(TCustomDASQLMonitor*)> ComRegister;
    std::function<void(TCustomDASQLMonitor*)> ComUnregister;
    std::function<void(TCustomDASQLMonitor*, const std::string& Text)> ComSend;
    // Starts / finishes the trace viewer link for a monitor, and sends one event; the returned
    // number of a start event is handed back into the matching end event.
    std::function<void(TCustomDASQLMonitor*)> ViewerStart;
    std::function<void(TCustomDASQLMonitor*)> ViewerFinish;
    std::function<std::uint32_t(const TTraceViewerEvent&, std::uint32_t MessageID)> ViewerSend;
};

// The process-wide outlets. The trace viewer link is installed from the start; the debug dialog
// and the COM statement monitor stay empty until a module installs them.
TMonitorOutlets& MonitorOutlets();
// Puts the trace viewer link (TraceViewerClient.h) into the three viewer outlets.
void InstallTraceViewerOutlets(TMonitorOutlets& Outlets);

// ---------------------------------------------------------------------------------------------

class TCustomDASQLMonitor : public TComponent {
public:
    explicit TCustomDASQLMonitor(TComponent* AOwner);
    ~TCustomDASQLMonitor() override;
    std::string ClassName() const override { return "TCustomDASQLMonitor"; }

    bool Active() const { return FRequestedActive; }
    void SetActive(bool Value);
    TMonitorOptions Options() const { return FOptions; }
    void SetOptions(TMonitorOptions Value);
    TDATraceFlags TraceFlags() const { return FTraceFlags; }
    void SetTraceFlags(TDATraceFlags Value) { FTraceFlags = Value; }
    TTraceViewerOptions* TraceViewerOptions() { return &FTraceViewerOptions; }
    void SetTraceViewerOptions(TTraceViewerOptions* Value) { FTraceViewerOptions.Assign(Value); }
    TOnSQLEvent OnSQL;

    bool ActualActive() const { return FActualActive; }
    bool ComRegistered() const { return FComRegistered; }
    // The class-level caption ("DataAccess"; "Nuvo" for the SQL Server monitor).
    virtual std::string Caption() const { return "DataAccess"; }

    // Class-level entry points. Monitor may be null (no process-wide monitor of the caller's
    // class); MessageID pairs the "before" call with its "after" call on the trace viewer link.
    static void SQLPrepare(TCustomDASQLMonitor* Monitor, TObject* Obj, const std::string& SQL,
                           const TDAParams* Params, std::uint32_t& MessageID, bool Before);
    static void SQLUnprepare(TCustomDASQLMonitor* Monitor, TObject* Obj, const std::string& SQL,
                             const TDAParams* Params, std::uint32_t& MessageID, bool Before);
    static void SQLExecute(TCustomDASQLMonitor* Monitor, TObject* Obj, const std::string& SQL,
                           const TDAParams* Params, const std::string& Name,
                           std::uint32_t& MessageID, bool Before);
    static void DBConnect(TCustomDASQLMonitor* Monitor, TComponent* Connection,
                          std::uint32_t& MessageID, bool Before);
    static void DBDisconnect(TCustomDASQLMonitor* Monitor, TComponent* Connection,
                             std::uint32_t& MessageID, bool Before);
    static void TRStart(TCustomDASQLMonitor* Monitor, TObject* Obj, std::uint32_t& MessageID,
                        bool Before);
    static void TRCommit(TCustomDASQLMonitor* Monitor, TObject* Obj, std::uint32_t& MessageID,
                         bool Before);
    static void TRRollback(TCustomDASQLMonitor* Monitor, TObject* Obj, std::uint32_t& MessageID,
                           bool Before);
    static void TRCommitRetaining(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                  std::uint32_t& MessageID, bool Before);
    static void TRRollbackRetaining(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                    std::uint32_t& MessageID, bool Before);
    static void TRSavepoint(TCustomDASQLMonitor* Monitor, TObject* Obj, const std::string& Name,
                            std::uint32_t& MessageID, bool Before);
    static void TRRollbackToSavepoint(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                      const std::string& Name, std::uint32_t& MessageID,
                                      bool Before);
    static void TRReleaseSavepoint(TCustomDASQLMonitor* Monitor, TObject* Obj,
                                   const std::string& Name, std::uint32_t& MessageID, bool Before);
    // Sender is the error object; Message its message.
    static void DBError(TCustomDASQLMonitor* Monitor, TObject* Error, const std::string& Message);
    static void ObjectDestroyed(TCustomDASQLMonitor* Monitor, TObject* Obj);
    static void InfoMessage(TCustomDASQLMonitor* Monitor, TComponent* Connection,
                            const std::string& Message);
    static void PoolMessage(TCustomDASQLMonitor* Monitor, TObject* Pool, const std::string& Text,
                            bool AddConnectionCount, int ConnectionCount);

    // The parameter list text: one ":name(type,direction)=value" line per parameter.
    std::string ParamsText(const TDAParams* Params) const;
    // The moHandled identity " [Name$XXXXXXXX; Conn$XXXXXXXX] ", or empty.
    std::string ObjectIdentity(TObject* Obj) const;
    // The record the trace viewer link sends for one of this monitor's events: the object and
    // its parent described, the parameters as four texts each.
    TMonitorEvent ViewerEventOf(const TTraceViewerEvent& Event) const;
    void ViewerEventOf(const TTraceViewerEvent& Event, TMonitorEvent& Into) const;

protected:
    void Loaded() override;

    // Virtual operations of the monitor class.
    virtual bool RegisterComMonitor();
    virtual void UnregisterComMonitor();
    virtual TObject* GetParent(TObject* Obj) const;
    virtual int GetObjectKind(TObject* Obj) const;
    virtual std::string GetParamDataType(const TDAParam& Param) const;
    virtual std::string GetParamParamType(const TDAParam& Param) const;
    virtual std::string GetParamValue(const TDAParam& Param) const;

private:
    struct Note;
    // Brings the actual activity in line with the requested one.
    void SyncActivity();
    void SetActualActive(bool Value);
    bool Passes(TDATraceFlag Flag);
    // Feeds the outlets; the texts only the trace viewer needs are moved out of `N`.
    void Deliver(Note& N, std::uint32_t& MessageID);
    static void Statement(TCustomDASQLMonitor* Monitor, TObject* Obj, const std::string& SQL,
                          const TDAParams* Params, const std::string& Name,
                          std::uint32_t& MessageID, bool Before, int Kind);
    static void Link(TCustomDASQLMonitor* Monitor, TObject* Obj, const char* Prefix,
                     TDATraceFlag Flag, int EventType, std::uint32_t& MessageID, bool Before,
                     bool WithLogin);
    static void Savepoint(TCustomDASQLMonitor* Monitor, TObject* Obj, const char* Prefix,
                          const std::string& Name, std::uint32_t& MessageID, bool Before);

    bool FRequestedActive = true;
    bool FActualActive = false;
    bool FComRegistered = false;
    bool FViewerStarted = false;
    TMonitorOptions FOptions{moDialog, moComMonitor, moTraceViewer, moCustom};
    TDATraceFlags FTraceFlags{tfQPrepare, tfQExecute, tfError, tfConnect,
                              tfTransact, tfMisc,     tfParams};
    TTraceViewerOptions FTraceViewerOptions;
    std::uint32_t FLastStartID = 0;
};

// "Name" of a component with a name, else "ClassName ($XXXXXXXX)".
std::string MonitorObjectName(TObject* Obj);
// The same, written into `Into` (whose memory is kept).
void AssignMonitorObjectName(TObject* Obj, std::string& Into);

} // namespace kv::dataaccess
