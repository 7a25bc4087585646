// The contract environment of the simulated host: a fresh host per test.

#include "platform/posix/FileHold.h"
#include "tests/platform/TestHost.h"
#include "tests/platform/contract/ContractEnv.h"

namespace kv::platform::contract {

namespace {

class SimEnv final : public ContractEnv {
public:
    SimEnv() { (void)host_.platform().files().createFolder(folder()); }
    Platform& platform() override { return host_.platform(); }
    std::string folder() const override { return "C:\\Contract"; }
    std::string registryKey() const override { return "SOFTWARE\\Kelvora\\ContractTest"; }
    std::shared_ptr<void> hold(const std::string& path) override {
        auto real = host_.host().resolve(path);
        if (!real)
            return nullptr;
        auto held = sim::FileHold::hold(*real);
        if (!held)
            return nullptr;
        return std::make_shared<sim::FileHold>(std::move(held).value());
    }

private:
    test::TestHost host_;
};

} // namespace

std::unique_ptr<ContractEnv> makeContractEnv() {
    return std::make_unique<SimEnv>();
}

} // namespace kv::platform::contract
