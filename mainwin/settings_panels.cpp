#include "mainwin/settings_panels.h"

#include <cstdio>

#include "app/app_config.h"
#include "larkview_version.h"
#include "mainwin/control_helpers.h"
#include "ui/message_box.h"
#include "ui/toolkit/control.h"

namespace mainwin {

void SaveManagePanel::Bind(ui::CPaintManagerUI& manager) {
    path_ = manager.FindControl("VMSavePathEdit");
    reserve_ = manager.FindControl<ui::CComboUI>("VMSaveTimecb");
    fileSize_ = manager.FindControl<ui::CComboUI>("VMFileSizecb");
    AdoptComboItems(reserve_);
    AdoptComboItems(fileSize_);
}

void SaveManagePanel::Fill(const app::AppConfig& config) {
    SetText(path_, config.recordSavePath);
    SelectComboNumber(reserve_, config.recordDiskReserve);
    SelectComboNumber(fileSize_, config.recordFileSize);
}

bool SaveManagePanel::HandleNotify(ui::TNotifyUI& msg, app::AppConfig& config, platform::WindowHandle parent,
                                   const FolderPicker& pickFolder) {
    if (msg.sType != ui::notify::kClick || !msg.pSender) return false;
    const std::string name = msg.pSender->GetName();
    if (name == "btnVMBrowse") {
        const std::string chosen = pickFolder ? pickFolder(kFolderPrompt, TextOf(path_)) : std::string();
        if (!chosen.empty()) SetText(path_, chosen);
        return true;
    }
    if (name == "btnVMSave") {
        config.recordSavePath = TextOf(path_);
        config.SaveRecordingSettings(TextOf(reserve_), TextOf(fileSize_));
        ui::ShowMessageBox(kSavedText, parent);
        return true;
    }
    return false;
}

VersionNumbers ProgramVersion() {
    return VersionNumbers{{LARKVIEW_VERSION_MAJOR, LARKVIEW_VERSION_MINOR, LARKVIEW_VERSION_PATCH, 0},
                          {LARKVIEW_FILE_VERSION_1, LARKVIEW_FILE_VERSION_2, LARKVIEW_FILE_VERSION_3,
                           LARKVIEW_FILE_VERSION_4}};
}

std::string SoftwareVersionText(const VersionNumbers& version) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "V%d.%d.%d.%d", version.product[0], version.product[1], version.product[2],
                  version.product[3]);
    return buffer;
}

std::string IssueDateText(const VersionNumbers& version) {
    // The year's second half keeps its leading zero: 20.5.1.2 is the year 2005, not 205.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d%02d年%d月%d日", version.file[0], version.file[1], version.file[2],
                  version.file[3]);
    return buffer;
}

void FillVersionPanel(ui::CPaintManagerUI& manager, const VersionNumbers& version) {
    SetText(manager.FindControl("VSWSoftVersion"), SoftwareVersionText(version));
    SetText(manager.FindControl("VSWIssueDate"), IssueDateText(version));
}

}  // namespace mainwin
