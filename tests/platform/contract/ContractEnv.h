#pragma once
// What the platform contract tests need from a backend: its platform object, an empty folder to
// work in and a registry key of their own. contract_test.cpp runs the same cases over every
// backend: the simulated host here (contract_env_posix.cpp) and Windows itself under the
// Windows build (contract_env_win.cpp, run under Wine by the cross build).

#include "platform/Platform.h"
#include "platform/ServerMachine.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kv::platform::contract {

class ContractEnv {
public:
    virtual ~ContractEnv() = default;
    virtual Platform& platform() = 0;
    // The same machine as a server program sees it (where a Windows path is in the file system).
    virtual ServerMachine machine() = 0;
    // An empty folder, as a Windows path without a trailing backslash ("C:\...\kv-contract-1").
    // Removed with everything in it when the environment goes.
    virtual std::string folder() const = 0;
    // A key under the current user's root that does not exist yet; removed with its values when
    // the environment goes.
    virtual std::string registryKey() const = 0;
    // Holds an existing file the way SQL Server holds its attached database files (opened
    // without sharing, platform/FileHold.h) until the returned object goes; null when the file
    // cannot be held.
    std::shared_ptr<void> hold(const std::string& path);
    // Sets or clears the read-only attribute of an existing file; false when that fails.
    virtual bool setReadOnly(const std::string& path, bool readOnly) = 0;
    // The id of the test's own process, which hold() holds files for.
    virtual std::uint32_t ownProcessId() const = 0;
};

std::unique_ptr<ContractEnv> makeContractEnv();

// True when the backend is Windows as Wine provides it (never on the simulated host); a known
// difference of Wine from Windows is then tolerated and shown in the output with
// toleratedWineDifference.
bool runningUnderWine();
void toleratedWineDifference(const char* what);

} // namespace kv::platform::contract
