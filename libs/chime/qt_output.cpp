#include "libs/chime/qt_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QThread>

namespace chime {
namespace {

// Qt's audio objects want an event loop, and the callers are plain threads: the
// device lives on a thread of its own, and data is handed to it as queued calls.
class QtOutput final : public AudioSink {
public:
    QtOutput(const QAudioDevice& device, const QAudioFormat& format) : device_(device), format_(format) {}

    ~QtOutput() override {
        if (!context_) return;
        QMetaObject::invokeMethod(
            context_,
            [this] {
                if (sink_) sink_->stop();
                delete context_;  // the sink is its child
                context_ = nullptr;
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }

    bool Start() override {
        if (context_) return device_io_ != nullptr;
        thread_.start();
        context_ = new QObject;
        context_->moveToThread(&thread_);
        QMetaObject::invokeMethod(
            context_,
            [this] {
                sink_ = new QAudioSink(device_, format_, context_);
                // A second of sound in the device's buffer rides out the network's jitter.
                sink_->setBufferSize(format_.bytesForDuration(1000000));
                device_io_ = sink_->start();
            },
            Qt::BlockingQueuedConnection);
        return device_io_ != nullptr;
    }

    void Write(const std::uint8_t* pcm, std::size_t length) override {
        if (!context_ || !device_io_) return;
        QByteArray data(reinterpret_cast<const char*>(pcm), static_cast<qsizetype>(length));
        // What the device cannot take now is dropped: live sound must not fall behind.
        QMetaObject::invokeMethod(
            context_, [this, data] { if (device_io_) device_io_->write(data); }, Qt::QueuedConnection);
    }

private:
    QAudioDevice device_;
    QAudioFormat format_;
    QThread thread_;
    QObject* context_ = nullptr;
    QAudioSink* sink_ = nullptr;
    QIODevice* device_io_ = nullptr;
};

}  // namespace

std::unique_ptr<AudioSink> MakeDefaultOutput(const AudioFormat& format) {
    if (QCoreApplication::instance() == nullptr) return nullptr;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return nullptr;
    QAudioFormat qtFormat;
    qtFormat.setChannelCount(format.channels);
    qtFormat.setSampleRate(format.sampleRate);
    qtFormat.setSampleFormat(format.bitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return std::make_unique<QtOutput>(device, qtFormat);
}

}  // namespace chime
