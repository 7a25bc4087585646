// kelvora-console: the repair console. It finds its machine through the platform layer (on the
// simulated host: the folder named by KELVORA_HOST) and has no command line of its own.

#include "console/Unit1.h"
#include "platform/Platform.h"
#include "toolkit/ui/Application.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    Application->Initialize(argc, argv);

    std::unique_ptr<kv::platform::Platform> platform;
    try {
        platform = kv::platform::createPlatform();
    } catch (const kv::platform::PlatformError& error) {
        std::fprintf(stderr, "kelvora-console: %s\n", error.what());
        return 2;
    }

    Form1 = new TForm1(Application, *platform);
    Application->SetMainForm(Form1);
    Application->Run();
    return 0;
}
