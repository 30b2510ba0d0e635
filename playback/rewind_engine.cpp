// The playback engine over Rewind: each playback draws through a display adapter of
// the cell (the live video's display path) and reports through one C callback, which
// finds the playback's sink by its handle.
#include <map>
#include <mutex>

#include "libs/rewind/rewind.h"
#include "media/playback_display.h"
#include "playback/playback_engine.h"

namespace playback {
namespace {

class RewindEngine final : public PlaybackEngine {
public:
    ~RewindEngine() override {
        std::map<long, Playback> left;
        {
            std::lock_guard lock(mutex_);
            left.swap(playbacks_);
        }
        for (auto& [handle, playback] : left) TARN_PB_DelPlay(handle);
    }

    int Start(platform::WindowHandle cellWindow, const std::string& path, long& handle) override {
        auto display = std::make_shared<media::PlaybackDisplay>(cellWindow);
        long started = 0;
        const int code = TARN_PB_StartPlay(display->Target(), path.c_str(), &started);
        if (code != TARN_PB_OK) return code;
        {
            std::lock_guard lock(mutex_);
            playbacks_[started].display = std::move(display);
        }
        handle = started;
        return TARN_PB_OK;
    }

    std::string ErrorText(int code) const override { return TARN_PB_GetErrDis(code); }

    void SetStatusSink(long handle, StatusSink sink) override {
        {
            std::lock_guard lock(mutex_);
            auto found = playbacks_.find(handle);
            if (found == playbacks_.end()) return;
            found->second.sink = std::make_shared<StatusSink>(std::move(sink));
        }
        TARN_PB_SetStatusCallBack(handle, &RewindEngine::OnStatus, this);
    }

    int Control(long handle, int command, long long value) override { return TARN_PB_PlayCtrl(handle, command, value); }

    void Delete(long handle) override {
        // The library's thread is done with the display and the sink once DelPlay returns.
        TARN_PB_DelPlay(handle);
        std::shared_ptr<media::PlaybackDisplay> display;
        {
            std::lock_guard lock(mutex_);
            auto found = playbacks_.find(handle);
            if (found == playbacks_.end()) return;
            display = std::move(found->second.display);
            playbacks_.erase(found);
        }
        if (display) display->Clear();
    }

    QImage LastPicture(long handle) const override {
        std::lock_guard lock(mutex_);
        auto found = playbacks_.find(handle);
        return found == playbacks_.end() || !found->second.display ? QImage() : found->second.display->LastPicture();
    }

    int Export(const std::string& path, const std::string& outPath, long long fromTime, long long toTime,
               ExportProgress progress) override {
        return TARN_PB_Export(path.c_str(), outPath.c_str(), fromTime, toTime, &RewindEngine::OnExportProgress,
                              progress ? &progress : nullptr);
    }

private:
    struct Playback {
        std::shared_ptr<media::PlaybackDisplay> display;
        std::shared_ptr<StatusSink> sink;
    };

    static void OnStatus(long handle, unsigned int message, unsigned long wParam, long lParam, void* user) {
        auto* self = static_cast<RewindEngine*>(user);
        std::shared_ptr<StatusSink> sink;
        {
            std::lock_guard lock(self->mutex_);
            auto found = self->playbacks_.find(handle);
            if (found != self->playbacks_.end()) sink = found->second.sink;
        }
        if (sink && *sink) (*sink)(handle, message, wParam, lParam);
    }

    static int OnExportProgress(long long done, long long total, void* user) {
        const auto* progress = static_cast<const ExportProgress*>(user);
        return progress && *progress && !(*progress)(done, total) ? 1 : 0;
    }

    mutable std::mutex mutex_;
    std::map<long, Playback> playbacks_;
};

}  // namespace

std::shared_ptr<PlaybackEngine> MakeRewindEngine() { return std::make_shared<RewindEngine>(); }

}  // namespace playback
