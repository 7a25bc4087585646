#include "dataaccess/ui/DebugForm.h"

#include "dataaccess/DAPlatform.h"
#include "platform/Platform.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QGuiApplication>
#include <QScreen>

namespace kv::dataaccess::ui {

namespace {

constexpr TColor clNavy = 0x800000; // BGR, as the toolkit's colours

kv::platform::Registry* registry() {
    auto* platform = DataAccessPlatform();
    return platform != nullptr ? &platform->registry() : nullptr;
}

} // namespace

TDebugForm::TDebugForm(const TDebugDialogRequest& Request) : TForm(nullptr) {
    SetCaption(Request.Caption);

    pnTop = new TPanel(this);
    pnTop->SetParent(this);
    pnTop->SetAlign(alTop);
    pnTop->SetHeight(24);
    pnTop->SetBevelOuter(bvNone);

    btClose = new TButton(this);
    btClose->SetParent(pnTop);
    btClose->SetBounds(0, 1, 150, 22);
    btClose->SetCaption("Close");
    btClose->Font()->SetStyle(TFontStyles{fsBold});
    btClose->SetModalResult(mrOk);
    btClose->SetDefault(true); // Enter
    btClose->SetCancel(true);  // Escape

    lbBefore = new TLabel(this);
    lbBefore->SetParent(pnTop);
    lbBefore->SetLeft(175);
    lbBefore->SetTop(5);
    lbBefore->SetCaption("Before execution");
    lbBefore->Font()->SetStyle(TFontStyles{fsBold});
    lbBefore->Font()->SetColor(clNavy);

    pnLeft = new TPanel(this);
    pnLeft->SetParent(this);
    pnLeft->SetAlign(alLeft);
    pnLeft->SetWidth(15);
    pnLeft->SetBevelOuter(bvLowered);

    meSQL = new TMemoControl(this);
    meSQL->SetParent(this);
    meSQL->SetAlign(alClient);
    meSQL->Font()->SetName("Courier New");
    meSQL->SetScrollBars(ssBoth);
    meSQL->SetWordWrap(false);
    meSQL->SetReadOnly(true);
    meSQL->Lines()->SetText(Request.SQL + "\r\n\r\n" + Request.ParamsText);
}

void TDebugForm::PlaceFromRegistry() {
    // Half the screen wide and centred, unless the registry says otherwise.
    int left = 0, top = 0, width = 640, height = 400;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        width = area.width() / 2;
        height = area.height() / 2;
        left = area.left() + (area.width() - width) / 2;
        top = area.top() + (area.height() - height) / 2;
    }
    if (auto* r = registry()) {
        if (auto key = r->openKey(kv::platform::RegistryRoot::CurrentUser, DebugFormKey)) {
            const auto read = [&](const char* name, int& value) {
                if (auto v = (*key)->readInteger(name))
                    value = static_cast<int>(*v);
            };
            read("Left", left);
            read("Top", top);
            read("Width", width);
            read("Height", height);
        }
    }
    SetBounds(left, top, width, height);
}

void TDebugForm::SavePlacement() const {
    auto* r = registry();
    if (r == nullptr)
        return;
    auto key = r->createKey(kv::platform::RegistryRoot::CurrentUser, DebugFormKey);
    if (!key)
        return;
    (void)(*key)->writeInteger("Left", static_cast<std::uint32_t>(Left()));
    (void)(*key)->writeInteger("Top", static_cast<std::uint32_t>(Top()));
    (void)(*key)->writeInteger("Width", static_cast<std::uint32_t>(Width()));
    (void)(*key)->writeInteger("Height", static_cast<std::uint32_t>(Height()));
}

void ShowDebugForm(const TDebugDialogRequest& Request) {
    TDebugForm form(Request);
    form.PlaceFromRegistry();
    form.ShowModal();
    form.SavePlacement();
}

} // namespace kv::dataaccess::ui
