#include "dataaccess/TraceViewerMessages.h"

namespace kv::dataaccess {

// ---------------------------------------------------------------------------------------------
// Writing

void TBufferMessagePacker::WriteInteger(std::int32_t Value) {
    const auto v = static_cast<std::uint32_t>(Value);
    for (int shift = 24; shift >= 0; shift -= 8)
        FBytes.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void TBufferMessagePacker::WriteString(const std::string& Value) {
    WriteInteger(static_cast<std::int32_t>(Value.size()));
    FBytes += Value;
}

void TMonitorMessage::Write(TMessagePacker& Packer) const {
    Packer.WriteInteger(MessageType());
    WriteFields(Packer);
}

TEventMessage::TEventMessage(std::uint32_t ProcessID, int EventType, std::string Description)
    : FProcessID(ProcessID), FEventType(EventType), FDescription(std::move(Description)) {}

void TEventMessage::WriteFields(TMessagePacker& Packer) const {
    Packer.WriteInteger(static_cast<std::int32_t>(FProcessID));
    Packer.WriteInteger(FEventType);
    Packer.WriteString(FDescription);
}

TStartupMessage::TStartupMessage(std::uint32_t ProcessID, std::string Description,
                                 std::string ExePath)
    : TEventMessage(ProcessID, 0, std::move(Description)), FExePath(std::move(ExePath)) {}

void TStartupMessage::WriteFields(TMessagePacker& Packer) const {
    TEventMessage::WriteFields(Packer);
    Packer.WriteString(FExePath);
}

namespace {

void writeParams(TMessagePacker& Packer, const std::vector<TMsgSQLParam>& Params) {
    Packer.WriteInteger(static_cast<std::int32_t>(Params.size()));
    for (const auto& p : Params) {
        Packer.WriteString(p.Name);
        Packer.WriteString(p.DataType);
        Packer.WriteString(p.Direction);
        Packer.WriteString(p.Value);
    }
}

} // namespace

TEventStartMessage::TEventStartMessage(std::uint32_t ProcessID, const TMonitorEvent& Event,
                                       std::uint32_t Time)
    : TEventMessage(ProcessID, Event.EventType, Event.Description), FEvent(Event), FTime(Time) {}

void TEventStartMessage::WriteFields(TMessagePacker& Packer) const {
    TEventMessage::WriteFields(Packer);
    Packer.WriteInteger(static_cast<std::int32_t>(FEvent.EventNumber));
    Packer.WriteInteger(static_cast<std::int32_t>(FTime));
    Packer.WriteInteger(FEvent.ObjectID);
    Packer.WriteString(FEvent.ObjectName);
    Packer.WriteInteger(FEvent.ObjectKind);
    Packer.WriteString(FEvent.ObjectTypeName);
    Packer.WriteInteger(FEvent.ParentID);
    Packer.WriteString(FEvent.ParentName);
    Packer.WriteInteger(FEvent.ParentKind);
    Packer.WriteString(FEvent.ParentTypeName);
    Packer.WriteString(FEvent.SQL);
    writeParams(Packer, FEvent.Params);
    Packer.WriteInteger(static_cast<std::int32_t>(FEvent.CallStack.size()));
    for (const auto& line : FEvent.CallStack)
        Packer.WriteString(line);
}

TEventEndMessage::TEventEndMessage(std::uint32_t ProcessID, const TMonitorEvent& Event,
                                   std::uint32_t Time)
    : TEventMessage(ProcessID, Event.EventType, Event.Description), FEvent(Event), FTime(Time) {}

void TEventEndMessage::WriteFields(TMessagePacker& Packer) const {
    TEventMessage::WriteFields(Packer);
    Packer.WriteInteger(static_cast<std::int32_t>(FEvent.EventNumber));
    Packer.WriteInteger(static_cast<std::int32_t>(FTime));
    Packer.WriteInteger(FEvent.Failed ? 1 : 0);
    Packer.WriteString(FEvent.ErrorText);
    writeParams(Packer, FEvent.Params);
    Packer.WriteInteger(FEvent.RowsAffected);
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
    bool count(std::uint32_t& value, std::uint32_t limit, const char* what) {
        std::int32_t v = 0;
        if (!integer(v))
            return false;
        if (v < 0 || static_cast<std::uint32_t>(v) > limit) {
            error_ = std::string(what) + " count " + std::to_string(v) + " is impossible";
            return false;
        }
        value = static_cast<std::uint32_t>(v);
        return true;
    }
    bool text(std::string& value) {
        std::uint32_t n = 0;
        if (!count(n, MaxText, "text"))
            return false;
        if (bytes_.size() - at_ < n)
            return false;
        value.assign(bytes_.substr(at_, n));
        at_ += n;
        return true;
    }
    bool params(std::vector<TMsgSQLParam>& out) {
        std::uint32_t n = 0;
        if (!count(n, MaxItems, "parameter"))
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
        if (!count(n, MaxItems, "call stack"))
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

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    std::string error_;
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
                                   std::size_t& Used, std::string& Error) {
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
        return TDecodeResult::Malformed;
    }
    if (!readBody(r, Message)) {
        if (!r.error().empty()) {
            Error = r.error();
            return TDecodeResult::Malformed;
        }
        return TDecodeResult::NeedMore;
    }
    Used = r.used();
    return TDecodeResult::Message;
}

} // namespace kv::dataaccess
