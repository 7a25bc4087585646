// kelvora-console: the repair console. It finds its machine through the platform layer (on the
// simulated host: the folder named by KELVORA_HOST) and has no command line of its own.

#include "console/ConnectForm.h"
#include "console/Unit1.h"
#include "dataaccess/DAPlatform.h"
#include "dataaccess/DARegistration.h"
#include "dataaccess/ui/DAUIHooks.h"
#include "platform/Platform.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/provider.h"
#include "skin/SkinRegistration.h"
#include "toolkit/ui/Application.h"

#include <cstdio>
#include <exception>
#include <memory>

int main(int argc, char** argv) {
    // The machine first: without it there is nothing to show, and the message must reach the
    // terminal even where no display is available.
    std::unique_ptr<kv::platform::Platform> platform;
    try {
        platform = kv::platform::createPlatform();
    } catch (const kv::platform::PlatformError& error) {
        std::fprintf(stderr, "kelvora-console: %s\n", error.what());
        return 2;
    }

    // COM for the main thread: the data-access layer reaches SQL Server through OLE DB. A
    // Windows without any SQL Server OLE DB provider (Wine) gets the portable one, over ODBC.
    kv::oledb::ComScope com;
    const kv::oledb::ProviderChoice provider = kv::oledb::usePortableProviderWhereNoneInstalled();
    Application->Initialize(argc, argv);
    // What the units offer by name and the hooks of the data-access layer: the login forms,
    // the form-showing and wait-cursor hooks, and the machine for the stored logins.
    kv::console::RegisterConnectForm();
    kv::skin::RegisterSkinControls();
    kv::dataaccess::RegisterDataAccessClasses();
    kv::dataaccess::ui::InstallDataAccessUI();
    kv::dataaccess::SetDataAccessPlatform(platform.get());
    try {
        Form1 = new TForm1(Application, *platform);
    } catch (const std::exception& error) {
        // A window that cannot be built (a damaged layout or picture) is reported like any
        // other error, and the program ends.
        std::fprintf(stderr, "kelvora-console: %s\n", error.what());
        Application->ShowException(error);
        return 1;
    }
    Form1->SetStartupNote(provider.logLine);
    Application->SetMainForm(Form1);
    Application->Run();
    return 0;
}
