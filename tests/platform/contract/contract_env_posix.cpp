// The contract environment of the simulated host: a fresh host per test.

#include "tests/platform/TestHost.h"
#include "tests/platform/contract/ContractEnv.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace kv::platform::contract {

namespace {

class SimEnv final : public ContractEnv {
public:
    SimEnv() { (void)host_.platform().files().createFolder(folder()); }
    Platform& platform() override { return host_.platform(); }
    ServerMachine machine() override { return ServerMachine(host_.host()); }
    std::string folder() const override { return "C:\\Contract"; }
    std::string registryKey() const override { return "SOFTWARE\\Kelvora\\ContractTest"; }
    // The simulated host's read-only attribute is the missing owner write permission.
    bool setReadOnly(const std::string& path, bool readOnly) override {
        auto real = host_.host().resolve(path);
        if (!real)
            return false;
        std::error_code ec;
        std::filesystem::permissions(*real, std::filesystem::perms::owner_write,
                                     readOnly ? std::filesystem::perm_options::remove
                                              : std::filesystem::perm_options::add,
                                     ec);
        return !ec;
    }
    std::uint32_t ownProcessId() const override { return static_cast<std::uint32_t>(::getpid()); }

private:
    test::TestHost host_;
};

} // namespace

bool runningUnderWine() {
    return false;
}

std::unique_ptr<ContractEnv> makeContractEnv() {
    return std::make_unique<SimEnv>();
}

} // namespace kv::platform::contract
