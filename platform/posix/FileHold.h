#pragma once
// The simulated host's side of held files (platform/FileHold.h): a holder keeps an exclusive
// flock on its descriptor, and the host's file functions test a file with isHeld() before they
// copy from or onto it, delete it or rename it, refusing a held one with a sharing violation.

#include "platform/FileHold.h"

#include <filesystem>

namespace kv::platform::sim {

using FileHold = platform::FileHold;

// True when another open file holds `file`. A file that does not exist or cannot be opened is not
// held. The probe takes a shared lock for an instant, so two probes never disturb each other.
bool isHeld(const std::filesystem::path& file);

} // namespace kv::platform::sim
