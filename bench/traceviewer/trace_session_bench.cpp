// What reading one traced program's stream costs the trace viewer: a 3 MB message (a long
// statement text, then one with many parameters) arriving in the 64 KiB reads a socket gives.
// Each message should be decoded once, so the time grows with the bytes, not with the number
// of reads times the bytes.
//
// usage: bench-trace-session [--reads-of BYTES]   (default 65536; 5 rounds, best counts)

#include "dataaccess/TraceViewerMessages.h"
#include "traceviewer/trace_session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using Clock = std::chrono::steady_clock;
using namespace kv::dataaccess;

namespace {

std::string bytesOf(const TMonitorMessage& m) {
    TBufferMessagePacker p;
    m.Write(p);
    return p.Bytes();
}

// Milliseconds to read `stream` in pieces of `piece` bytes; the best of five rounds.
double readTime(const std::string& stream, std::size_t piece) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        std::size_t records = 0;
        kv::traceviewer::TraceSession session(
            [&](const kv::traceviewer::TraceRecord&) { ++records; });
        const auto start = Clock::now();
        for (std::size_t at = 0; at < stream.size(); at += piece)
            session.feed(std::string_view(stream).substr(at, piece));
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (records != 1)
            std::fprintf(stderr, "expected one record, got %zu\n", records);
        best = ms < best ? ms : best;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t piece = 65536;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--reads-of") == 0)
            piece = static_cast<std::size_t>(std::atol(argv[++i]));

    TMonitorEvent text;
    text.EventNumber = 1;
    text.SQL = std::string(3 << 20, 'x');
    TMonitorEvent params;
    params.EventNumber = 1;
    for (int i = 0; i < 120000; ++i)
        params.Params.push_back({":p" + std::to_string(i), "String", "IN", std::to_string(i)});
    TMonitorEvent end;
    end.EventNumber = 1;

    const std::string longText =
        bytesOf(TEventStartMessage(7, text, 1)) + bytesOf(TEventEndMessage(7, end, 2));
    const std::string manyParams =
        bytesOf(TEventStartMessage(7, params, 1)) + bytesOf(TEventEndMessage(7, end, 2));
    std::printf("reads of %zu bytes\n", piece);
    std::printf("  long text     %.1f MB: %8.2f ms\n", longText.size() / 1e6,
                readTime(longText, piece));
    std::printf("  many params   %.1f MB: %8.2f ms\n", manyParams.size() / 1e6,
                readTime(manyParams, piece));
    std::printf("  one read      %.1f MB: %8.2f ms\n", manyParams.size() / 1e6,
                readTime(manyParams, manyParams.size()));
    return 0;
}
