#pragma once
// What the playback panel needs of the library that plays local recordings: start a
// file into a video cell, take its status reports, resume, pause and seek, stop, the
// text of an error code, the picture shown last, and the export to MP4. The program's
// engine is Rewind (MakeRewindEngine); tests give the panel one of their own.

#include <QImage>
#include <functional>
#include <memory>
#include <string>

#include "platform/window_handles.h"

namespace playback {

// Commands of Control.
constexpr int kCommandResume = 1;
constexpr int kCommandPause = 2;
constexpr int kCommandSeek = 5;  // value: seconds since 1970

class PlaybackEngine {
public:
    // Called on the library's own thread with the handle it is about and the message
    // (2022 position, 2024 finished) with its parameters.
    using StatusSink = std::function<void(long handle, unsigned message, unsigned long wParam, long lParam)>;
    // Frames done and to do; returning false cancels the export.
    using ExportProgress = std::function<bool(long long done, long long total)>;

    virtual ~PlaybackEngine() = default;
    // Plays `path` in the cell; 0 with `handle` set, otherwise an error code.
    virtual int Start(platform::WindowHandle cellWindow, const std::string& path, long& handle) = 0;
    virtual std::string ErrorText(int code) const = 0;
    virtual void SetStatusSink(long handle, StatusSink sink) = 0;
    virtual int Control(long handle, int command, long long value) = 0;
    // Stops the playback, releases the handle and blanks the cell.
    virtual void Delete(long handle) = 0;
    // The picture of that playback shown last (null when none was).
    virtual QImage LastPicture(long handle) const = 0;
    // Blocking; run it off the user-interface thread. 0 or an error code.
    virtual int Export(const std::string& path, const std::string& outPath, long long fromTime, long long toTime,
                       ExportProgress progress) = 0;
};

// Rewind's engine (rewind_engine.cpp).
std::shared_ptr<PlaybackEngine> MakeRewindEngine();

}  // namespace playback
