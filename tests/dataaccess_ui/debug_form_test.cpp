// The monitor's debug dialog: its content, the default and the stored placement, Escape closing
// it, and the monitor showing it before an execution when the options ask for it.

#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/ui/DAUIHooks.h"
#include "dataaccess/ui/DebugForm.h"
#include "platform/Platform.h"
#include "platform/posix/SimHost.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace kv::dataaccess::ui {
namespace {

namespace fs = std::filesystem;

class DebugFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        std::string pattern = (fs::temp_directory_path() / "kv-debugform-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        auto host = kv::platform::sim::SimHost::create(folder_ / "host");
        ASSERT_TRUE(host) << host.error().message;
        host_.emplace(std::move(host).value());
        platform_ = kv::platform::sim::createSimulatedPlatform(*host_);
        SetDataAccessPlatform(platform_.get());
    }
    void TearDown() override {
        SetDataAccessPlatform(nullptr);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::optional<std::uint32_t> stored(const char* name) {
        auto key =
            platform_->registry().openKey(kv::platform::RegistryRoot::CurrentUser, DebugFormKey);
        if (!key)
            return std::nullopt;
        auto v = (*key)->readInteger(name);
        return v ? std::optional<std::uint32_t>(*v) : std::nullopt;
    }
    // Presses Escape in the modal dialog once it is up.
    static void escapeWhenShown(int* shown) {
        QTimer::singleShot(50, [shown] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                ++*shown;
                QTest::keyClick(w, Qt::Key_Escape);
            } else {
                escapeWhenShown(shown);
            }
        });
    }

    fs::path folder_;
    std::optional<kv::platform::sim::SimHost> host_;
    std::unique_ptr<kv::platform::Platform> platform_;
};

TEST_F(DebugFormTest, ContentAndDefaultPlacement) {
    TDebugDialogRequest r;
    r.Caption = "Nuvo Debug: Form1.MSQuery1  [Execute]";
    r.SQL = "select :p";
    r.ParamsText = ":p(Integer,IN)=5";
    TDebugForm form(r);
    EXPECT_EQ(form.Caption(), "Nuvo Debug: Form1.MSQuery1  [Execute]");
    EXPECT_EQ(form.meSQL->Lines()->Count(), 3);
    EXPECT_EQ(form.meSQL->Lines()->Get(0), "select :p");
    EXPECT_EQ(form.meSQL->Lines()->Get(1), "");
    EXPECT_EQ(form.meSQL->Lines()->Get(2), ":p(Integer,IN)=5");
    EXPECT_TRUE(form.meSQL->ReadOnly());
    EXPECT_EQ(form.btClose->Caption(), "Close");
    EXPECT_EQ(form.lbBefore->Caption(), "Before execution");
    EXPECT_EQ(form.pnTop->Height(), 24);
    EXPECT_EQ(form.pnLeft->Width(), 15);

    form.PlaceFromRegistry();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(form.Width(), area.width() / 2);
    EXPECT_EQ(form.Left(), area.left() + (area.width() - form.Width()) / 2);
}

// Escape closes the dialog; the placement goes to the registry and comes back from it.
TEST_F(DebugFormTest, PlacementIsKeptBetweenShows) {
    TDebugDialogRequest r;
    r.Caption = "Nuvo Debug: MSQuery1  [Execute]";
    r.SQL = "select 1";
    {
        TDebugForm form(r);
        form.SetBounds(30, 40, 500, 300);
        form.SavePlacement();
    }
    EXPECT_EQ(stored("Left"), 30u);
    EXPECT_EQ(stored("Height"), 300u);
    int shown = 0;
    escapeWhenShown(&shown);
    ShowDebugForm(r);
    EXPECT_EQ(shown, 1);
    TDebugForm again(r);
    again.PlaceFromRegistry();
    EXPECT_EQ(again.Left(), 30);
    EXPECT_EQ(again.Width(), 500);
}

// With moDialog and without moCustom, the monitor shows the dialog before every execution.
TEST_F(DebugFormTest, MonitorShowsItBeforeAnExecution) {
    InstallDataAccessUI();
    TMSSQLMonitor monitor(nullptr);
    monitor.SetActive(false);
    monitor.SetOptions(TMonitorOptions{moDialog});
    monitor.SetActive(true);
    int shown = 0;
    escapeWhenShown(&shown);
    std::uint32_t id = 0;
    TCustomDASQLMonitor::SQLExecute(&monitor, &monitor, "select 1", nullptr, "", id, true);
    EXPECT_EQ(shown, 1);
}

// The pixels of a control that differ from its background colour (taken at its top-left
// corner, inset by Inset, which for a button leaves out its frame and focus rectangle): the ink
// of its text.
int inkPixels(QWidget* Widget, int Inset) {
    const QImage image = Widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect inside = image.rect().adjusted(Inset, Inset, -Inset, -Inset);
    const QRgb background = image.pixel(inside.topLeft());
    int ink = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (image.pixel(x, y) != background)
                ++ink;
    return ink;
}

// The debug dialog's "Close" button and "Before execution" label are bold. The dialog's face,
// MS Sans Serif, exists only as bitmaps, which Qt cannot embolden; the toolkit emboldens it as
// GDI does (every stroke one pixel wider), so the bold text carries clearly more ink.
TEST_F(DebugFormTest, CloseButtonAndBeforeLabelAreBold) {
    TDebugDialogRequest r;
    r.Caption = "Nuvo Debug: Form1.MSQuery1  [Execute]";
    r.SQL = "select 1";
    TDebugForm form(r);
    form.btClose->SetDefault(false); // no default-button frame inside the measured area
    ASSERT_TRUE(form.btClose->Font()->Style().Contains(fsBold));
    ASSERT_TRUE(form.lbBefore->Font()->Style().Contains(fsBold));
    const int boldButton = inkPixels(form.btClose->Widget(), 5);
    const int boldLabel = inkPixels(form.lbBefore->Widget(), 0);
    const int boldLabelWidth = form.lbBefore->Width();
    form.btClose->Font()->SetStyle({});
    form.lbBefore->Font()->SetStyle({});
    const int regularButton = inkPixels(form.btClose->Widget(), 5);
    const int regularLabel = inkPixels(form.lbBefore->Widget(), 0);
    EXPECT_GT(regularButton, 0);
    EXPECT_GT(regularLabel, 0);
    EXPECT_GE(boldButton * 4, regularButton * 5) << boldButton << " vs " << regularButton;
    EXPECT_GE(boldLabel * 4, regularLabel * 5) << boldLabel << " vs " << regularLabel;
    // Emboldened characters are one pixel wider each: "Before execution" has 16.
    EXPECT_EQ(boldLabelWidth, form.lbBefore->Width() + 16);
}

} // namespace
} // namespace kv::dataaccess::ui
