#include "record/recording_settings.h"

#include <mutex>

#include "platform/paths.h"

namespace record {
namespace {

std::mutex settingsMutex;
RecordingSettings& Settings() {
    static RecordingSettings settings = Normalised({});
    return settings;
}

}  // namespace

RecordingSettings Normalised(RecordingSettings settings) {
    const RecordingSettings defaults;
    if (settings.root.empty()) settings.root = platform::DefaultRecordRoot();
    if (settings.fileMinutes < 1) settings.fileMinutes = defaults.fileMinutes;
    if (settings.keepDays < 1) settings.keepDays = defaults.keepDays;
    return settings;
}

void SetRecordingSettings(const RecordingSettings& settings) {
    RecordingSettings normalised = Normalised(settings);
    std::lock_guard lock(settingsMutex);
    Settings() = std::move(normalised);
}

RecordingSettings CurrentRecordingSettings() {
    std::lock_guard lock(settingsMutex);
    return Settings();
}

}  // namespace record
