#pragma once
// The monitor's debug dialog: shown (modal) before a statement is prepared, unprepared or
// executed when the monitor's options ask for it. It shows the statement text, an empty line and
// the parameter list in a read-only memo; "Close", Enter or Escape closes it. Its position and
// size are kept in the current user's registry under SOFTWARE\Quorix\DBAccess\Debug (Left, Top,
// Width, Height, each used only when present); without them it is half the screen wide and
// centred.

#include "dataaccess/DASQLMonitor.h"
#include "toolkit/ui/Forms.h"

class TPanel;
class TButton;
class TLabel;
class TMemoControl;

namespace kv::dataaccess::ui {

class TDebugForm : public TForm {
public:
    explicit TDebugForm(const TDebugDialogRequest& Request);
    std::string ClassName() const override { return "TDebugForm"; }

    // The stored position and size, or the default ones.
    void PlaceFromRegistry();
    // Writes the position and size back (the key is created when missing).
    void SavePlacement() const;

    TPanel* pnTop = nullptr;
    TButton* btClose = nullptr;
    TLabel* lbBefore = nullptr;
    TPanel* pnLeft = nullptr;
    TMemoControl* meSQL = nullptr;
};

// Builds the dialog, shows it modally, and keeps its placement.
void ShowDebugForm(const TDebugDialogRequest& Request);

inline constexpr const char* DebugFormKey = "SOFTWARE\\Quorix\\DBAccess\\Debug";

} // namespace kv::dataaccess::ui
