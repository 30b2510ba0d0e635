#pragma once
// The base of every small dialog: a skinned window built from the dialog's skin file,
// a child of its parent window, centred on it and run modally. Its result is the code
// it closes with; Escape closes with 1 unless the dialog says otherwise.

#include <string>

#include "ui/toolkit/window.h"

namespace ui {

// Result codes of the dialogs.
constexpr int kResultOk = 17;
constexpr int kResultCancel = 33;
constexpr int kResultChangeUser = 34;
constexpr int kResultEscape = 1;

class CPopUpDlg : public WindowImplBase {
public:
    CPopUpDlg(std::string skinFile, platform::WindowHandle parent);

    std::string GetWindowClassName() const override { return "PopUpDlg"; }
    std::string GetSkinFile() override { return skinFile_; }
    int EscapeResult() const override { return kResultEscape; }

    // Creates the dialog (once), centres it on its parent and runs it modally.
    // -1 when the skin could not be loaded.
    int DoModal(const std::string& caption = {});

protected:
    platform::WindowHandle Parent() const { return parent_; }

private:
    std::string skinFile_;
    platform::WindowHandle parent_;
};

}  // namespace ui
