#include "platform/Wakeup.h"
#include "platform/win32/WinText.h"

namespace kv::platform {

// An auto-reset event: a wake that comes before the sleep leaves it set, and the sleep returns at
// once (the ticket is not needed for that).
struct Wakeup::Backend {
    HANDLE Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Backend() {
        if (Event != nullptr)
            CloseHandle(Event);
    }
};

Wakeup::Wakeup() : FBackend(std::make_unique<Backend>()) {}
Wakeup::~Wakeup() = default;

void Wakeup::sleep(std::uint32_t ticket, std::uint32_t ms) {
    if (FBackend->Event == nullptr) {
        Sleep(ms < 1 ? ms : 1); // no event: look again soon
        return;
    }
    // Counted before the look at the wakes: a waker that does not see this sleeper has already
    // counted its wake, and the look sees it. A wake set for an earlier sleep that had ended
    // already is cleared first; one set after this is counted before it, and the look sees it.
    FSleepers.fetch_add(1);
    ResetEvent(FBackend->Event);
    if (FWakes.load() == ticket)
        WaitForSingleObject(FBackend->Event, ms);
    FSleepers.fetch_sub(1);
}

void Wakeup::wake() {
    FWakes.fetch_add(1);
    if (FSleepers.load() != 0 && FBackend->Event != nullptr)
        SetEvent(FBackend->Event);
}

} // namespace kv::platform
