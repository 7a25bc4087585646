// The service side on the simulated host: reports go to the status file the host's service
// manager named in KELVORA_SERVICE_STATUS, and the stop request is SIGTERM (SIGINT in the
// foreground too), taken with sigwait.

#include "platform/ServiceManager.h"
#include "platform/ServiceProcess.h"
#include "platform/posix/ServiceReporter.h"

#include <csignal>
#include <mutex>
#include <optional>
#include <pthread.h>

namespace kv::platform {

namespace {

class PosixServiceProcess final : public ServiceProcess {
public:
    explicit PosixServiceProcess(std::optional<sim::ServiceReporter> reporter)
        : reporter_(std::move(reporter)) {}

    Result<void> report(std::uint32_t state, std::uint32_t waitHint, std::uint32_t) override {
        std::lock_guard lock(mutex_);
        if (state == ServiceState::StartPending || state == ServiceState::StopPending)
            ++checkPoint_;
        else
            checkPoint_ = 0;
        if (!reporter_)
            return success();
        return reporter_->report(state, checkPoint_, waitHint);
    }

    void waitForStop() override {
        sigset_t signals = stopSignals();
        int received = 0;
        while (sigwait(&signals, &received) != 0) {
        }
    }

    bool reporting() const override { return reporter_.has_value(); }

    static sigset_t stopSignals() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        return signals;
    }

private:
    std::mutex mutex_;
    std::optional<sim::ServiceReporter> reporter_;
    std::uint32_t checkPoint_ = 0;
};

int run(std::optional<sim::ServiceReporter> reporter, const ServiceBody& body) {
    // The stop signals are taken by sigwait: block them before the body starts any thread, so
    // that every thread inherits the mask. A peer that has gone is an error of its send, never
    // a signal.
    const sigset_t signals = PosixServiceProcess::stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    PosixServiceProcess process(std::move(reporter));
    return body(process);
}

} // namespace

Result<int> runAsService(std::string_view, const ServiceBody& body) {
    auto reporter = sim::ServiceReporter::fromEnvironment();
    if (!reporter)
        return run(std::nullopt, body);
    return run(std::move(reporter).value(), body);
}

int runInForeground(const ServiceBody& body) {
    return run(std::nullopt, body);
}

} // namespace kv::platform
