#pragma once
// The recording settings in force for the whole program: the record root, the length
// of each file and how long recordings are kept. Set at each login from the saved
// settings and again whenever the user saves new ones; recorders read them when they
// start. Safe from any thread.

#include <string>

namespace record {

constexpr int kDefaultFileMinutes = 30;
constexpr int kDefaultKeepDays = 15;

struct RecordingSettings {
    std::string root;                       // empty: the platform's default record root
    int fileMinutes = kDefaultFileMinutes;  // a file is cut after this many minutes
    int keepDays = kDefaultKeepDays;        // older recordings are deleted
};

// Values below 1 take the defaults, and an empty root the platform's default.
RecordingSettings Normalised(RecordingSettings settings);

void SetRecordingSettings(const RecordingSettings& settings);
RecordingSettings CurrentRecordingSettings();

}  // namespace record
