#pragma once
// Two pages of the setting tab: where recordings are kept (save management) and which
// version this is.

#include <functional>
#include <string>

#include "platform/window_handles.h"
#include "record/recording_settings.h"
#include "ui/toolkit/paint_manager.h"

namespace core {
class AppConfig;
}

namespace ui {
class CComboUI;
class CControlUI;
}  // namespace ui

namespace mainwin {

// "VMSaveTimecb" holds how many days recordings are kept, "VMFileSizecb" how many
// minutes each file lasts. Each item's leading number is what the settings file keeps.
class SaveManagePanel {
public:
    static constexpr const char* kSavedText = "保存成功！";
    static constexpr const char* kFolderPrompt = "请选择存储路径:";
    static constexpr const char* kDaysUnit = "天";
    static constexpr const char* kMinutesUnit = "分钟";
    using FolderPicker = std::function<std::string(const std::string& prompt, const std::string& start)>;
    // Puts saved settings in force (recorders, sweeper).
    using SavedHandler = std::function<void(const record::RecordingSettings&)>;

    void Bind(ui::CPaintManagerUI& manager);
    void SetSavedHandler(SavedHandler handler) { saved_ = std::move(handler); }
    // Shows the stored recording path, retention and file length. A stored number no
    // item offers (written by an older version) is added, so the page shows what is in
    // force.
    void Fill(const core::AppConfig& config);
    // "btnVMBrowse" and "btnVMSave"; true when the notification was the panel's.
    bool HandleNotify(ui::TNotifyUI& msg, core::AppConfig& config, platform::WindowHandle parent,
                      const FolderPicker& pickFolder);

private:
    ui::CControlUI* path_ = nullptr;
    ui::CComboUI* keepDays_ = nullptr;
    ui::CComboUI* fileMinutes_ = nullptr;
    SavedHandler saved_;
};

struct VersionNumbers {
    int product[4];
    int file[4];
};
// This program's version numbers.
VersionNumbers ProgramVersion();
// "V%d.%d.%d.%d" of the product version.
std::string SoftwareVersionText(const VersionNumbers& version);
// The issue date from the file version: 20.16.5.10 reads "2016年5月10日".
std::string IssueDateText(const VersionNumbers& version);
// Fills "VSWSoftVersion" and "VSWIssueDate".
void FillVersionPanel(ui::CPaintManagerUI& manager, const VersionNumbers& version = ProgramVersion());

}  // namespace mainwin
