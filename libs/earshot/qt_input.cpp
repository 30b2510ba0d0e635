#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QThread>

#include "libs/earshot/earshot.h"

namespace earshot {
namespace {

// The device lives on a thread of its own with an event loop; its readyRead hands
// the sound to the caller's callback on that thread.
class QtInput final : public CaptureSource {
public:
    QtInput(const QAudioDevice& device, const QAudioFormat& format) : device_(device), format_(format) {}
    ~QtInput() override { Stop(); }

    bool Start(Deliver deliver) override {
        Stop();
        thread_.start();
        context_ = new QObject;
        context_->moveToThread(&thread_);
        bool started = false;
        QMetaObject::invokeMethod(
            context_,
            [this, &started, deliver = std::move(deliver)] {
                source_ = new QAudioSource(device_, format_, context_);
                QIODevice* io = source_->start();
                if (io == nullptr) return;
                QObject::connect(io, &QIODevice::readyRead, context_, [io, deliver] {
                    const QByteArray data = io->readAll();
                    if (!data.isEmpty())
                        deliver(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                static_cast<std::size_t>(data.size()));
                });
                started = true;
            },
            Qt::BlockingQueuedConnection);
        return started;
    }

    void Stop() override {
        if (!context_) return;
        QMetaObject::invokeMethod(
            context_,
            [this] {
                if (source_) source_->stop();
                delete context_;
                context_ = nullptr;
                source_ = nullptr;
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }

private:
    QAudioDevice device_;
    QAudioFormat format_;
    QThread thread_;
    QObject* context_ = nullptr;
    QAudioSource* source_ = nullptr;
};

}  // namespace

std::unique_ptr<CaptureSource> MakeDefaultInput() {
    if (QCoreApplication::instance() == nullptr) return nullptr;
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) return nullptr;
    QAudioFormat format;
    format.setChannelCount(1);
    format.setSampleRate(kSampleRate);
    format.setSampleFormat(QAudioFormat::Int16);
    return std::make_unique<QtInput>(device, format);
}

}  // namespace earshot
