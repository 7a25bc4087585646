// kelvora-console: the repair console. It finds its machine through the platform layer (on the
// simulated host: the folder named by KELVORA_HOST). Its one option writes the support bundle
// without opening the window, also when the server does not run:
//
//   kelvora-console --support-bundle FILE.zip
//
// (on the simulated host FILE is a path of its drive C, "C:\destek.zip"); exit status 0 when
// the bundle is written, 1 when it is not, 2 for a missing file name.

#include "console/ConnectForm.h"
#include "console/Unit1.h"
#include "console/support_bundle.h"
#include "dataaccess/DAPlatform.h"
#include "dataaccess/DARegistration.h"
#include "dataaccess/ui/DAUIHooks.h"
#include "platform/Platform.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/provider.h"
#include "skin/SkinRegistration.h"
#include "toolkit/ui/Application.h"

#include <QCoreApplication>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string_view>

namespace {

constexpr std::string_view SupportBundleOption = "--support-bundle";

// The support bundle from the command line: no window, and so no display, is needed. The
// arguments come through Qt, which reads them in Unicode on Windows as well.
int writeSupportBundle(int argc, char** argv, kv::platform::Platform& platform) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype at = arguments.indexOf(
        QString::fromUtf8(SupportBundleOption.data(), SupportBundleOption.size()));
    if (at + 1 >= arguments.size() || arguments[at + 1].isEmpty()) {
        std::fprintf(stderr, "kelvora-console: --support-bundle takes the path of the zip file\n");
        return 2;
    }
    const std::string path = arguments[at + 1].toStdString();
    const std::string failed =
        kv::console::writeSupportBundle(platform, nullptr, path, std::chrono::system_clock::now());
    if (!failed.empty()) {
        std::fprintf(stderr, "kelvora-console: destek paketi yazılamadı: %s\n", failed.c_str());
        return 1;
    }
    std::printf("Destek paketi yazıldı: %s\n", path.c_str());
    return 0;
}

} // namespace

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

    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == SupportBundleOption)
            return writeSupportBundle(argc, argv, *platform);

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
