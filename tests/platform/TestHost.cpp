#include "TestHost.h"

#include "platform/posix/HostFiles.h"

#include <csignal>
#include <sys/wait.h>

namespace kv::platform::test {

TestHost::~TestHost() {
    platform_.reset();
    // End every service process the test left behind: the pid files name them.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(host_->runFolder(), ec)) {
        if (entry.path().extension() != ".pid")
            continue;
        std::ifstream in(entry.path());
        std::string key, eq, key2, eq2;
        int pid = 0;
        std::uint64_t startTime = 0;
        if (!(in >> key >> eq >> pid >> key2 >> eq2 >> startTime) || key != "pid" || pid <= 0)
            continue;
        const auto stat = sim::detail::readProcStat(pid);
        if (stat && stat->startTime == startTime) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    std::filesystem::remove_all(dir_, ec);
}

} // namespace kv::platform::test
