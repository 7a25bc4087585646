#pragma once
// The service control steps of the console, written against the platform's service manager so
// that they run unchanged on Windows, on the simulated host and against fakes in tests.
//
// The steps follow the Win32 sequence the console has always used: open the manager, open the
// service with just the rights the step needs, query / start / stop, wait on the checkpoint in
// fixed 8000 ms sleeps, close the service handle and then the manager handle. Nothing here logs
// or raises: every refusal simply ends the step, and the caller reads the outcome afterwards.

#include "platform/Clock.h"
#include "platform/ServiceManager.h"

#include <cstdint>
#include <string_view>

namespace kv::console {

// The service state as the console shows it.
enum ServiceView : int {
    svcMissing = 0, // no manager, no service, refused rights, or a pending state
    svcStopped = 1, // stopped or paused
    svcRunning = 2, // running
};

// One sleep of the wait loops.
inline constexpr std::uint32_t ServiceWaitStepMs = 8000;
// The longest total wait of one loop. A service that neither reaches the awaited state nor lowers
// its checkpoint would otherwise keep the window blocked for ever; after ten minutes the loop
// gives up as if the checkpoint had fallen.
inline constexpr std::uint32_t ServiceWaitLimitMs = 10 * 60 * 1000;

// How a start or stop request ended.
enum class ServiceWaitEnd {
    NoWait,         // the request was refused (or nothing could be opened): no wait happened
    Reached,        // the service reached the awaited state
    CheckpointFell, // its checkpoint fell below the one seen before a sleep
    Settled,        // it came to rest in another state (stopped when starting, running when
                    // stopping) without any progress
    Vanished,       // its status could no longer be read
    TimedOut,       // ServiceWaitLimitMs passed
};

// Maps a Windows service state to the console's view of it.
ServiceView serviceViewOf(std::uint32_t currentState);

// Opens the manager (connect) and the service (query status and start) and maps the current
// state. Anything that cannot be opened or queried reads as svcMissing.
ServiceView queryServiceView(platform::ServiceManager& services, std::string_view machine,
                             std::string_view service);

// Starts the service and, when the start was accepted and its status could be read, waits until
// it runs: one 8000 ms sleep at a time, ending early when a status query fails, the checkpoint
// falls below the one seen before the sleep, or the service rests stopped with no progress (a
// service that died right after its start), and at the latest after ServiceWaitLimitMs.
ServiceWaitEnd startServiceAndWait(platform::ServiceManager& services, platform::Clock& clock,
                                   std::string_view machine, std::string_view service);

// As startServiceAndWait, with a stop request and waiting until the service is stopped; a
// service that rests running with no progress has refused the stop.
ServiceWaitEnd stopServiceAndWait(platform::ServiceManager& services, platform::Clock& clock,
                                  std::string_view machine, std::string_view service);

} // namespace kv::console
