#pragma once
// The result type of every fallible platform call: a value or a Windows-style error.
//
// Platform calls report expected failures (a file that is not there, a refused access right,
// a service that is not running) as values, never as exceptions; callers decide what each code
// means to them. The codes are the Windows error numbers (winerror.h) on both backends, so code
// written against the Win32 behaviour works unchanged on the simulated host.
//
// Exceptions are kept for broken set-ups only (PlatformError: a missing simulated host, an
// unusable code page), where no caller could carry on.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace kv::platform {

using ErrorCode = std::uint32_t;

// The Windows error numbers that the platform layer reports.
namespace win {
inline constexpr ErrorCode Success = 0;
inline constexpr ErrorCode InvalidFunction = 1;
inline constexpr ErrorCode FileNotFound = 2;
inline constexpr ErrorCode PathNotFound = 3;
inline constexpr ErrorCode AccessDenied = 5;
inline constexpr ErrorCode InvalidHandle = 6;
inline constexpr ErrorCode InvalidData = 13;
inline constexpr ErrorCode WriteFault = 29;
inline constexpr ErrorCode ReadFault = 30;
inline constexpr ErrorCode GenFailure = 31;
inline constexpr ErrorCode SharingViolation = 32;
inline constexpr ErrorCode NotSupported = 50;
inline constexpr ErrorCode FileExists = 80;
inline constexpr ErrorCode InvalidParameter = 87;
inline constexpr ErrorCode DiskFull = 112;
inline constexpr ErrorCode InvalidName = 123;
inline constexpr ErrorCode BadPathname = 161;
inline constexpr ErrorCode AlreadyExists = 183;
inline constexpr ErrorCode NoMoreItems = 259;
inline constexpr ErrorCode Directory = 267;
inline constexpr ErrorCode BadDb = 1009; // the registry file is corrupt
inline constexpr ErrorCode InvalidServiceControl = 1052;
inline constexpr ErrorCode ServiceRequestTimeout = 1053;
inline constexpr ErrorCode ServiceNoThread = 1054;
inline constexpr ErrorCode ServiceAlreadyRunning = 1056;
inline constexpr ErrorCode ServiceDisabled = 1058;
inline constexpr ErrorCode ServiceDoesNotExist = 1060;
inline constexpr ErrorCode ServiceCannotAcceptCtrl = 1061;
inline constexpr ErrorCode ServiceNotActive = 1062;
inline constexpr ErrorCode ProcessAborted = 1067;
inline constexpr ErrorCode NoUnicodeTranslation = 1113;
inline constexpr ErrorCode Cancelled = 1223;
inline constexpr ErrorCode FileCorrupt = 1392;
inline constexpr ErrorCode DatatypeMismatch = 1629;
inline constexpr ErrorCode UnsupportedType = 1630;      // a registry value of another type
inline constexpr ErrorCode RpcServerUnavailable = 1722; // an unknown machine name
} // namespace win

// A failure: the Windows error number and a sentence for people (logs, simhost, test output).
struct Error {
    ErrorCode code = win::GenFailure;
    std::string message;
};

// A set-up so broken that nothing can go on (missing KELVORA_HOST, unreadable host folder).
class PlatformError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Value-or-Error. Marked [[nodiscard]] so a dropped failure is a compiler warning (an error in
// this tree). Reading value() of a failure is a programming error and throws std::logic_error.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    // Anything convertible to T (unique_ptr<Derived> for unique_ptr<Base>, a literal for string).
    template <typename U>
    requires(std::is_convertible_v<U&&, T> && !std::is_same_v<std::decay_t<U>, T> &&
             !std::is_same_v<std::decay_t<U>, Error>) Result(U&& value)
        : state_(std::in_place_index<0>, T(std::forward<U>(value))) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return check(), std::get<0>(state_); }
    const T& value() const& { return check(), std::get<0>(state_); }
    T&& value() && { return check(), std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T valueOr(T fallback) const& { return ok() ? std::get<0>(state_) : std::move(fallback); }

    // The failure; an empty Error with code 0 on success.
    const Error& error() const {
        static const Error none{win::Success, {}};
        return ok() ? none : std::get<1>(state_);
    }
    ErrorCode code() const { return error().code; }

private:
    void check() const {
        if (!ok())
            throw std::logic_error("value() of a failed platform result: " +
                                   std::get<1>(state_).message);
    }
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : failed_(true), error_(std::move(error)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_; }
    ErrorCode code() const { return failed_ ? error_.code : win::Success; }

private:
    bool failed_ = false;
    Error error_{win::Success, {}};
};

inline Result<void> success() {
    return {};
}

} // namespace kv::platform
