#include "playback/export_job.h"

#include <QProgressDialog>
#include <QTimer>

namespace playback {

ExportJob::ExportJob(std::shared_ptr<PlaybackEngine> engine, std::string path, std::string outPath, QWidget* owner,
                     Finished finished)
    : outPath_(std::move(outPath)), finished_(std::move(finished)) {
    dialog_ = new QProgressDialog(QString::fromUtf8("正在导出录像…"), QString::fromUtf8("取消"), 0, 100, owner);
    dialog_->setWindowTitle(QString::fromUtf8("导出为 MP4"));
    dialog_->setObjectName("exportProgress");
    dialog_->setWindowModality(Qt::WindowModal);
    // Short exports finish before anything flashes up.
    dialog_->setMinimumDuration(300);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    QObject::connect(dialog_, &QProgressDialog::canceled, dialog_, [this] { cancel_ = true; });
    // The worker only sets atomics; the user-interface thread reads them on this timer.
    poll_ = new QTimer();
    poll_->setInterval(100);
    QObject::connect(poll_, &QTimer::timeout, poll_, [this] { Poll(); });
    poll_->start();
    worker_ = std::thread([this, engine = std::move(engine), path = std::move(path)] {
        result_ = engine->Export(path, outPath_, 0, 0, [this](long long doneFrames, long long totalFrames) {
            framesDone_ = doneFrames;
            framesTotal_ = totalFrames;
            return !cancel_.load();
        });
        done_ = true;
    });
}

ExportJob::~ExportJob() {
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
    // The job may end inside the timer's own signal: let the event loop delete them.
    poll_->deleteLater();
    if (dialog_) dialog_->deleteLater();
}

void ExportJob::Poll() {
    const long long total = framesTotal_;
    if (dialog_ && total > 0) dialog_->setValue(static_cast<int>(framesDone_ * 100 / total));
    if (!done_ || !finished_) return;
    worker_.join();
    poll_->stop();
    if (dialog_) dialog_->hide();
    // The callback may destroy this job: nothing of it is touched afterwards.
    Finished finished = std::move(finished_);
    finished(result_, cancel_);
}

}  // namespace playback
