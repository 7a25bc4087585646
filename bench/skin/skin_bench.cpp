// Skin benchmark (run by hand: build/bin/bench-skin [stored-skin stream] [--save DIR]).
//
// 1. The whole load of the console's stored skin: decompression, parsing of bitmaps and object
//    text, key-colour replacement and bitmap-link resolution. Goal: at most 20 ms.
// 2. One paint of a skinned 75 x 25 button with caption and glyph, per state (normal, hot,
//    pressed, focused, disabled), double-buffered. Goal: at most 0.2 ms.
// With --save DIR the painted button of each state is written to DIR/button-STATE.png.
#include "skin/SkinButton.h"
#include "skin/SkinEngine.h"
#include "skin/store/SkinFilters.h"
#include "skin/store/SkinSource.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point Start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

} // namespace

int main(int argc, char** argv) {
    std::string path = KELVORA_SKIN_OUT "/xpblue.stream";
    std::string saveDir;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--save" && i + 1 < argc)
            saveDir = argv[++i];
        else
            path = argv[i];
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string stream = s.str();
    if (stream.empty()) {
        std::fprintf(stderr, "bench-skin: cannot read %s\n", path.c_str());
        return 2;
    }

    constexpr int loads = 50;
    double best = 1e9, total = 0;
    for (int i = 0; i < loads; ++i) {
        TSkinSource source;
        const auto start = Clock::now();
        const kv::skin::SkinStatus st = kv::skin::ReadSkinStream(stream, source);
        const double ms = msSince(start);
        if (!st.Ok()) {
            std::fprintf(stderr, "bench-skin: %s\n", st.Error.c_str());
            return 2;
        }
        best = std::min(best, ms);
        total += ms;
    }
    std::printf("stored skin load (%zu bytes): mean %.3f ms, best %.3f ms (goal <= 20 ms)\n",
                stream.size(), total / loads, best);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();
    auto* form = new TForm(nullptr);
    auto* engine = new TSkinEngine(form);
    engine->LoadFromStream(stream);
    auto* button = new TSkinButton(form);
    button->SetParent(form);
    button->SetBounds(10, 10, 75, 25);
    button->SetCaption("Ba\xC5\x9Flat");
    QTemporaryDir dir;
    QImage glyph(16, 16, QImage::Format_ARGB32);
    glyph.fill(Qt::transparent);
    QPainter(&glyph).fillRect(3, 3, 10, 10, QColor(240, 140, 20));
    glyph.save(dir.filePath(QStringLiteral("g.png")));
    button->Glyph()->LoadFromFile(dir.filePath(QStringLiteral("g.png")).toStdString());
    button->SetSkinEngine(engine);

    struct Case {
        const char* Name;
        std::function<void()> Set;
    };
    const Case cases[] = {
        {"normal", [&] {}},
        {"hot",
         [&] {
             QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
             QApplication::sendEvent(button->Widget(), &e);
         }},
        {"pressed", [&] { button->SetState(wbsPressed); }},
        {"focused",
         [&] {
             QEvent leave(QEvent::Leave);
             QApplication::sendEvent(button->Widget(), &leave);
             button->SetState(wbsNormal);
             button->SetDefault(true);
         }},
        {"disabled", [&] { button->SetEnabled(false); }},
    };
    constexpr int paints = 2000;
    for (const Case& c : cases) {
        c.Set();
        const QImage shown = button->RenderImage(); // also the warm-up (glyph, font caches)
        if (!saveDir.empty())
            shown.save(QString::fromStdString(saveDir + "/button-" + c.Name + ".png"));
        const auto start = Clock::now();
        for (int i = 0; i < paints; ++i)
            button->RenderImage();
        std::printf("button paint, %-8s (state %d): %.4f ms (goal <= 0.2 ms)\n", c.Name,
                    button->SkinState(), msSince(start) / paints);
    }
    form->DoDestroy();
    delete form;
    return 0;
}
