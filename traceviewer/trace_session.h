#pragma once
// One traced program's stream as the trace viewer reads it: bytes in, records out. A start event
// is kept until its end event (same process, same number) arrives; the pair becomes one record
// with the duration, rows and failure. Start-up and finish messages are records of their own,
// probes are skipped. A stream that cannot be read ends with an error and yields nothing more.

#include "dataaccess/TraceViewerMessages.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kv::traceviewer {

struct TraceRecord {
    enum class Kind { Startup, Finish, Event, UnpairedEnd } kind = Kind::Event;
    std::uint32_t processId = 0;
    std::uint32_t eventNumber = 0;
    int eventType = 0;
    std::string description;
    std::string exePath;
    std::string objectName;
    std::string objectType;
    std::string parentName;
    std::string sql;
    std::vector<dataaccess::TMsgSQLParam> params;
    std::uint32_t startTime = 0;
    std::uint32_t duration = 0; // milliseconds, from the two tick counts
    bool failed = false;
    std::string errorText;
    std::int32_t rows = 0;
};

class TraceSession {
public:
    using Sink = std::function<void(const TraceRecord&)>;
    explicit TraceSession(Sink sink) : sink_(std::move(sink)) {}

    // Feeds received bytes; false once the stream is broken (error() says why, fault() the same
    // for a caller that words it itself).
    bool feed(std::string_view bytes);
    const std::string& error() const { return error_; }
    const dataaccess::TDecodeFault& fault() const { return fault_; }
    // Start events still waiting for their end.
    std::size_t open() const { return started_.size(); }

private:
    void take(const dataaccess::TDecodedMessage& message);

    Sink sink_;
    // How far the message waiting at the front of buffer_ has been seen to reach.
    struct Scan {
        const char* layout = nullptr; // its fields, once the type is in
        std::size_t at = 0;           // bytes of it walked
        std::size_t field = 0;        // next field of the layout
        std::int64_t textsLeft = 0;   // texts still to come of the current list
        bool reaches(std::string_view bytes);
    };

    std::string buffer_;
    Scan scan_;
    std::string error_;
    dataaccess::TDecodeFault fault_;
    std::map<std::pair<std::uint32_t, std::uint32_t>, TraceRecord> started_;
};

// One line of text for a record: kind, event number, description, statement text, and for
// events the duration, rows and failure.
std::string textLine(const TraceRecord& record);
// The record as one line of JSON.
std::string jsonLine(const TraceRecord& record);

} // namespace kv::traceviewer
