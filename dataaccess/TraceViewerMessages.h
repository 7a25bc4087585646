#pragma once
// The messages of the trace viewer link and their byte layout.
//
// The link is one TCP stream from the traced program to the trace viewer; nothing comes back.
// Every message is its type as an integer, then its fields. An integer is 4 bytes, most
// significant first, two's complement; a text is the count of its UTF-8 bytes as an integer,
// then the bytes (an empty text is the integer 0 alone). A bare integer 6 is the keep-alive
// probe between messages.
//
//   type 1  finish (event type 1): process id, event type, description
//   type 2  start-up (event type 0): ... , executable path
//   type 4  event start: ... , event number, start time, object id, name, kind, type name,
//           parent id, name, kind, type name, statement text, parameters, call stack
//   type 5  event end: ... , event number, end time, failed, error text, parameters, rows
//
// Parameters are a count, then four texts each (name, data type, direction, value); the call
// stack a count and one text each. Times are the 32-bit millisecond tick count.
//
// The reading side (DecodeMonitorMessage) serves the trace viewer; it never reads beyond the
// bytes it is given and takes no count larger than those bytes could hold.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::dataaccess {

struct TMsgSQLParam {
    std::string Name;
    std::string DataType;
    std::string Direction;
    std::string Value;
};

// What the monitor hands in for one start or end event.
struct TMonitorEvent {
    std::uint32_t EventNumber = 0;
    int EventType = 0;
    std::int32_t ObjectID = 0;
    std::string ObjectName;
    int ObjectKind = 0;
    std::string ObjectTypeName;
    std::int32_t ParentID = 0;
    std::string ParentName;
    int ParentKind = 0;
    std::string ParentTypeName;
    std::string Description;
    std::string SQL;
    std::vector<TMsgSQLParam> Params;
    bool Failed = false;
    std::string ErrorText;
    std::int32_t RowsAffected = 0;
    std::vector<std::string> CallStack; // always empty here
};

// Message types on the wire.
enum : std::int32_t {
    mtEvent = 1,
    mtStartup = 2,
    mtEventStart = 4,
    mtEventEnd = 5,
    mtProbe = 6,
};

// Where a message writes its fields. A writer that cannot write raises (the socket writer:
// "Socket error %d").
class TMessagePacker {
public:
    virtual ~TMessagePacker() = default;
    virtual void WriteInteger(std::int32_t Value) = 0;
    virtual void WriteString(const std::string& Value) = 0;
};

// Collects the bytes of messages: in a buffer of its own (tests, the viewer's own checks), or
// appended to a given string (the link's queue, whose slots keep their memory).
class TBufferMessagePacker final : public TMessagePacker {
public:
    TBufferMessagePacker() = default;
    explicit TBufferMessagePacker(std::string& Target) : FBytes(&Target) {}
    TBufferMessagePacker(const TBufferMessagePacker&) = delete;
    TBufferMessagePacker& operator=(const TBufferMessagePacker&) = delete;
    void WriteInteger(std::int32_t Value) override;
    void WriteString(const std::string& Value) override;
    const std::string& Bytes() const { return *FBytes; }

private:
    std::string FOwn;
    std::string* FBytes = &FOwn;
};

class TMonitorMessage {
public:
    virtual ~TMonitorMessage() = default;
    virtual std::int32_t MessageType() const = 0;
    // The type, then the fields.
    void Write(TMessagePacker& Packer) const;

protected:
    virtual void WriteFields(TMessagePacker& Packer) const = 0;
};

// Type 1: with event type 1, the finish message.
class TEventMessage : public TMonitorMessage {
public:
    TEventMessage(std::uint32_t ProcessID, int EventType, std::string Description);
    std::int32_t MessageType() const override { return mtEvent; }
    int EventType() const { return FEventType; }

protected:
    void WriteFields(TMessagePacker& Packer) const override;

private:
    std::uint32_t FProcessID;
    int FEventType;
    std::string FDescription;
};

class TStartupMessage final : public TEventMessage {
public:
    TStartupMessage(std::uint32_t ProcessID, std::string Description, std::string ExePath);
    std::int32_t MessageType() const override { return mtStartup; }

protected:
    void WriteFields(TMessagePacker& Packer) const override;

private:
    std::string FExePath;
};

class TEventStartMessage final : public TEventMessage {
public:
    TEventStartMessage(std::uint32_t ProcessID, const TMonitorEvent& Event, std::uint32_t Time);
    std::int32_t MessageType() const override { return mtEventStart; }

protected:
    void WriteFields(TMessagePacker& Packer) const override;

private:
    TMonitorEvent FEvent;
    std::uint32_t FTime;
};

class TEventEndMessage final : public TEventMessage {
public:
    TEventEndMessage(std::uint32_t ProcessID, const TMonitorEvent& Event, std::uint32_t Time);
    std::int32_t MessageType() const override { return mtEventEnd; }

protected:
    void WriteFields(TMessagePacker& Packer) const override;

private:
    TMonitorEvent FEvent;
    std::uint32_t FTime;
};

// The same layouts written without a message object in between: the link encodes an event
// straight into its queue.
void WriteFinishMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                        const std::string& Description);
void WriteStartupMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                         const std::string& Description, const std::string& ExePath);
void WriteEventStartMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                            const TMonitorEvent& Event, std::uint32_t Time);
void WriteEventEndMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                          const TMonitorEvent& Event, std::uint32_t Time);
// The same two event layouts, the bytes replacing what `Into` held: counted first, then copied
// into the string sized once (a string that held as large a message allocates nothing).
void EncodeEventStartMessage(std::string& Into, std::uint32_t ProcessID,
                             const TMonitorEvent& Event, std::uint32_t Time);
void EncodeEventEndMessage(std::string& Into, std::uint32_t ProcessID, const TMonitorEvent& Event,
                           std::uint32_t Time);

// One message as the viewer reads it back.
struct TDecodedMessage {
    std::int32_t Type = 0; // mtEvent, mtStartup, mtEventStart, mtEventEnd or mtProbe
    std::uint32_t ProcessID = 0;
    int EventType = 0;
    std::string Description;
    std::string ExePath;    // start-up
    std::uint32_t Time = 0; // start or end time
    TMonitorEvent Event;    // start and end events (EventNumber, object, SQL, params, ...)
};

enum class TDecodeResult { Message, NeedMore, Malformed };

// Why a stream cannot be read on, for a reader that words the reason in its own language.
struct TDecodeFault {
    enum TKind { dfNone, dfUnknownType, dfImpossibleCount };
    enum TCounted { dcText, dcParameters, dcCallStack };
    TKind Kind = dfNone;
    TCounted Counted = dcText; // what the impossible count counts
    std::int32_t Value = 0;    // the unknown type, or the impossible count
};

// The largest text and the most parameters or call-stack lines a message may carry: far beyond
// anything a traced program sends; a larger count is a broken stream, not a reason to wait for
// (and buffer) gigabytes.
inline constexpr std::uint32_t kMaxMessageText = 64u << 20;
inline constexpr std::uint32_t kMaxMessageItems = 1u << 20;

// Reads one message from the front of `Bytes`. On Message, `Used` is the number of bytes it
// took; NeedMore asks for more bytes; Malformed (with `Error`, and `Fault` when given) means the
// stream cannot be read on: an unknown type, a negative or impossible count.
TDecodeResult DecodeMonitorMessage(std::string_view Bytes, TDecodedMessage& Message,
                                   std::size_t& Used, std::string& Error,
                                   TDecodeFault* Fault = nullptr);

} // namespace kv::dataaccess
