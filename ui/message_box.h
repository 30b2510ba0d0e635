#pragma once
// The message box every notice, error and confirmation of the program goes through.
//
// Kinds and their skins:
//   1 notice           "MsgBoxOkWin.xml"     OK
//   2 question         "MsgBoxWin.xml"       OK, Cancel
//   3 password check   "MsgBoxPWDWin.xml"    OK only with the logged-in user's password
//   4 user permission  "UserPermission.xml"  shows the logged-in user name
// Each box also falls back to a built-in form when its skin cannot be loaded, so a
// broken skin folder can still be reported.

#include <string>

#include "ui/pop_up_dlg.h"

namespace ui {

class CPopMessageBox final : public CPopUpDlg {
public:
    static constexpr const char* kDefaultTitle = "温馨提示";
    static constexpr const char* kOkText = "确定";
    static constexpr const char* kCancelText = "取消";

    // `kind` 1..4; anything else is a notice.
    CPopMessageBox(int kind, platform::WindowHandle parent);

    static std::string SkinOfKind(int kind);

    std::string GetWindowClassName() const override { return "PopMessageBox"; }
    std::string GetFallbackSkin() override;
    int EscapeResult() const override { return kResultCancel; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;

    int Kind() const { return kind_; }
    std::string title = kDefaultTitle;
    std::string textOne;
    std::string textTwo;
    std::string okText = kOkText;
    std::string cancelText = kCancelText;
    // Set when the box is ended with its close button (if given).
    bool* closedByCloseButton = nullptr;

private:
    void OnOk();
    int kind_;
};

// Shows the box modally over `parent` (0: a top-level box). Request kind 0 gives a
// notice, 1 a question, 3 and 4 their kinds with `text2` as the title. Returns 1 when
// the box ended with OK (17), otherwise 2.
int ShowMessageBox(const std::string& text1, platform::WindowHandle parent = 0, int requestKind = 0,
                   const std::string& text2 = {}, bool* closedByCloseButton = nullptr);

// A notice titled `caption` instead of the default title (errors: "错误").
// Returns like ShowMessageBox.
int ShowNoticeWithCaption(const std::string& text, const std::string& caption, platform::WindowHandle parent = 0);

// Makes skin loading failures show up in a message box as well as in the log.
void InstallSkinErrorBox();

}  // namespace ui
