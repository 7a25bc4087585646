// kelvora-trace: a trace viewer for the console's trace viewer link.
//
// usage: kelvora-trace [--port N] [--text] [--save FILE]
//   --port  the port to listen on, on 127.0.0.1 (default 1000, the link's default)
//   --text  no window: one line per message on standard output (kind, event number,
//           description, statement text, duration, rows, failure); notes begin with "# "
//   --save  append every record to FILE as one line of JSON
//
// Several traced programs may be connected at once; a stream that cannot be read is closed with
// a line that says why, and the viewer goes on. When the port cannot be listened on, the window
// says why and stays open to try another port; --text says why on standard error and ends with
// status 1.

#include "traceviewer/trace_server.h"
#include "traceviewer/trace_texts.h"
#include "traceviewer/trace_window.h"

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

int usage() {
    std::fprintf(stderr, "kullanım: kelvora-trace [--port N] [--text] [--save DOSYA]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    long port = 1000;
    bool text = false;
    std::string save;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (*end != 0 || port < 0 || port > 65535)
                return usage();
        } else if (arg == "--text") {
            text = true;
        } else if (arg == "--save" && i + 1 < argc) {
            save = argv[++i];
        } else {
            return usage();
        }
    }
    std::ofstream saved;
    if (!save.empty()) {
        saved.open(save, std::ios::app);
        if (!saved) {
            std::fprintf(stderr, "kelvora-trace: %s dosyasına yazılamıyor\n", save.c_str());
            return 1;
        }
    }
    const auto keep = [&](const kv::traceviewer::TraceRecord& record) {
        if (saved) {
            saved << kv::traceviewer::jsonLine(record) << '\n';
            saved.flush();
        }
    };

    if (text) {
        kv::traceviewer::TraceServer server(
            [&](int client, const kv::traceviewer::TraceRecord& record) {
                std::cout << client << '\t' << kv::traceviewer::textLine(record) << std::endl;
                keep(record);
            },
            [](const std::string& note) { std::cout << "# " << note << std::endl; });
        if (!server.listen(static_cast<std::uint16_t>(port))) {
            std::cerr << "kelvora-trace: "
                      << kv::traceviewer::cannotListenNote(static_cast<std::uint16_t>(port),
                                                           server.listenError())
                      << ". " << kv::traceviewer::listenWayOut(false) << std::endl;
            return 1;
        }
        std::signal(SIGINT, requestStop);
        std::signal(SIGTERM, requestStop);
        while (!stopRequested)
            server.step(100);
        return 0;
    }

    QApplication app(argc, argv);
    kv::traceviewer::TraceWindow window;
    kv::traceviewer::TraceServer server(
        [&](int client, const kv::traceviewer::TraceRecord& record) {
            window.add(client, record);
            keep(record);
        },
        [&](const std::string& note) { window.note(note); });
    window.attach(server);
    // A port that cannot be listened on leaves the window open with the reason and a field
    // for another port; the reason goes to standard error too, for a start from a console.
    if (!window.listenOn(static_cast<std::uint16_t>(port)))
        std::cerr << "kelvora-trace: "
                  << kv::traceviewer::cannotListenNote(static_cast<std::uint16_t>(port),
                                                       server.listenError())
                  << std::endl;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { server.step(0); });
    timer.start(20);
    window.show();
    return app.exec();
}
