#include "media/qt_window_executor.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <mutex>

namespace media {
namespace {

// The object the closures are queued on; when it is deleted (the application ends or
// the executor goes), Qt deletes its queued calls and with them the closures' state.
struct Receiver {
    std::mutex mutex;
    QObject* object = nullptr;
};

class QtExecutor final : public platform::MessageExecutor {
public:
    QtExecutor() : receiver_(std::make_shared<Receiver>()) {
        QCoreApplication* application = QCoreApplication::instance();
        if (!application) return;
        receiver_->object = new QObject;
        receiver_->object->moveToThread(application->thread());
        QObject::connect(application, &QObject::destroyed, [receiver = receiver_] {
            std::lock_guard lock(receiver->mutex);
            delete receiver->object;
            receiver->object = nullptr;
        });
    }
    ~QtExecutor() override {
        std::lock_guard lock(receiver_->mutex);
        if (!receiver_->object) return;
        if (QThread::currentThread() == receiver_->object->thread())
            delete receiver_->object;
        else
            receiver_->object->deleteLater();
        receiver_->object = nullptr;
    }
    void Post(std::function<void()> task) override {
        std::lock_guard lock(receiver_->mutex);
        if (!receiver_->object) return;  // `task` is destroyed here, unrun
        QMetaObject::invokeMethod(receiver_->object, std::move(task), Qt::QueuedConnection);
    }
    bool InOwnThread() const override {
        std::lock_guard lock(receiver_->mutex);
        return receiver_->object && QThread::currentThread() == receiver_->object->thread();
    }

private:
    std::shared_ptr<Receiver> receiver_;
};

}  // namespace

std::shared_ptr<platform::MessageExecutor> QtWindowExecutor() {
    static std::mutex mutex;
    static std::weak_ptr<QtExecutor> current;
    static QPointer<QCoreApplication> boundTo;
    std::lock_guard lock(mutex);
    auto executor = current.lock();
    if (!executor || boundTo != QCoreApplication::instance()) {
        executor = std::make_shared<QtExecutor>();
        current = executor;
        boundTo = QCoreApplication::instance();
    }
    return executor;
}

}  // namespace media
