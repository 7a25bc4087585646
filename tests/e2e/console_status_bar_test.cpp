// The status bar of the 290-pixel window shows the guidance, the health of the database and
// where the support bundle went: each of those texts must fit into it in the window's font,
// since a status bar cuts off what does not fit.

#include "console/Unit1.h"
#include "console/guidance.h"
#include "console/health.h"
#include "console/support_bundle.h"
#include "console_host.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QWidget>
#include <gtest/gtest.h>

namespace kv::e2e {
namespace {

TEST(ConsoleStatusBar, EveryTextTheConsoleShowsThereFits) {
    Application->Initialize();
    ConsoleHost host;
    TForm1 form(nullptr, host.platform());
    QWidget* bar = form.StatusBar1->Widget();
    if (QFontInfo(bar->font()).family() != "Tahoma")
        GTEST_SKIP() << "Tahoma is missing (fonts-wine); the widths are Tahoma's";
    const QFontMetrics metrics(bar->font());
    // The text is drawn four pixels in from either edge.
    const int room = form.StatusBar1->Width() - 8;

    std::vector<std::string> texts;
    for (const auto& row : console::guidanceTable())
        texts.push_back(row.text);
    texts.push_back(console::guidanceFor({{30123, "x"}})->text); // the fallback, five digits
    texts.push_back(console::CleanDatabaseStatusText);
    using namespace std::chrono;
    const year_month_day today{year(2024), month(12), day(31)};
    for (const char* checked : {"2024-12-31 10:00:00.000", "2024-12-01 10:00:00.000",
                                "2022-01-01 10:00:00.000", "1900-01-01 00:00:00.000"})
        texts.push_back(console::healthReport(checked, today).statusText);
    texts.push_back(console::healthReport(std::nullopt, today).statusText);
    texts.push_back("Destek paketi: " +
                    console::windowBundlePath(2024, 12, 31, 23, 59, 59).substr(3));
    for (const auto& text : texts) {
        const int width = metrics.horizontalAdvance(QString::fromStdString(text));
        EXPECT_LE(width, room) << text << " is " << width << " pixels wide";
    }
}

} // namespace
} // namespace kv::e2e
