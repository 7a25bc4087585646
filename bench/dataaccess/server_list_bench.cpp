// bench-server-list [--rounds N]: how long the server list takes to build when nothing answers
// the discovery request. The goal is the receive time-out plus 100 ms. The discovery target is
// a loopback port that is bound but never answers; the host is a fresh simulated one with one
// local instance in its registry and no client configuration.

#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSServices.h"
#include "platform/CompositePlatform.h"
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
    int rounds = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));

    std::string pattern = (std::filesystem::temp_directory_path() / "kv-bench-XXXXXX").string();
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    auto host = kv::platform::sim::SimHost::create(folder);
    if (!host) {
        std::fprintf(stderr, "bench-server-list: %s\n", host.error().message.c_str());
        return 1;
    }
    ::setenv("KELVORA_HOST", folder.c_str(), 1);
    auto simulated = kv::platform::sim::createSimulatedPlatform(*host);
    if (auto key = simulated->registry().createKey(
            kv::platform::RegistryRoot::LocalMachine,
            "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL"))
        (void)(*key)->writeString("MSSQLSERVER", "MSSQL.1");

    // A port that takes the request and stays silent.
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("bench-server-list: bind");
        return 1;
    }
    kv::platform::CompositePlatform platform(simulated.get());
    platform.setDiscoveryTarget({"127.0.0.1", ntohs(address.sin_port), false});
    kv::dataaccess::SetDataAccessPlatform(&platform);
    kv::oledb::ComScope com;

    using Clock = std::chrono::steady_clock;
    const auto goal =
        std::chrono::milliseconds(kv::dataaccess::TMSServerEnumerator::ReceiveTimeout + 100);
    Clock::duration worst{};
    Clock::duration total{};
    int listed = 0;
    for (int round = 0; round < rounds; ++round) {
        TStringList list;
        const auto start = Clock::now();
        kv::dataaccess::TMSServerEnumerator().GetServerList(&list);
        const auto took = Clock::now() - start;
        worst = std::max(worst, took);
        total += took;
        listed = list.Count();
    }
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    std::printf("server list with no answer: %d rounds, %d names, mean %.1f ms, worst %.1f ms, "
                "goal %lld ms: %s\n",
                rounds, listed, ms(total) / rounds, ms(worst), static_cast<long long>(goal.count()),
                worst <= goal ? "met" : "missed");
    kv::dataaccess::SetDataAccessPlatform(nullptr);
    ::close(silent);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return worst <= goal ? 0 : 1;
}
