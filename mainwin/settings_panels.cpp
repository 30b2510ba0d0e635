#include "mainwin/settings_panels.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "core/app_config.h"
#include "larkview_version.h"
#include "mainwin/control_helpers.h"
#include "ui/message_box.h"
#include "ui/toolkit/control.h"

namespace mainwin {

namespace {

// The leading whole number of an item's text ("15天" is 15); nothing without one.
std::optional<int> NumberOf(const std::string& text) {
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    return number;
}

// Selects the item of `value`, adding "<value><unit>" in order when no item offers it.
void ShowNumber(ui::CComboUI* combo, int value, const char* unit) {
    if (!combo || SelectComboNumber(combo, value) || value < 1) return;
    std::vector<std::pair<int, std::string>> items{{value, std::to_string(value) + unit}};
    for (int i = 0; i < combo->GetCount(); ++i) {
        const std::string text = combo->itemText(i).trimmed().toStdString();
        items.emplace_back(NumberOf(text).value_or(0), text);
    }
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    combo->RemoveAll();
    for (const auto& [number, text] : items) combo->addItem(QString::fromStdString(text));
    AdoptComboItems(combo);
    SelectComboNumber(combo, value);
}

// What the settings file keeps of the chosen item: its number as text.
std::string StoredNumber(const ui::CComboUI* combo) {
    const std::optional<int> number = NumberOf(TextOf(combo));
    return number ? std::to_string(*number) : std::string();
}

}  // namespace

void SaveManagePanel::Bind(ui::CPaintManagerUI& manager) {
    path_ = manager.FindControl("VMSavePathEdit");
    keepDays_ = manager.FindControl<ui::CComboUI>("VMSaveTimecb");
    fileMinutes_ = manager.FindControl<ui::CComboUI>("VMFileSizecb");
    AdoptComboItems(keepDays_);
    AdoptComboItems(fileMinutes_);
}

void SaveManagePanel::Fill(const core::AppConfig& config) {
    SetText(path_, config.recordSavePath);
    // AppConfig still calls the retention the disk reserve.
    ShowNumber(keepDays_, config.recordDiskReserve, kDaysUnit);
    ShowNumber(fileMinutes_, config.recordFileSize, kMinutesUnit);
}

bool SaveManagePanel::HandleNotify(ui::TNotifyUI& msg, core::AppConfig& config, platform::WindowHandle parent,
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
        config.SaveRecordingSettings(StoredNumber(keepDays_), StoredNumber(fileMinutes_));
        if (saved_) saved_({config.recordSavePath, config.recordFileSize, config.recordDiskReserve});
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
