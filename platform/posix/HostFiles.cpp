#include "platform/posix/HostFiles.h"

#include "platform/Diagnostics.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace kv::platform::sim::detail {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<KeyValue> parseKeyValues(std::string_view text, const std::filesystem::path& file,
                                     bool* corrupt) {
    std::vector<KeyValue> out;
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        const auto line = trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const auto eq = line.find('=');
        const auto key =
            eq == std::string_view::npos ? std::string_view{} : trim(line.substr(0, eq));
        if (key.empty()) {
            reportDiagnostic(file.string() + ":" + std::to_string(number) +
                             ": corrupt line, expected 'key = value': " + std::string(line));
            if (corrupt)
                *corrupt = true;
            continue;
        }
        out.push_back({number, lowerAscii(key), std::string(trim(line.substr(eq + 1)))});
    }
    return out;
}

std::optional<std::uint32_t> parseNumber(std::string_view text) {
    text = trim(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

ErrorCode fromErrno(int err) {
    switch (err) {
    case ENOENT:
        return win::FileNotFound;
    case ENOTDIR:
        return win::PathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return win::AccessDenied;
    case EEXIST:
    case ENOTEMPTY:
        return win::AlreadyExists;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
        return win::SharingViolation;
    case ENOSPC:
    case EDQUOT:
        return win::DiskFull;
    case ENAMETOOLONG:
        return win::InvalidName;
    case EINVAL:
        return win::InvalidParameter;
    case ESRCH:
        return win::InvalidParameter;
    default:
        return win::GenFailure;
    }
}

Error errnoError(int err, const std::string& what) {
    return Error{fromErrno(err), what + ": " + std::strerror(err)};
}

Result<std::string> readWholeFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errnoError(errno, "cannot open " + file.string());
    std::string out;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return errnoError(err, "cannot read " + file.string());
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

Result<void> writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                                 bool sync) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const auto temp =
        file.parent_path() / ("." + file.filename().string() + ".tmp" + std::to_string(::getpid()) +
                              "-" + std::to_string(random() % 1000000000u));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errnoError(errno, "cannot create " + temp.string());
    if (!writeAll(fd, contents) || (sync && ::fsync(fd) != 0)) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return errnoError(err, "cannot write " + temp.string());
    }
    ::close(fd);
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return errnoError(err, "cannot replace " + file.string());
    }
    return success();
}

std::optional<ProcStat> readProcStat(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!in || !std::getline(in, text))
        return std::nullopt;
    return parseProcStat(text);
}

std::optional<ProcStat> parseProcStat(std::string_view text) {
    text = text.substr(0, text.find('\n'));
    // The command name (field 2) is in parentheses and may itself hold blanks and parentheses;
    // the fields after it start after the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::istringstream rest(std::string(text.substr(close + 1)));
    ProcStat stat;
    rest >> stat.state;
    std::string skip;
    for (int field = 4; field < 22; ++field)
        rest >> skip;
    rest >> stat.startTime;
    if (!rest)
        return std::nullopt;
    return stat;
}

namespace {

std::string fileNamePart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

std::string executableName(const std::string& procDir) {
    char target[4096];
    const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string_view path(target, static_cast<std::size_t>(n));
        if (path.ends_with(" (deleted)"))
            path.remove_suffix(10);
        return fileNamePart(path);
    }
    std::ifstream cmdline(procDir + "/cmdline", std::ios::binary);
    std::string first;
    if (cmdline && std::getline(cmdline, first, '\0') && !first.empty())
        return fileNamePart(first);
    std::ifstream comm(procDir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

} // namespace kv::platform::sim::detail
