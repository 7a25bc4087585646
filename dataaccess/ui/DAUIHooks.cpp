#include "dataaccess/ui/DAUIHooks.h"

#include "dataaccess/DAPlatform.h"
#include "dataaccess/DBAccess.h"
#include "toolkit/ui/Application.h"

namespace kv::dataaccess::ui {

bool ShowConnectFormModal(TCustomConnectDialog* Dialog);

void InstallDataAccessUI() {
    RegisterMSConnectForm();
    ShowConnectFormHook() = ShowConnectFormModal;
    ApplicationTitleHook() = [] { return Application->Title(); };
    WaitCursorHooks().StartWait = [] { Screen->SetCursor(crSQLWait); };
    WaitCursorHooks().StopWait = [] { Screen->SetCursor(crDefault); };
}

} // namespace kv::dataaccess::ui
