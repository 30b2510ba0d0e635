#pragma once
// One playback: its recording, its decoder and the play thread that decodes each frame
// with vdec, waits for the frame's recorded time, hands the picture to the display and
// reports the position (once per recorded second) and the end through the status
// callback. Commands (pause, resume, seek, stop) come from any thread, and from the
// callback itself.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "libs/rewind/recording_reader.h"
#include "libs/rewind/rewind.h"

namespace rewindlib {

class PlaySession : public std::enable_shared_from_this<PlaySession> {
public:
    // `decoder` is a vdec handle, owned from now on.
    PlaySession(long handle, const TARN_PB_Display& display, std::unique_ptr<ByteSource> source,
                RecordingIndex index, unsigned long decoder);
    ~PlaySession();
    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;

    // Starts the play thread at the first key frame.
    void Start();
    void SetStatusCallBack(TARN_PB_StatusCallBack callback, void* user);
    void Pause();
    void Resume();
    // To the key frame at or before `seconds`; after the end: the end (finished).
    void Seek(std::int64_t seconds);
    // Ends the play thread: waits for it, unless called on it (from the callback), when
    // it only tells it to end. Nothing reaches the display or the callback afterwards.
    void Stop();

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    // Decodes and shows frame `i` and reports its position; false when the decoder is
    // gone. Runs without the lock.
    void PlayFrame(std::size_t i, bool freshDecoder);
    void Report(unsigned int message, long value);

    const long handle_;
    const TARN_PB_Display display_;
    const std::unique_ptr<ByteSource> source_;
    const RecordingIndex index_;

    std::mutex mutex_;
    std::condition_variable wake_;
    TARN_PB_StatusCallBack callback_ = nullptr;
    void* user_ = nullptr;
    bool stop_ = false;
    bool paused_ = false;
    bool seekPending_ = false;
    std::int64_t seekTarget_ = 0;
    bool showOnce_ = false;     // a seek while paused shows the picture it lands on
    bool endToReport_ = false;  // the end was reached before a callback was set
    std::size_t next_ = 0;
    bool anchored_ = false;
    Clock::time_point anchorTime_;
    std::int64_t anchorPlayMs_ = 0;

    // Play thread only.
    unsigned long decoder_ = 0;
    bool resetDecoder_ = false;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> picture_;
    bool positionReported_ = false;
    std::int64_t reportedSecond_ = 0;

    std::thread thread_;
};

}  // namespace rewindlib
