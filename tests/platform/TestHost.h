#pragma once
// A simulated host in a fresh temporary folder for one test, removed afterwards together with
// any service process still running in it.

#include "platform/Diagnostics.h"
#include "platform/Platform.h"
#include "platform/posix/SimHost.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kv::platform::test {

class TestHost {
public:
    TestHost() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kv-platform-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        auto host = sim::SimHost::create(dir_ / "host", sim::CreateOptions{"kelvora-test", 1254});
        if (!host)
            throw std::runtime_error(host.error().message);
        host_ = std::make_unique<sim::SimHost>(std::move(host).value());
        platform_ = sim::createSimulatedPlatform(*host_);
    }
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // The temporary folder around the host (for files outside the drive).
    const std::filesystem::path& scratch() const { return dir_; }
    sim::SimHost& host() { return *host_; }
    Platform& platform() { return *platform_; }
    std::filesystem::path drive() const { return host_->driveC(); }

    void writeReal(const std::filesystem::path& file, const std::string& contents) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << contents;
    }
    std::string readReal(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path dir_;
    std::unique_ptr<sim::SimHost> host_;
    std::unique_ptr<Platform> platform_;
};

// Polls `condition` every 5 ms for at most `limitMs`; true as soon as it holds. Bounded so a
// broken build fails instead of hanging; never used to assert on timing.
inline bool eventually(const std::function<bool()>& condition, int limitMs = 10000) {
    for (int waited = 0; waited < limitMs; waited += 5) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// Collects the platform's diagnostics while it lives.
class DiagnosticCapture {
public:
    DiagnosticCapture() {
        previous_ = setDiagnosticSink([this](const std::string& m) { messages.push_back(m); });
    }
    ~DiagnosticCapture() { setDiagnosticSink(std::move(previous_)); }
    std::vector<std::string> messages;

private:
    DiagnosticSink previous_;
};

} // namespace kv::platform::test
