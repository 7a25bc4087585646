#pragma once
// Private: the Win32 backends, put together by Platform_win.cpp.

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ProcessTable.h"
#include "platform/Registry.h"
#include "platform/ServiceManager.h"
#include "platform/win32/WinText.h"

#include <map>
#include <mutex>

namespace kv::platform::win32 {

class WinServiceManager final : public ServiceManager {
public:
    WinServiceManager() = default;
    ~WinServiceManager() override;

    Result<ServiceHandle> openManager(std::string_view machine, std::uint32_t access) override;
    Result<ServiceHandle> openService(ServiceHandle manager, std::string_view name,
                                      std::uint32_t access) override;
    Result<ServiceStatus> queryStatus(ServiceHandle service) override;
    Result<void> start(ServiceHandle service) override;
    Result<ServiceStatus> controlStop(ServiceHandle service) override;
    Result<void> close(ServiceHandle handle) override;

private:
    ServiceHandle remember(SC_HANDLE handle);
    SC_HANDLE native(ServiceHandle handle);

    std::mutex mutex_;
    std::map<std::uint64_t, SC_HANDLE> handles_;
    std::uint64_t nextHandle_ = 1;
};

class WinProcessTable final : public ProcessTable {
public:
    WinProcessTable() = default;
    ~WinProcessTable() override;

    Result<std::vector<ProcessEntry>> snapshot() override;
    Result<ProcessHandle> openForTerminate(std::uint32_t pid) override;
    Result<void> terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    Result<void> close(ProcessHandle handle) override;

private:
    std::mutex mutex_;
    std::map<std::uint64_t, HANDLE> handles_;
    std::uint64_t nextHandle_ = 1;
};

class WinFileSystem final : public FileSystem {
public:
    bool fileExists(std::string_view path) override;
    bool folderExists(std::string_view path) override;
    Result<std::uint64_t> fileSize(std::string_view path) override;
    Result<void> copyFile(std::string_view from, std::string_view to, bool failIfExists) override;
    Result<void> deleteFile(std::string_view path) override;
    Result<void> renameFile(std::string_view from, std::string_view to) override;
    Result<void> createFolder(std::string_view path) override;
    Result<void> clearReadOnly(std::string_view path) override;
    Result<std::string> readFile(std::string_view path) override;
    Result<void> writeFile(std::string_view path, std::string_view contents) override;
    int shellCopy(std::string_view from, std::string_view to,
                  const CopyProgress& progress) override;
    Result<FileInfo> fileInfo(std::string_view path) override;
    Result<std::uint64_t> freeSpace(std::string_view folder) override;
    Result<std::vector<FileHolder>> fileHolders(std::string_view path) override;
};

class WinRegistry final : public Registry {
public:
    Result<std::unique_ptr<RegistryKey>> openKey(RegistryRoot root, std::string_view path) override;
    Result<std::unique_ptr<RegistryKey>> createKey(RegistryRoot root,
                                                   std::string_view path) override;
};

// A code page of the system (the ANSI code page by default) with the program's rule for what it
// lacks: "?" for every character without a mapping of its own (no best fit: "Ā" is not "A"), for
// every byte the code page leaves undefined (Windows reads 0x81 of 1252 or 1254 as U+0081) and for
// bytes that are not UTF-8. Throws PlatformError for a code page the system does not have.
class WinCodePage final : public CodePage {
public:
    explicit WinCodePage(std::uint32_t number = 0);

    std::uint32_t number() const override { return number_; }
    std::string fromUtf8(std::string_view utf8) const override;
    std::string toUtf8(std::string_view ansi) const override;

private:
    std::uint32_t number_;
    bool singleByte_ = false;
    bool c1Undefined_ = false; // the Windows 874 and 125x pages: U+0080..U+009F are holes
    std::string bytes_[256];   // single-byte pages: the UTF-8 text of each byte, or "?"
};

} // namespace kv::platform::win32
