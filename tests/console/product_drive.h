#pragma once
// A fresh simulated host whose drive C holds the empty product folder C:\Kelvora\Data: the
// ground for the tests of the rebuild's file steps and numbered names.

#include "platform/Platform.h"
#include "platform/posix/SimHost.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

namespace kv::console::testing {

class ProductDrive : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "kelvora-drive-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        auto host = kv::platform::sim::SimHost::create(folder_ / "host");
        ASSERT_TRUE(host) << host.error().message;
        host_.emplace(std::move(host).value());
        platform_ = kv::platform::sim::createSimulatedPlatform(*host_);
        ASSERT_TRUE(files().createFolder("C:\\Kelvora").ok());
        ASSERT_TRUE(files().createFolder("C:\\Kelvora\\Data").ok());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    kv::platform::FileSystem& files() { return platform_->files(); }

    std::filesystem::path folder_;
    std::optional<kv::platform::sim::SimHost> host_;
    std::unique_ptr<kv::platform::Platform> platform_;
};

} // namespace kv::console::testing
