#pragma once
// The product's data folder and its two database files, as the file check looks at them.

#include "platform/FileSystem.h"

#include <string_view>

namespace kv::console {

inline constexpr std::string_view DataFolderPath = "C:\\Kelvora\\Data";
inline constexpr std::string_view DataFilePath = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
inline constexpr std::string_view LogFilePath = "C:\\Kelvora\\Data\\kelvora_Log.LDF";

struct DataFilesPresence {
    bool folder = false;
    bool dataFile = false; // a folder carrying the file's name does not count
    bool logFile = false;
};

// Looks only; a path that cannot be examined counts as absent.
DataFilesPresence checkDataFilesPresence(platform::FileSystem& files);

} // namespace kv::console
