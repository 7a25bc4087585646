#include "dataaccess/MSSQLMonitor.h"

#include "dataaccess/DARegistration.h"
#include "toolkit/ClassBuilder.h"

namespace kv::dataaccess {

namespace {

TMSSQLMonitor* gMonitor = nullptr;

const TEnumInfo kMonitorOptionInfo{
    "TMonitorOption", {"moDialog", "moComMonitor", "moTraceViewer", "moCustom", "moHandled"}};
const TEnumInfo kTraceFlagInfo{"TDATraceFlag",
                               {"tfQPrepare", "tfQExecute", "tfQFetch", "tfError", "tfStmt",
                                "tfConnect", "tfTransact", "tfBlob", "tfService", "tfMisc",
                                "tfParams", "tfObjDestroy", "tfPool"}};

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    ClassBuilder<TTraceViewerOptions>("TTraceViewerOptions", "TPersistent")
        .String("Host", &TTraceViewerOptions::Host)
        .Integer("Port", &TTraceViewerOptions::Port)
        .Default(1000)
        .Integer("ReconnectTimeout", &TTraceViewerOptions::ReconnectTimeout)
        .Default(5000)
        .Integer("SendTimeout", &TTraceViewerOptions::SendTimeout)
        .Default(1000);
    ClassBuilder<TCustomDASQLMonitor>("TCustomDASQLMonitor", "TComponent")
        .Bool("Active", &TCustomDASQLMonitor::Active, &TCustomDASQLMonitor::SetActive)
        .Default(true)
        .Set("Options", &kMonitorOptionInfo, &TCustomDASQLMonitor::Options,
             &TCustomDASQLMonitor::SetOptions)
        .Default(TMonitorOptions{moDialog, moComMonitor, moTraceViewer, moCustom})
        .Object("TraceViewerOptions", &TCustomDASQLMonitor::TraceViewerOptions)
        .Event("OnSQL", &TCustomDASQLMonitor::OnSQL)
        .Set("TraceFlags", &kTraceFlagInfo, &TCustomDASQLMonitor::TraceFlags,
             &TCustomDASQLMonitor::SetTraceFlags)
        .Default(TDATraceFlags{tfQPrepare, tfQExecute, tfError, tfConnect, tfTransact, tfMisc,
                               tfParams});
    ClassBuilder<TMSSQLMonitor>("TMSSQLMonitor", "TCustomDASQLMonitor");
    return true;
}();

} // namespace

TMSSQLMonitor::TMSSQLMonitor(TComponent* AOwner) : TCustomDASQLMonitor(AOwner) {
    if (gMonitor == nullptr)
        gMonitor = this;
    // Made in code, the monitor is live at once; read from a form, it waits for the end of
    // loading (or its first notification).
    if (AOwner == nullptr || !AOwner->ComponentState().Contains(csLoading))
        SetActive(Active());
}

TMSSQLMonitor::~TMSSQLMonitor() {
    if (gMonitor == this)
        gMonitor = nullptr;
}

TMSSQLMonitor* TMSSQLMonitor::Instance() {
    return gMonitor;
}

bool detail::msSqlMonitorClassesRegistered() {
    return registered;
}

} // namespace kv::dataaccess
