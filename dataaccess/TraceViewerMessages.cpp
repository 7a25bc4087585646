#include "dataaccess/TraceViewerMessages.h"

#include <cstring>

namespace kv::dataaccess {

// ---------------------------------------------------------------------------------------------
// Writing

void TBufferMessagePacker::WriteInteger(std::int32_t Value) {
    const auto v = static_cast<std::uint32_t>(Value);
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    FBytes->append(bytes, 4);
}

void TBufferMessagePacker::WriteString(const std::string& Value) {
    WriteInteger(static_cast<std::int32_t>(Value.size()));
    FBytes->append(Value);
}

void TMonitorMessage::Write(TMessagePacker& Packer) const {
    Packer.WriteInteger(MessageType());
    WriteFields(Packer);
}

namespace {

// The layouts below are written through a sink: the packer (field by field), or, for the link's
// queue, a count of the bytes and then a plain copy into a buffer sized once.
struct PackerSink {
    TMessagePacker& Packer;
    void integer(std::int32_t Value) { Packer.WriteInteger(Value); }
    void text(const std::string& Value) { Packer.WriteString(Value); }
};

struct SizeSink {
    std::size_t Size = 0;
    void integer(std::int32_t) { Size += 4; }
    void text(const std::string& Value) { Size += 4 + Value.size(); }
};

struct CopySink {
    char* At;
    void integer(std::int32_t Value) {
        const auto v = static_cast<std::uint32_t>(Value);
        At[0] = static_cast<char>(v >> 24);
        At[1] = static_cast<char>(v >> 16);
        At[2] = static_cast<char>(v >> 8);
        At[3] = static_cast<char>(v);
        At += 4;
    }
    void text(const std::string& Value) {
        integer(static_cast<std::int32_t>(Value.size()));
        if (!Value.empty())
            std::memcpy(At, Value.data(), Value.size());
        At += Value.size();
    }
};

// The fields every event message begins with (after its type).
template <class Sink>
void writeHead(Sink& Out, std::uint32_t ProcessID, int EventType, const std::string& Description) {
    Out.integer(static_cast<std::int32_t>(ProcessID));
    Out.integer(EventType);
    Out.text(Description);
}

template <class Sink>
void writeParams(Sink& Out, const std::vector<TMsgSQLParam>& Params) {
    Out.integer(static_cast<std::int32_t>(Params.size()));
    for (const auto& p : Params) {
        Out.text(p.Name);
        Out.text(p.DataType);
        Out.text(p.Direction);
        Out.text(p.Value);
    }
}

// What follows the head of a start event and of an end event.
template <class Sink>
void writeStartRest(Sink& Out, const TMonitorEvent& Event, std::uint32_t Time) {
    Out.integer(static_cast<std::int32_t>(Event.EventNumber));
    Out.integer(static_cast<std::int32_t>(Time));
    Out.integer(Event.ObjectID);
    Out.text(Event.ObjectName);
    Out.integer(Event.ObjectKind);
    Out.text(Event.ObjectTypeName);
    Out.integer(Event.ParentID);
    Out.text(Event.ParentName);
    Out.integer(Event.ParentKind);
    Out.text(Event.ParentTypeName);
    Out.text(Event.SQL);
    writeParams(Out, Event.Params);
    Out.integer(static_cast<std::int32_t>(Event.CallStack.size()));
    for (const auto& line : Event.CallStack)
        Out.text(line);
}

template <class Sink>
void writeEndRest(Sink& Out, const TMonitorEvent& Event, std::uint32_t Time) {
    Out.integer(static_cast<std::int32_t>(Event.EventNumber));
    Out.integer(static_cast<std::int32_t>(Time));
    Out.integer(Event.Failed ? 1 : 0);
    Out.text(Event.ErrorText);
    writeParams(Out, Event.Params);
    Out.integer(Event.RowsAffected);
}

template <class Sink>
void writeEventStart(Sink& Out, std::uint32_t ProcessID, const TMonitorEvent& Event,
                     std::uint32_t Time) {
    Out.integer(mtEventStart);
    writeHead(Out, ProcessID, Event.EventType, Event.Description);
    writeStartRest(Out, Event, Time);
}

template <class Sink>
void writeEventEnd(Sink& Out, std::uint32_t ProcessID, const TMonitorEvent& Event,
                   std::uint32_t Time) {
    Out.integer(mtEventEnd);
    writeHead(Out, ProcessID, Event.EventType, Event.Description);
    writeEndRest(Out, Event, Time);
}

// Counts the bytes first, then writes them in place of what `Into` held (its memory is kept).
template <class Write>
void encodeInto(std::string& Into, const Write& write) {
    SizeSink size;
    write(size);
    Into.resize(size.Size);
    CopySink copy{Into.data()};
    write(copy);
}

} // namespace

void WriteFinishMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                        const std::string& Description) {
    PackerSink out{Packer};
    out.integer(mtEvent);
    writeHead(out, ProcessID, 1, Description);
}

void WriteStartupMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                         const std::string& Description, const std::string& ExePath) {
    PackerSink out{Packer};
    out.integer(mtStartup);
    writeHead(out, ProcessID, 0, Description);
    out.text(ExePath);
}

void WriteEventStartMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                            const TMonitorEvent& Event, std::uint32_t Time) {
    PackerSink out{Packer};
    writeEventStart(out, ProcessID, Event, Time);
}

void WriteEventEndMessage(TMessagePacker& Packer, std::uint32_t ProcessID,
                          const TMonitorEvent& Event, std::uint32_t Time) {
    PackerSink out{Packer};
    writeEventEnd(out, ProcessID, Event, Time);
}

void EncodeEventStartMessage(std::string& Into, std::uint32_t ProcessID, const TMonitorEvent& Event,
                             std::uint32_t Time) {
    encodeInto(Into, [&](auto& out) { writeEventStart(out, ProcessID, Event, Time); });
}

void EncodeEventEndMessage(std::string& Into, std::uint32_t ProcessID, const TMonitorEvent& Event,
                           std::uint32_t Time) {
    encodeInto(Into, [&](auto& out) { writeEventEnd(out, ProcessID, Event, Time); });
}

TEventMessage::TEventMessage(std::uint32_t ProcessID, int EventType, std::string Description)
    : FProcessID(ProcessID), FEventType(EventType), FDescription(std::move(Description)) {}

void TEventMessage::WriteFields(TMessagePacker& Packer) const {
    PackerSink out{Packer};
    writeHead(out, FProcessID, FEventType, FDescription);
}

TStartupMessage::TStartupMessage(std::uint32_t ProcessID, std::string Description,
                                 std::string ExePath)
    : TEventMessage(ProcessID, 0, std::move(Description)), FExePath(std::move(ExePath)) {}

void TStartupMessage::WriteFields(TMessagePacker& Packer) const {
    TEventMessage::WriteFields(Packer);
    Packer.WriteString(FExePath);
}

TEventStartMessage::TEventStartMessage(std::uint32_t ProcessID, const TMonitorEvent& Event,
                                       std::uint32_t Time)
    : TEventMessage(ProcessID, Event.EventType, Event.Description), FEvent(Event), FTime(Time) {}

void TEventStartMessage::WriteFields(TMessagePacker& Packer) const {
    TEventMessage::WriteFields(Packer);
    PackerSink out{Packer};
    writeStartRest(out, FEvent, FTime);
}

TEventEndMessage::TEventEndMessage(std::uint32_t ProcessID, const TMonitorEvent& Event,
                                   std::uint32_t Time)
    : TEventMessage(ProcessID, Event.EventType, Event.Description), FEvent(Event), FTime(Time) {}

void TEventEndMessage::WriteFields(TMessagePacker& Packer) const {
    TEventMessage::WriteFields(Packer);
    PackerSink out{Packer};
    writeEndRest(out, FEvent, FTime);
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

constexpr std::uint32_t MaxText = kMaxMessageText;
constexpr std::uint32_t MaxItems = kMaxMessageItems;

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    // false: not enough bytes yet (or, with error_ set, a broken stream).
    bool integer(std::int32_t& value) {
        if (bytes_.size() - at_ < 4)
            return false;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(bytes_[at_ + static_cast<std::size_t>(i)]);
        at_ += 4;
        value = static_cast<std::int32_t>(v);
        return true;
    }
    bool unsignedInteger(std::uint32_t& value) {
        std::int32_t v = 0;
        if (!integer(v))
            return false;
        value = static_cast<std::uint32_t>(v);
        return true;
    }
    bool count(std::uint32_t& value, std::uint32_t limit, TDecodeFault::TCounted what) {
        std::int32_t v = 0;
        if (!integer(v))
            return false;
        if (v < 0 || static_cast<std::uint32_t>(v) > limit) {
            static const char* const names[] = {"text", "parameter", "call stack"};
            error_ = std::string(names[what]) + " count " + std::to_string(v) + " is impossible";
            fault_ = {TDecodeFault::dfImpossibleCount, what, v};
            return false;
        }
        value = static_cast<std::uint32_t>(v);
        return true;
    }
    bool text(std::string& value) {
        std::uint32_t n = 0;
        if (!count(n, MaxText, TDecodeFault::dcText))
            return false;
        if (bytes_.size() - at_ < n)
            return false;
        value.assign(bytes_.substr(at_, n));
        at_ += n;
        return true;
    }
    bool params(std::vector<TMsgSQLParam>& out) {
        std::uint32_t n = 0;
        if (!count(n, MaxItems, TDecodeFault::dcParameters))
            return false;
        out.clear();
        for (std::uint32_t i = 0; i < n; ++i) {
            // Each parameter takes at least 16 bytes: no room for it means more must come.
            if (bytes_.size() - at_ < 16)
                return false;
            TMsgSQLParam p;
            if (!text(p.Name) || !text(p.DataType) || !text(p.Direction) || !text(p.Value))
                return false;
            out.push_back(std::move(p));
        }
        return true;
    }
    bool lines(std::vector<std::string>& out) {
        std::uint32_t n = 0;
        if (!count(n, MaxItems, TDecodeFault::dcCallStack))
            return false;
        out.clear();
        for (std::uint32_t i = 0; i < n; ++i) {
            if (bytes_.size() - at_ < 4)
                return false;
            std::string line;
            if (!text(line))
                return false;
            out.push_back(std::move(line));
        }
        return true;
    }
    std::size_t used() const { return at_; }
    const std::string& error() const { return error_; }
    const TDecodeFault& fault() const { return fault_; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    std::string error_;
    TDecodeFault fault_;
};

bool readBody(Reader& r, TDecodedMessage& m) {
    std::int32_t eventType = 0;
    if (!r.unsignedInteger(m.ProcessID) || !r.integer(eventType) || !r.text(m.Description))
        return false;
    m.EventType = eventType;
    m.Event.EventType = eventType;
    m.Event.Description = m.Description;
    TMonitorEvent& e = m.Event;
    switch (m.Type) {
    case mtEvent:
        return true;
    case mtStartup:
        return r.text(m.ExePath);
    case mtEventStart: {
        std::int32_t kind = 0, parentKind = 0;
        if (!r.unsignedInteger(e.EventNumber) || !r.unsignedInteger(m.Time) ||
            !r.integer(e.ObjectID) || !r.text(e.ObjectName) || !r.integer(kind) ||
            !r.text(e.ObjectTypeName) || !r.integer(e.ParentID) || !r.text(e.ParentName) ||
            !r.integer(parentKind) || !r.text(e.ParentTypeName) || !r.text(e.SQL) ||
            !r.params(e.Params) || !r.lines(e.CallStack))
            return false;
        e.ObjectKind = kind;
        e.ParentKind = parentKind;
        return true;
    }
    case mtEventEnd: {
        std::int32_t failed = 0;
        if (!r.unsignedInteger(e.EventNumber) || !r.unsignedInteger(m.Time) || !r.integer(failed) ||
            !r.text(e.ErrorText) || !r.params(e.Params) || !r.integer(e.RowsAffected))
            return false;
        e.Failed = failed != 0;
        return true;
    }
    default:
        return false;
    }
}

} // namespace

TDecodeResult DecodeMonitorMessage(std::string_view Bytes, TDecodedMessage& Message,
                                   std::size_t& Used, std::string& Error, TDecodeFault* Fault) {
    Reader r(Bytes);
    Message = TDecodedMessage{};
    if (!r.integer(Message.Type))
        return TDecodeResult::NeedMore;
    switch (Message.Type) {
    case mtProbe:
        Used = r.used();
        return TDecodeResult::Message;
    case mtEvent:
    case mtStartup:
    case mtEventStart:
    case mtEventEnd:
        break;
    default:
        Error = "unknown message type " + std::to_string(Message.Type);
        if (Fault != nullptr)
            *Fault = {TDecodeFault::dfUnknownType, TDecodeFault::dcText, Message.Type};
        return TDecodeResult::Malformed;
    }
    if (!readBody(r, Message)) {
        if (!r.error().empty()) {
            Error = r.error();
            if (Fault != nullptr)
                *Fault = r.fault();
            return TDecodeResult::Malformed;
        }
        return TDecodeResult::NeedMore;
    }
    Used = r.used();
    return TDecodeResult::Message;
}

} // namespace kv::dataaccess
