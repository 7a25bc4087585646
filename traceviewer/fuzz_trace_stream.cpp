// The trace viewer's stream reader on arbitrary bytes, fed in two pieces.
#include "traceviewer/trace_session.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kv::traceviewer::TraceSession session([](const kv::traceviewer::TraceRecord& r) {
        (void)kv::traceviewer::jsonLine(r);
        (void)kv::traceviewer::textLine(r);
    });
    const std::size_t half = size / 2;
    const auto* bytes = reinterpret_cast<const char*>(data);
    if (session.feed(std::string_view(bytes, half)))
        session.feed(std::string_view(bytes + half, size - half));
    return 0;
}
