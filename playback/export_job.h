#pragma once
// One export of a local recording to MP4, run by the playback engine on a thread of
// its own while a progress dialog (which can cancel) shows how far it is. The job
// reports its end once, on the user-interface thread; destroying a running job
// cancels it and waits for the thread.

#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "playback/playback_engine.h"

class QProgressDialog;
class QTimer;
class QWidget;

namespace playback {

class ExportJob {
public:
    // The engine's result (0 or an error code) and whether the user cancelled.
    using Finished = std::function<void(int result, bool cancelled)>;

    ExportJob(std::shared_ptr<PlaybackEngine> engine, std::string path, std::string outPath, QWidget* owner,
              Finished finished);
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    const std::string& OutPath() const { return outPath_; }

private:
    void Poll();

    const std::string outPath_;
    Finished finished_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    std::atomic<long long> framesDone_{0};
    std::atomic<long long> framesTotal_{0};
    std::atomic<int> result_{0};
    QPointer<QProgressDialog> dialog_;
    QTimer* poll_ = nullptr;
    std::thread worker_;
};

}  // namespace playback
