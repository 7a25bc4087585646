#include "traceviewer/trace_session.h"

#include "traceviewer/trace_texts.h"

#include <cstdio>

namespace kv::traceviewer {

using dataaccess::TDecodedMessage;
using dataaccess::TDecodeResult;

namespace {

// The fields of each message type after the type itself, for finding where a message ends
// without decoding it: i an integer, t a text, 4 and 1 a count of items of four texts or one.
const char* layoutOf(std::int32_t type) {
    switch (type) {
    case dataaccess::mtEvent: // process, event type, description
        return "iit";
    case dataaccess::mtStartup: // ..., executable
        return "iitt";
    case dataaccess::mtEventStart:
        // ..., number, time, object id, name, kind, type name, parent id, name, kind, type
        // name, statement, parameters, call stack
        return "iitiiititititt41";
    case dataaccess::mtEventEnd: // ..., number, time, failed, error text, parameters, rows
        return "iitiiit4i";
    default: // the probe (the type alone), or a type the decoder refuses
        return "";
    }
}

std::int32_t integerAt(std::string_view bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::int32_t>(v);
}

} // namespace

// Walks the counts of the message at the front of `bytes` from where the last call stopped,
// copying nothing: true once the message is complete, or once a count is one the decoder
// refuses (it then says why). A message that arrives in many reads is so decoded once, when its
// last byte is in, instead of again after every read.
bool TraceSession::Scan::reaches(std::string_view bytes) {
    auto have = [&](std::size_t n) { return bytes.size() >= at && bytes.size() - at >= n; };
    if (!layout) {
        if (!have(4))
            return false;
        layout = layoutOf(integerAt(bytes, at));
        at += 4;
    }
    while (textsLeft > 0 || layout[field] != '\0') {
        if (!have(4))
            return false;
        const std::int32_t n = integerAt(bytes, at);
        const char kind = textsLeft > 0 ? 't' : layout[field];
        const std::uint32_t limit =
            kind == 't' ? dataaccess::kMaxMessageText : dataaccess::kMaxMessageItems;
        if (kind != 'i' && (n < 0 || static_cast<std::uint32_t>(n) > limit))
            return true; // a broken count: the decoder says so
        if (kind == 't') {
            if (!have(4 + static_cast<std::size_t>(n)))
                return false;
            at += 4 + static_cast<std::size_t>(n);
            if (textsLeft > 0) {
                --textsLeft;
                continue;
            }
        } else {
            at += 4;
            if (kind != 'i')
                textsLeft = std::int64_t{n} * (kind - '0');
        }
        ++field;
    }
    return true;
}

bool TraceSession::feed(std::string_view bytes) {
    if (!error_.empty())
        return false;
    buffer_.append(bytes);
    std::size_t at = 0;
    for (;;) {
        const std::string_view rest = std::string_view(buffer_).substr(at);
        if (!scan_.reaches(rest))
            break;
        scan_ = Scan{};
        TDecodedMessage message;
        std::size_t used = 0;
        std::string why;
        const auto result = dataaccess::DecodeMonitorMessage(rest, message, used, why, &fault_);
        if (result == TDecodeResult::NeedMore)
            break; // not expected once the scan has reached the end
        if (result == TDecodeResult::Malformed) {
            error_ = why;
            buffer_.clear();
            return false;
        }
        at += used;
        take(message);
    }
    buffer_.erase(0, at);
    return true;
}

void TraceSession::take(const TDecodedMessage& m) {
    TraceRecord r;
    r.processId = m.ProcessID;
    r.eventType = m.EventType;
    r.description = m.Description;
    switch (m.Type) {
    case dataaccess::mtStartup:
        r.kind = TraceRecord::Kind::Startup;
        r.exePath = m.ExePath;
        sink_(r);
        return;
    case dataaccess::mtEvent:
        r.kind = TraceRecord::Kind::Finish;
        sink_(r);
        return;
    case dataaccess::mtEventStart:
        r.eventNumber = m.Event.EventNumber;
        r.objectName = m.Event.ObjectName;
        r.objectType = m.Event.ObjectTypeName;
        r.parentName = m.Event.ParentName;
        r.sql = m.Event.SQL;
        r.params = m.Event.Params;
        r.startTime = m.Time;
        started_[{m.ProcessID, m.Event.EventNumber}] = r;
        return;
    case dataaccess::mtEventEnd: {
        const auto key = std::make_pair(m.ProcessID, m.Event.EventNumber);
        auto it = started_.find(key);
        if (it != started_.end()) {
            r = it->second;
            started_.erase(it);
            r.duration = m.Time - r.startTime;
        } else {
            r.kind = TraceRecord::Kind::UnpairedEnd;
            r.eventNumber = m.Event.EventNumber;
            r.startTime = m.Time;
        }
        r.failed = m.Event.Failed;
        r.errorText = m.Event.ErrorText;
        r.rows = m.Event.RowsAffected;
        if (!m.Event.Params.empty())
            r.params = m.Event.Params;
        if (r.description.empty())
            r.description = m.Description;
        sink_(r);
        return;
    }
    default:
        return; // the keep-alive probe
    }
}

namespace {

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

const char* kindName(TraceRecord::Kind kind) {
    switch (kind) {
    case TraceRecord::Kind::Startup:
        return "startup";
    case TraceRecord::Kind::Finish:
        return "finish";
    case TraceRecord::Kind::Event:
        return "event";
    case TraceRecord::Kind::UnpairedEnd:
        return "end";
    }
    return "?";
}

} // namespace

std::string textLine(const TraceRecord& r) {
    std::string line = std::string(kindName(r.kind)) + "\t" + std::to_string(r.eventNumber) + "\t" +
                       oneLine(r.description);
    if (r.kind == TraceRecord::Kind::Startup)
        return line + "\t" + r.exePath;
    if (r.kind == TraceRecord::Kind::Finish)
        return line;
    line += "\t" + oneLine(r.sql) + "\t" + std::to_string(r.duration) + " ms";
    if (r.rows != 0)
        line += "\t" + std::to_string(r.rows) + " rows";
    if (r.failed)
        line += "\tFAILED: " + oneLine(r.errorText);
    return line;
}

std::string jsonLine(const TraceRecord& r) {
    std::string out = "{\"kind\":\"" + std::string(kindName(r.kind)) +
                      "\",\"process\":" + std::to_string(r.processId) +
                      ",\"event\":" + std::to_string(r.eventNumber) +
                      ",\"type\":" + std::to_string(r.eventType) +
                      ",\"description\":" + jsonText(r.description);
    if (r.kind == TraceRecord::Kind::Startup)
        out += ",\"exe\":" + jsonText(r.exePath);
    if (r.kind == TraceRecord::Kind::Event || r.kind == TraceRecord::Kind::UnpairedEnd) {
        out += ",\"object\":" + jsonText(r.objectName) + ",\"class\":" + jsonText(r.objectType) +
               ",\"parent\":" + jsonText(r.parentName) + ",\"sql\":" + jsonText(r.sql) +
               ",\"params\":[";
        for (std::size_t i = 0; i < r.params.size(); ++i) {
            const auto& p = r.params[i];
            out += std::string(i ? "," : "") + "[" + jsonText(p.Name) + "," + jsonText(p.DataType) +
                   "," + jsonText(p.Direction) + "," + jsonText(p.Value) + "]";
        }
        out += "],\"ms\":" + std::to_string(r.duration) + ",\"rows\":" + std::to_string(r.rows) +
               ",\"failed\":" + (r.failed ? "true" : "false") +
               ",\"error\":" + jsonText(r.errorText);
    }
    return out + "}";
}

} // namespace kv::traceviewer
