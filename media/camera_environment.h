#pragma once
// What a camera needs from the program around it, and why an audio start was refused.

#include <functional>
#include <string>

#include "media/show_stage.h"
#include "platform/message.h"
#include "record/record_clock.h"
#include "record/record_writer.h"
#include "transport/forwarding_link.h"

namespace media {

// Where a camera's messages and requests go. The program installs the environment
// of its cameras at start-up (it reaches the application object and the control
// client of the running login cycle); tests put their own.
struct CameraEnvironment {
    std::function<bool(platform::Message)> postToMainWindow;
    std::function<bool(platform::Message)> postToTaskThread;
    transport::AddressProvider addresses;
    // The forwarding-address request with node id, for the talk link's reopen.
    transport::AddressProvider talkAddresses;
    // The record root and the file length in minutes ("path", "FileSize").
    std::function<std::string()> recordRoot;
    std::function<int()> recordMinutes;
    record::RecordClock recordClock = record::RecordClock::System();
    // Opening per frame costs well under 1 % of the client's CPU (bench_record).
    record::WriteMode recordMode = record::WriteMode::kOpenPerFrame;
    transport::LinkTiming linkTiming;
    DisplayTiming displayTiming;

    // The installed environment; before one is installed, one that reaches nothing
    // (posts fail, no addresses, no record root).
    static CameraEnvironment Application();
    static void InstallApplication(CameraEnvironment environment);
};

// Why listening or talkback did not start; the user is told the last two.
enum class AudioRefusal {
    kNone,
    kNotPlaying,       // the camera shows no stream
    kRefused,          // the forwarding server or the talk link said no
    kNoOutputDevice,   // no player could be opened or started
    kNoMicrophone,     // nothing to capture the user's voice from
};

// Records the reason where the caller asked for one; always false.
inline bool Refuse(AudioRefusal* why, AudioRefusal reason) {
    if (why) *why = reason;
    return false;
}

}  // namespace media
