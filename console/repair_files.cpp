#include "console/repair_files.h"

namespace kv::console {

namespace win = platform::win;
using platform::Error;
using platform::Result;

std::vector<std::string> dataLocationLines(const RepairFiles& files) {
    std::vector<std::string> lines;
    if (!files.data.empty())
        lines.push_back("Eski data dosyası: " + files.data);
    if (!files.dataCopy.empty())
        lines.push_back("Eski data dosyasının kopyası: " + files.dataCopy);
    if (!files.log.empty())
        lines.push_back("Eski log dosyası: " + files.log);
    if (!files.logCopy.empty())
        lines.push_back("Eski log dosyasının kopyası: " + files.logCopy);
    if (!files.repairedData.empty())
        lines.push_back("Onarılan data dosyası: " + files.repairedData);
    if (!files.repairedLog.empty())
        lines.push_back("Onarılan log dosyası: " + files.repairedLog);
    if (!files.rebuilt.empty())
        lines.push_back("Onarılmış data dosyası: " + files.rebuilt);
    if (!files.scratchLog.empty())
        lines.push_back((files.rebuilt.empty() ? "Geçici datanın log dosyası: "
                                               : "Onarılmış data dosyasının log dosyası: ") +
                        files.scratchLog);
    return lines;
}

std::string fileErrorText(platform::ErrorCode code) {
    switch (code) {
    case win::DiskFull:
        return "disk dolu";
    case win::SharingViolation:
        return "dosya başka bir program tarafından kullanılıyor";
    case win::AccessDenied:
        return "erişim engellendi";
    case win::FileNotFound:
    case win::PathNotFound:
        return "dosya bulunamadı";
    case win::FileExists:
    case win::AlreadyExists:
        return "aynı adda bir dosya var";
    case win::ReadFault:
        return "kopya eksik yazıldı";
    default:
        return "Windows hata kodu " + std::to_string(code);
    }
}

namespace {

// The copy at `to` has the size of `from`; a short or missing copy is removed and reported.
Result<void> verifySize(platform::FileSystem& files, const std::string& from, const std::string& to,
                        std::uint64_t sourceSize) {
    auto copySize = files.fileSize(to);
    if (copySize && *copySize == sourceSize)
        return platform::success();
    if (copySize)
        (void)files.deleteFile(to);
    return Error{win::ReadFault, "the copy " + to + " of " + from + " is incomplete"};
}

} // namespace

Result<void> copyVerified(platform::FileSystem& files, const std::string& from,
                          const std::string& to, bool replace,
                          const platform::CopyProgress& progress) {
    if (TrustEveryCopyForTesting) {
        if (progress)
            (void)files.shellCopy(from, to, progress);
        else
            (void)files.copyFile(from, to, !replace);
        return platform::success();
    }
    auto sourceSize = files.fileSize(from);
    if (!sourceSize)
        return sourceSize.error();
    if (progress) {
        // The shell's copy replaces without asking; the caller's wish is checked here.
        if (!replace && (files.fileExists(to) || files.folderExists(to)))
            return Error{win::FileExists, "the file " + to + " already exists"};
        if (const int result = files.shellCopy(from, to, progress); result != 0)
            return Error{static_cast<platform::ErrorCode>(result), "cannot copy " + from};
    } else if (auto copied = files.copyFile(from, to, !replace); !copied) {
        return copied.error();
    }
    return verifySize(files, from, to, *sourceSize);
}

int shellCopyVerified(platform::FileSystem& files, const std::string& from, const std::string& to,
                      const platform::CopyProgress& progress) {
    if (TrustEveryCopyForTesting) {
        (void)files.shellCopy(from, to, progress);
        return 0;
    }
    auto sourceSize = files.fileSize(from);
    if (!sourceSize)
        return static_cast<int>(sourceSize.error().code);
    if (const int result = files.shellCopy(from, to, progress); result != 0)
        return result;
    if (auto verified = verifySize(files, from, to, *sourceSize); !verified)
        return static_cast<int>(verified.error().code);
    auto writable = files.clearReadOnly(to);
    return writable ? 0 : static_cast<int>(writable.error().code);
}

Result<void> moveAside(platform::FileSystem& files, const std::string& from, const std::string& to,
                       bool removeSource, bool& copied, const platform::CopyProgress& progress) {
    copied = false;
    if (files.renameFile(from, to))
        return platform::success();
    if (auto kept = copyVerified(files, from, to, false, progress); !kept)
        return kept.error();
    copied = true;
    if (removeSource)
        if (auto removed = files.deleteFile(from); !removed)
            return removed.error();
    return platform::success();
}

} // namespace kv::console
