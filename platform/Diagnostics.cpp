#include "platform/Diagnostics.h"

#include <cstdio>
#include <mutex>

namespace kv::platform {

namespace {
std::mutex sinkMutex;
DiagnosticSink currentSink;
} // namespace

DiagnosticSink setDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard lock(sinkMutex);
    auto previous = std::move(currentSink);
    currentSink = std::move(sink);
    return previous;
}

void reportDiagnostic(const std::string& message) {
    DiagnosticSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = currentSink;
    }
    if (sink)
        sink(message);
    else
        std::fprintf(stderr, "kelvora platform: %s\n", message.c_str());
}

} // namespace kv::platform
