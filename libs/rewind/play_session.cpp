#include "libs/rewind/play_session.h"

#include <algorithm>

#include "vdec/vdec.h"

namespace rewindlib {
namespace {

// Larger pictures than this are not a camera's (and would ask for gigabytes).
constexpr std::int64_t kMaxPicturePixels = 8192LL * 4352;
// Playback that fell this far behind its frames' times (a stalled machine) goes on
// from where it is instead of rushing to catch up.
constexpr auto kMaxLate = std::chrono::milliseconds(1000);

}  // namespace

PlaySession::PlaySession(long handle, const TARN_PB_Display& display, std::unique_ptr<ByteSource> source,
                         RecordingIndex index, unsigned long decoder)
    : handle_(handle), display_(display), source_(std::move(source)), index_(std::move(index)), decoder_(decoder) {
    next_ = index_.Playable() ? index_.FirstKey() : index_.FrameCount();
}

PlaySession::~PlaySession() {
    if (thread_.joinable()) {
        // Only reached when the last owner is the play thread itself, which has ended
        // its loop by then.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    if (decoder_ != 0) ReleaseDeCode(decoder_);
}

void PlaySession::Start() {
    // The thread owns the session as well, so that a stop from the callback (which
    // cannot wait for its own thread) leaves it alive until the thread is out.
    std::shared_ptr<PlaySession> self = shared_from_this();
    thread_ = std::thread([self] { self->Run(); });
}

void PlaySession::SetStatusCallBack(TARN_PB_StatusCallBack callback, void* user) {
    std::lock_guard lock(mutex_);
    callback_ = callback;
    user_ = user;
    wake_.notify_all();  // an end reached before there was a callback is reported now
}

void PlaySession::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    wake_.notify_all();
}

void PlaySession::Resume() {
    std::lock_guard lock(mutex_);
    if (!paused_) return;
    paused_ = false;
    anchored_ = false;  // the next frame is due now
    wake_.notify_all();
}

void PlaySession::Seek(std::int64_t seconds) {
    std::lock_guard lock(mutex_);
    seekPending_ = true;
    seekTarget_ = seconds;
    wake_.notify_all();
}

void PlaySession::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        wake_.notify_all();
    }
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // called from the callback: the thread ends when it returns
    } else {
        thread_.join();
    }
}

void PlaySession::Report(unsigned int message, long value) {
    TARN_PB_StatusCallBack callback;
    void* user;
    {
        std::lock_guard lock(mutex_);
        if (stop_) return;
        callback = callback_;
        user = user_;
    }
    if (callback) callback(handle_, message, 0, value, user);
}

void PlaySession::Run() {
    std::unique_lock lock(mutex_);
    const std::size_t count = index_.FrameCount();
    while (!stop_) {
        if (seekPending_) {
            seekPending_ = false;
            const std::size_t key = index_.KeyAtOrBefore(seekTarget_);
            next_ = key == RecordingIndex::npos ? count : key;
            endToReport_ = next_ >= count;
            resetDecoder_ = true;  // nothing of the old position may come out first
            anchored_ = false;
            positionReported_ = false;
            showOnce_ = paused_ && next_ < count;
            continue;
        }
        if (next_ >= count) {
            if (endToReport_ && callback_) {
                endToReport_ = false;
                const TARN_PB_StatusCallBack callback = callback_;
                void* user = user_;
                lock.unlock();
                callback(handle_, TARN_PB_MSG_FINISHED, 0, 0, user);
                lock.lock();
                continue;
            }
            wake_.wait(lock);
            continue;
        }
        if (paused_ && !showOnce_) {
            wake_.wait(lock);
            continue;
        }
        const IndexedFrame& frame = index_.Frames()[next_];
        const Clock::time_point now = Clock::now();
        if (!anchored_ || showOnce_) {
            anchored_ = true;
            anchorTime_ = now;
            anchorPlayMs_ = frame.playMs;
        }
        const Clock::time_point due = anchorTime_ + std::chrono::milliseconds(frame.playMs - anchorPlayMs_);
        if (now < due) {
            wake_.wait_until(lock, due);
            continue;  // a command may have come meanwhile
        }
        if (now - due > kMaxLate) {
            anchorTime_ = now;
            anchorPlayMs_ = frame.playMs;
        }
        const std::size_t i = next_++;
        showOnce_ = false;
        if (next_ >= count) endToReport_ = true;
        const bool fresh = resetDecoder_;
        resetDecoder_ = false;
        lock.unlock();
        PlayFrame(i, fresh);
        lock.lock();
    }
}

void PlaySession::PlayFrame(std::size_t i, bool freshDecoder) {
    const IndexedFrame& frame = index_.Frames()[i];
    if (freshDecoder || decoder_ == 0) {
        if (decoder_ != 0) ReleaseDeCode(decoder_);
        decoder_ = InitDeCode();
    }
    if (decoder_ != 0 && ReadFrame(*source_, frame, frame_) && !frame_.empty() &&
        frame_.size() <= static_cast<std::size_t>(INT32_MAX)) {
        if (picture_.empty()) {
            const std::int64_t pixels = static_cast<std::int64_t>(frame.width) * frame.height;
            if (pixels > 0 && pixels <= kMaxPicturePixels) picture_.resize(static_cast<std::size_t>(pixels * 3 / 2));
        }
        int consumed = 0, width = 0, height = 0;
        int result = DeCoderEx(decoder_, reinterpret_cast<char*>(frame_.data()), static_cast<int>(frame_.size()),
                               reinterpret_cast<char*>(picture_.data()), static_cast<int>(picture_.size()), consumed,
                               width, height);
        if (result == kVdecBufferTooSmall) {
            // The recorded size was wrong: this picture is lost, the next ones fit.
            const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
            if (pixels > 0 && pixels <= kMaxPicturePixels) picture_.resize(static_cast<std::size_t>(pixels * 3 / 2));
        } else if (result == 1 && width > 0 && height > 0) {
            bool stopped;
            {
                std::lock_guard lock(mutex_);
                stopped = stop_;
            }
            if (!stopped && display_.showPicture)
                display_.showPicture(display_.user, picture_.data(), width, height, SecondsOf(frame.timeMs));
        }
    }
    const std::int64_t second = SecondsOf(frame.timeMs);
    if (!positionReported_ || second != reportedSecond_) {
        positionReported_ = true;
        reportedSecond_ = second;
        Report(TARN_PB_MSG_POSITION, static_cast<long>(second));
    }
}

}  // namespace rewindlib
