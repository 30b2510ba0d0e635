#pragma once
// The task handlers of listening (1003, 1004, 1031), recording (1051, 1052) and
// talkback (1056, 1057). They run on the task threads, act on the camera found by id
// (or by cell) when it is open, set the camera's flags from the outcome, and report
// to the notify window. The sweeper of old recordings runs beside the login cycle.

#include <functional>
#include <string>

#include "platform/message.h"
#include "record/recording_settings.h"

namespace session {
class CAppInteance;
}

namespace tasks {

struct MediaTaskEnvironment {
    std::function<bool(platform::Message)> postNotify;
};

void HandleStartListen(platform::Message& message, const MediaTaskEnvironment& environment);
void HandleStopListen(platform::Message& message, const MediaTaskEnvironment& environment);
void HandleStopListenCell(platform::Message& message, const MediaTaskEnvironment& environment);
void HandleStartRecord(platform::Message& message, const MediaTaskEnvironment& environment);
void HandleStopRecord(platform::Message& message, const MediaTaskEnvironment& environment);
void HandleStopTalk(platform::Message& message, const MediaTaskEnvironment& environment);
void HandleStartTalk(platform::Message& message, const MediaTaskEnvironment& environment);

// Registers all seven on the application's dispatcher.
void RegisterMediaTasks(session::CAppInteance& application);

// The sweeper of recordings older than `days` below `root`; it first recovers what a
// crash left. Started at each login cycle with the saved settings (which it puts in
// force), stopped at its teardown.
void StartRecordSweeper(const record::RecordingSettings& settings);
void StopRecordSweeper();
// Saved new settings reach everything at once: the settings recorders start with, the
// file length of the recordings in progress, and the sweeper, which sweeps again.
void ApplyRecordingSettings(const record::RecordingSettings& settings);

}  // namespace tasks
