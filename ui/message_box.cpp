#include "ui/message_box.h"

#include <QString>

#include "core/app_config.h"
#include "core/log_file.h"

namespace ui {
namespace {

std::string Trimmed(const std::string& text) {
    return QString::fromStdString(text).trimmed().toStdString();
}

// A plain form with every control a box of `kind` uses.
std::string BuiltInForm(int kind) {
    std::string extra;
    if (kind == 3) {
        extra = R"(<item><widget class="QLabel" name="TextShow"/></item>
<item><widget class="QLineEdit" name="editPopUsrPW"><property name="echoMode"><enum>QLineEdit::Password</enum></property></widget></item>
<item><widget class="QLabel" name="tipErrorPWD"><property name="visible"><bool>false</bool></property><property name="text"><string>密码错误</string></property></widget></item>)";
    } else if (kind == 4) {
        extra = R"(<item><widget class="QLineEdit" name="editPopUsrName"><property name="readOnly"><bool>true</bool></property></widget></item>)";
    }
    const std::string cancel =
        kind == 1 ? "" : R"(<item><widget class="QPushButton" name="BtnCancel"><property name="text"><string>取消</string></property></widget></item>)";
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>MsgBox</class>
<widget class="QWidget" name="MsgBox"><property name="geometry"><rect><x>0</x><y>0</y><width>360</width><height>200</height></rect></property>
<layout class="QVBoxLayout">
<item><layout class="QHBoxLayout">
<item><widget class="QLabel" name="TextTitle"/></item>
<item><widget class="QPushButton" name="CloseBtn"><property name="text"><string>×</string></property></widget></item>
</layout></item>
<item><widget class="QLabel" name="TextOne"><property name="wordWrap"><bool>true</bool></property></widget></item>
<item><widget class="QLabel" name="TextTwo"><property name="wordWrap"><bool>true</bool></property></widget></item>
)" + extra + R"(
<item><layout class="QHBoxLayout">
<item><widget class="QPushButton" name="BtnOK"><property name="text"><string>确定</string></property></widget></item>
)" + cancel + R"(
</layout></item>
</layout></widget></ui>)";
}

}  // namespace

CPopMessageBox::CPopMessageBox(int kind, platform::WindowHandle parent)
    : CPopUpDlg(SkinOfKind(kind), parent), kind_(kind >= 1 && kind <= 4 ? kind : 1) {}

std::string CPopMessageBox::SkinOfKind(int kind) {
    switch (kind) {
        case 2: return "MsgBoxWin.xml";
        case 3: return "MsgBoxPWDWin.xml";
        case 4: return "UserPermission.xml";
        default: return "MsgBoxOkWin.xml";
    }
}

std::string CPopMessageBox::GetFallbackSkin() { return BuiltInForm(kind_); }

void CPopMessageBox::InitWindow() {
    auto set = [this](const char* name, const std::string& text) {
        if (CControlUI* control = m_PaintManager.FindControl(name); control && !text.empty()) control->SetText(text);
    };
    set("TextTitle", title);
    set("TextOne", textOne);
    set("TextTwo", textTwo);
    set("BtnOK", okText);
    set("BtnCancel", cancelText);
    if (kind_ == 3) {
        set("TextShow", textTwo);
        if (CControlUI* tip = m_PaintManager.FindControl("tipErrorPWD")) tip->SetVisible(false);
        if (auto* edit = m_PaintManager.FindControl<CEditUI>("editPopUsrPW")) {
            edit->SetPasswordMode(true);
            edit->SetFocus();
        }
    } else if (kind_ == 4) {
        set("editPopUsrName", core::AppConfig::Instance().LoginUserName());
    }
}

void CPopMessageBox::Notify(TNotifyUI& msg) {
    if (msg.sType != notify::kClick || !msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (name == "BtnOK") {
        OnOk();
    } else if (name == "BtnCancel") {
        Close(kResultCancel);
    } else if (name == "CloseBtn") {
        if (closedByCloseButton) *closedByCloseButton = true;
        Close(kResultCancel);
    }
}

void CPopMessageBox::OnOk() {
    if (kind_ != 3) {
        Close(kResultOk);
        return;
    }
    CControlUI* edit = m_PaintManager.FindControl("editPopUsrPW");
    const std::string typed = edit ? Trimmed(edit->GetText()) : std::string();
    // An empty entry never confirms, even while no password is known.
    if (edit && !typed.empty() && typed == core::AppConfig::Instance().LoginPassword()) {
        Close(kResultOk);
        return;
    }
    // Without the password field nothing can be confirmed: the box stays open.
    if (edit) {
        edit->SetText("");
        edit->SetFocus();
    }
    if (CControlUI* tip = m_PaintManager.FindControl("tipErrorPWD")) tip->SetVisible(true);
}

int ShowMessageBox(const std::string& text1, platform::WindowHandle parent, int requestKind, const std::string& text2,
                   bool* closedByCloseButton) {
    int kind = 1;
    if (requestKind == 1) kind = 2;
    if (requestKind == 3 || requestKind == 4) kind = requestKind;
    CPopMessageBox box(kind, parent);
    if ((kind == 3 || kind == 4) && !text2.empty()) box.title = text2;
    box.textOne = text1;
    box.textTwo = text2;
    box.closedByCloseButton = closedByCloseButton;
    return box.DoModal(CPopMessageBox::kDefaultTitle) == kResultOk ? 1 : 2;
}

int ShowNoticeWithCaption(const std::string& text, const std::string& caption, platform::WindowHandle parent) {
    CPopMessageBox box(1, parent);
    if (!caption.empty()) box.title = caption;
    box.textOne = text;
    return box.DoModal(caption) == kResultOk ? 1 : 2;
}

void InstallSkinErrorBox() {
    SetSkinErrorReporter([](const std::string& text) {
        // A box whose own skin is broken reports through its built-in form; never twice over.
        static bool reporting = false;
        if (reporting) return;
        reporting = true;
        ShowNoticeWithCaption(text, "错误");
        reporting = false;
    });
}

}  // namespace ui
