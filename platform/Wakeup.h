#pragma once
// One thread's sleep that other threads end, for a thread that must never be held up by the one
// it wakes: waking is a system call at most, takes no lock and waits for nothing, and a wake that
// comes before the sleep ends the sleep at once.
//
// The sleeping thread takes a ticket, looks at whatever it waits for, and sleeps on the ticket
// only if there is nothing yet; a wake given after the ticket was taken ends that sleep (or
// makes it return at once). Sleeps may also end early for no reason: the sleeper looks again.

#include <atomic>
#include <cstdint>
#include <memory>

namespace kv::platform {

class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    std::uint32_t ticket() const { return FWakes.load(); }
    // Sleeps until a wake given after `ticket`, or for `ms` milliseconds at most.
    void sleep(std::uint32_t ticket, std::uint32_t ms);
    void wake();

private:
    std::atomic<std::uint32_t> FWakes{0};
    std::atomic<std::uint32_t> FSleepers{0};
    struct Backend; // the system's object, where the system needs one
    std::unique_ptr<Backend> FBackend;
};

} // namespace kv::platform
