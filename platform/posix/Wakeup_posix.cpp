#include "platform/Wakeup.h"

#include <cerrno>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv::platform {

// The futex is the wake count itself: the kernel sleeps only while it still holds the ticket.
struct Wakeup::Backend {};

namespace {

std::uint32_t* wordOf(std::atomic<std::uint32_t>& a) {
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    return reinterpret_cast<std::uint32_t*>(&a);
}

} // namespace

Wakeup::Wakeup() = default;
Wakeup::~Wakeup() = default;

void Wakeup::sleep(std::uint32_t ticket, std::uint32_t ms) {
    FSleepers.fetch_add(1);
    timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // Ends with a wake, the time-out, a signal, or at once when the count moved on already.
    ::syscall(SYS_futex, wordOf(FWakes), FUTEX_WAIT_PRIVATE, ticket, &timeout, nullptr, 0);
    FSleepers.fetch_sub(1);
}

void Wakeup::wake() {
    FWakes.fetch_add(1);
    // A sleeper counted after this look has its ticket from before the count moved: the kernel
    // does not let it sleep.
    if (FSleepers.load() != 0)
        ::syscall(SYS_futex, wordOf(FWakes), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace kv::platform
