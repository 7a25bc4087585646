// "Bağlan": the manual login after a failed automatic connect. The connect dialog shows the
// console's login form (ConnectForm.h) and connects MSCon; on success the usual connect step
// reports the connection (it finds MSCon open and does not connect again). The database
// buttons keep the state of the last database check.

#include "console/Unit1.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSConnectDialog.h"

void TForm1::BaglanBTNClick(TObject* /*Sender*/) {
    kv::dataaccess::TCustomConnectDialog* dialog = MSCon->ConnectDialog();
    if (dialog == nullptr || !dialog->Execute())
        return;
    OperationScope operation(*this);
    ConnectServer();
}
