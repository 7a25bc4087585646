// Shared by the fuzz targets of the simulated host: a scratch host made once per fuzzing process
// (removed at exit), and a diagnostic sink that counts reports instead of printing them.
#pragma once

#include "platform/posix/SimHost.h"

#include <filesystem>

namespace kv::fuzz {

// The scratch host: drive_c holds the product folder (C:\Kelvora\Data\kelvora_Data.MDF) and a
// folder with Turkish letters, so that look-ups without regard to case have something to find.
platform::sim::SimHost& scratchHost();

// Reports since the last call (the sink is installed by the first call).
int takeDiagnostics();

} // namespace kv::fuzz
