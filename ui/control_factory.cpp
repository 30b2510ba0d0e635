#include "ui/control_factory.h"

#include <algorithm>
#include <cctype>

#include "ui/panels.h"
#include "ui/tree_list.h"

namespace ui {

CControlFactory::CControlFactory(WindowImplBase& window) : window_(window) {
    WindowImplBase* w = &window_;
    SetMaker("FriendList", [w](QWidget* parent) { return new CTreeList(&w->m_PaintManager, parent); });
    auto panel = [this](const char* tag, auto make) { SetMaker(tag, make); };
    panel("PreviewPannel", [w](QWidget* p) { return new CPreviewPannel(*w, p); });
    panel("SettingPanel", [w](QWidget* p) { return new CSettingPanel(*w, p); });
    panel("PermissionPanel", [w](QWidget* p) { return new CPermissionPanel(*w, p); });
    panel("SubAccActionPanel", [w](QWidget* p) { return new CSubAccActionPanel(*w, p); });
    panel("SubAccBatchActionPanel", [w](QWidget* p) { return new CSubAccBatchActionPanel(*w, p); });
    panel("EditMsgPanel", [w](QWidget* p) { return new CEditMsgPanel(*w, p); });
    panel("PlayBackPanel", [w](QWidget* p) { return new CPlayBackPanel(*w, p); });
    panel("CamGroupPanel", [w](QWidget* p) { return new CCamGroupPanel(*w, p); });
    panel("PlayPlanPanel", [w](QWidget* p) { return new CPlayPlanPanel(*w, p); });
    panel("SearchDevicePanel", [w](QWidget* p) { return new CSearchDevicePanel(*w, p); });
    panel("InformatePanel", [w](QWidget* p) { return new CInformatePanel(*w, p); });
    panel("SaveManagePanel", [w](QWidget* p) { return new CSaveManagePanel(*w, p); });
    panel("VersionPanel", [w](QWidget* p) { return new CVersionPanel(*w, p); });
    panel("MessagePanel", [w](QWidget* p) { return new CMessagePanel(*w, p); });
    // The alarm panel is its own part's; until it registers, its place stays empty.
    SetMaker("AlarmPanel", [](QWidget* p) { return new CContainerUI(p); });
}

std::string CControlFactory::Key(const std::string& tag) {
    std::string key = tag;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

CControlUI* CControlFactory::Create(const std::string& tag, QWidget* parent) const {
    auto it = makers_.find(Key(tag));
    return it == makers_.end() ? nullptr : it->second(parent);
}

void CControlFactory::SetMaker(const std::string& tag, Maker maker) { makers_[Key(tag)] = std::move(maker); }

bool CControlFactory::Knows(const std::string& tag) const { return makers_.count(Key(tag)) > 0; }

std::vector<std::string> CControlFactory::DefaultTags() {
    return {"FriendList",    "PreviewPannel",  "SettingPanel",      "PermissionPanel", "SubAccActionPanel",
            "SubAccBatchActionPanel", "EditMsgPanel", "PlayBackPanel", "CamGroupPanel", "PlayPlanPanel",
            "SearchDevicePanel", "InformatePanel", "SaveManagePanel", "VersionPanel", "AlarmPanel",
            "MessagePanel"};
}

}  // namespace ui
