#include "console/data_files.h"

namespace kv::console {

DataFilesPresence checkDataFilesPresence(platform::FileSystem& files) {
    DataFilesPresence presence;
    presence.folder = files.folderExists(DataFolderPath);
    presence.dataFile = files.fileExists(DataFilePath);
    presence.logFile = files.fileExists(LogFilePath);
    return presence;
}

} // namespace kv::console
