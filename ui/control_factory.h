#pragma once
// The main window's control factory: the controls for the custom tags of its skins
// (its CreateControl asks here). Tags are compared without regard to case; a tag of
// no control here yields nullptr.
//
//   FriendList            CTreeList with the window's paint manager
//   PreviewPannel, SettingPanel, PermissionPanel, SubAccActionPanel,
//   SubAccBatchActionPanel, EditMsgPanel, PlayBackPanel, CamGroupPanel, PlayPlanPanel,
//   SearchDevicePanel, InformatePanel, SaveManagePanel, VersionPanel, MessagePanel
//                         the panel of that name with "<tag>.xml"
//   AlarmPanel            an empty container until the alarm panel's maker is set

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/toolkit/control.h"
#include "ui/toolkit/window.h"

namespace ui {

class CControlFactory {
public:
    using Maker = std::function<CControlUI*(QWidget* parent)>;

    explicit CControlFactory(WindowImplBase& window);

    CControlUI* Create(const std::string& tag, QWidget* parent) const;
    // Adds or replaces the maker of a tag (the alarm panel comes from its own part).
    void SetMaker(const std::string& tag, Maker maker);
    bool Knows(const std::string& tag) const;
    static std::vector<std::string> DefaultTags();

private:
    static std::string Key(const std::string& tag);
    WindowImplBase& window_;
    std::map<std::string, Maker> makers_;  // by lower-case tag
};

}  // namespace ui
