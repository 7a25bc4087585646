#include "dataaccess/ui/DAUIHooks.h"

#include "dataaccess/DAPlatform.h"
#include "dataaccess/DASQLMonitor.h"
#include "dataaccess/DBAccess.h"
#include "dataaccess/ui/DebugForm.h"
#include "toolkit/ui/Application.h"

namespace kv::dataaccess::ui {

bool ShowConnectFormModal(TCustomConnectDialog* Dialog);

void InstallDataAccessUI() {
    RegisterMSConnectForm();
    ShowConnectFormHook() = ShowConnectFormModal;
    ApplicationTitleHook() = [] { return Application->Title(); };
    WaitCursorHooks().StartWait = [] { Screen->SetCursor(crSQLWait); };
    WaitCursorHooks().StopWait = [] { Screen->SetCursor(crDefault); };
    MonitorOutlets().DebugDialog = ShowDebugForm;
}

} // namespace kv::dataaccess::ui
