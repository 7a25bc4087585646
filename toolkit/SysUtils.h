// Exceptions of the toolkit and a few text helpers.
//
// Every error the toolkit raises derives from Exception (message in UTF-8, what() gives it).
//   EAbort             the silent abort: message "Operation aborted"; Abort() raises it. The
//                      application shows nothing for it.
//   EConvertError      a value that cannot be converted ("Cannot assign a %s to a %s", ...).
//   EStreamError > EFilerError > EReadError > EParserError
//                      malformed component streams. EReadError carries the position: Offset
//                      (byte offset in a binary stream) or Line/Column (1-based, text form);
//                      -1 where unknown. EParserError is raised for the textual form.
//   EClassNotFound     "Class %s not found" (an EFilerError, not a read error).
//   EComponentError    invalid or duplicate component names.
//   EStringListError   index out of bounds, duplicates, sorted-list misuse.
//   EPropertyError     unknown published property; EPropertyConvertError wrong kind of value.
// EDatabaseError lives in toolkit/DB.h, ERegistryException in toolkit/Registry.h.
//
// Text helpers work on UTF-8 std::string; case folding touches only the ASCII letters a-z.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

class Exception : public std::exception {
public:
    explicit Exception(std::string Message);
    ~Exception() override;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    const char* what() const noexcept override;
    const std::string& Message() const { return FMessage; }
    void SetMessage(std::string Message) { FMessage = std::move(Message); }
    virtual std::string ClassName() const { return "Exception"; }

private:
    std::string FMessage;
};

class EAbort : public Exception {
public:
    EAbort();
    explicit EAbort(std::string Message) : Exception(std::move(Message)) {}
    std::string ClassName() const override { return "EAbort"; }
};

// Raises the silent abort.
[[noreturn]] void Abort();

class EConvertError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EConvertError"; }
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EStreamError"; }
};

class EFilerError : public EStreamError {
public:
    using EStreamError::EStreamError;
    std::string ClassName() const override { return "EFilerError"; }
};

class EReadError : public EFilerError {
public:
    explicit EReadError(std::string Message, std::int64_t Offset = -1, int Line = -1,
                        int Column = -1)
        : EFilerError(std::move(Message)), FOffset(Offset), FLine(Line), FColumn(Column) {}
    std::string ClassName() const override { return "EReadError"; }
    std::int64_t Offset() const { return FOffset; }
    int Line() const { return FLine; }
    int Column() const { return FColumn; }

private:
    std::int64_t FOffset;
    int FLine;
    int FColumn;
};

class EParserError : public EReadError {
public:
    using EReadError::EReadError;
    std::string ClassName() const override { return "EParserError"; }
};

class EClassNotFound : public EFilerError {
public:
    using EFilerError::EFilerError;
    std::string ClassName() const override { return "EClassNotFound"; }
};

class EComponentError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EComponentError"; }
};

class EStringListError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EStringListError"; }
};

class EPropertyError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EPropertyError"; }
};

class EPropertyConvertError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EPropertyConvertError"; }
};

// ASCII case folding (a-z only; other bytes unchanged).
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);
// Compares after folding a-z to upper case, bytes unsigned: <0, 0, >0.
int CompareText(std::string_view A, std::string_view B);
bool SameText(std::string_view A, std::string_view B);
// Byte-wise comparison: <0, 0, >0.
int CompareStr(std::string_view A, std::string_view B);

// Removes bytes <= ' ' at both ends / the start / the end.
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

std::string IntToStr(std::int64_t Value);
// Hexadecimal, upper case, at least Digits digits.
std::string IntToHex(std::uint64_t Value, int Digits);
// Decimal or "$hex"/"0x" hex, optional sign, surrounding blanks allowed;
// EConvertError "'%s' is not a valid integer value" otherwise.
std::int64_t StrToInt(std::string_view S);
std::int64_t StrToIntDef(std::string_view S, std::int64_t Default);
bool TryStrToInt(std::string_view S, std::int64_t& Value);

// The text in single quotes with inner quotes doubled.
std::string QuotedStr(std::string_view S);

// True for a letter or underscore followed by letters, digits and underscores (ASCII).
bool IsValidIdent(std::string_view Ident);
