#pragma once
// The panels of the main window's tabs and settings pages. Each is a container that
// builds its own skin file with the window's paint manager, the main window answering
// the custom tags inside it (so panels may hold trees and further panels), and holds
// the result as its only child; when the skin cannot be built the panel stays empty.
// Panels have no behaviour of their own: the main window routes their notifications.

#include <string>

#include "ui/toolkit/control.h"
#include "ui/toolkit/window.h"

namespace ui {

class CSkinPanelUI : public CContainerUI {
public:
    // `className` is the skin tag of the panel; `window` the main window.
    CSkinPanelUI(std::string className, std::string skinFile, WindowImplBase& window, QWidget* parent);
    std::string GetClass() const override { return className_; }
    const std::string& SkinFile() const { return skinFile_; }
    // The built skin, or nullptr when it could not be built.
    QWidget* Content() const { return content_; }

private:
    std::string className_;
    std::string skinFile_;
    QWidget* content_ = nullptr;
};

#define LARKVIEW_PANEL(Class, Tag)                                                                     \
    class Class final : public CSkinPanelUI {                                                          \
    public:                                                                                            \
        static constexpr const char* kSkin = Tag ".xml";                                               \
        Class(WindowImplBase& window, QWidget* parent) : CSkinPanelUI(Tag, kSkin, window, parent) {}  \
    };

LARKVIEW_PANEL(CPreviewPannel, "PreviewPannel")
LARKVIEW_PANEL(CSettingPanel, "SettingPanel")
LARKVIEW_PANEL(CEditMsgPanel, "EditMsgPanel")
LARKVIEW_PANEL(CPlayBackPanel, "PlayBackPanel")
LARKVIEW_PANEL(CCamGroupPanel, "CamGroupPanel")
LARKVIEW_PANEL(CPlayPlanPanel, "PlayPlanPanel")
LARKVIEW_PANEL(CSearchDevicePanel, "SearchDevicePanel")
LARKVIEW_PANEL(CInformatePanel, "InformatePanel")
LARKVIEW_PANEL(CSaveManagePanel, "SaveManagePanel")
LARKVIEW_PANEL(CVersionPanel, "VersionPanel")
LARKVIEW_PANEL(CMessagePanel, "MessagePanel")
#undef LARKVIEW_PANEL

// The three permission panels also log the paint manager they were built with.
class CPermissionPanel final : public CSkinPanelUI {
public:
    static constexpr const char* kSkin = "PermissionPanel.xml";
    CPermissionPanel(WindowImplBase& window, QWidget* parent);
};

class CSubAccActionPanel final : public CSkinPanelUI {
public:
    static constexpr const char* kSkin = "SubAccActionPanel.xml";
    CSubAccActionPanel(WindowImplBase& window, QWidget* parent);
};

class CSubAccBatchActionPanel final : public CSkinPanelUI {
public:
    static constexpr const char* kSkin = "SubAccBatchActionPanel.xml";
    CSubAccBatchActionPanel(WindowImplBase& window, QWidget* parent);
};

}  // namespace ui
