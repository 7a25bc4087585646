#pragma once
// The file steps of the rebuild, written so that no step ever destroys or replaces the only copy
// of the user's data: a copy that is kept must exist with the size of its source before the
// source may go, and every failure comes back with the Windows error number that caused it.
// Nothing here logs; the rebuild turns the outcomes into its log lines.

#include "platform/FileSystem.h"

#include <string>
#include <vector>

namespace kv::console {

// Where the user's data lies while a rebuild runs, each file under the name of what it holds
// at that moment. Every stop of the rebuild names these.
struct RepairFiles {
    std::string data;     // the old data file, under its present name
    std::string dataCopy; // a verified copy of it
    std::string log;      // the old log file, under its present name (empty: there is none)
    std::string logCopy;  // a verified copy of it
    std::string rebuilt;  // a repaired data file that is not at the product path
    // The product's files once the repair has been run on them where they are: what they hold is
    // the repair's work (finished or not), and the old bytes are only in the copies.
    std::string repairedData;
    std::string repairedLog;
    // The log built for the scratch database (SQL Server 2000). It belongs to the scratch data
    // file, which is the rebuilt file once `rebuilt` is set, never to the product's old data.
    std::string scratchLog;
};

// The log lines that name each file of `files`, in the order data, copy, log, copy, repaired
// data, repaired log, rebuilt, scratch log.
std::vector<std::string> dataLocationLines(const RepairFiles& files);

// For the fault campaign's own test only, never set by the console: every copy below counts as
// done whatever became of it, a deliberately broken copy step that the campaign must catch.
inline bool TrustEveryCopyForTesting = false;

// A short Turkish reason for a Windows error number of a file step.
std::string fileErrorText(platform::ErrorCode code);

// Copies `from` to `to` and checks that the copy has the size of its source. With `replace`
// false an existing `to` is never overwritten. A copy of the wrong size is removed again and
// reported as a read fault. With `progress` the copy is the shell's, which reports its chunks.
platform::Result<void> copyVerified(platform::FileSystem& files, const std::string& from,
                                    const std::string& to, bool replace,
                                    const platform::CopyProgress& progress = {});

// The shell's copy of `from` onto `to` (replacing it) with progress, checked the same way, for a
// file the rebuild makes for its own work: the copy never keeps a read-only attribute of its
// source, so that it can be written, replaced and removed again. Returns 0 or the Windows error
// number, as the shell does.
int shellCopyVerified(platform::FileSystem& files, const std::string& from, const std::string& to,
                      const platform::CopyProgress& progress);

// Puts `from` aside under the new name `to`: a rename when the file system allows it, otherwise
// a verified copy. With `removeSource` the source of such a copy is deleted afterwards (a
// refused delete is an error, and the copy stays). `copied` tells which way it went.
platform::Result<void> moveAside(platform::FileSystem& files, const std::string& from,
                                 const std::string& to, bool removeSource, bool& copied,
                                 const platform::CopyProgress& progress = {});

} // namespace kv::console
