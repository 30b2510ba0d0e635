#include "ui/toolkit/ui_executor.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <mutex>

namespace ui {
namespace {

// The object closures are queued on, behind a lock so that a post never races with
// its deletion. When the object goes (application end), Qt deletes its queued calls
// and with them the closures' captured state.
struct Receiver {
    std::mutex mutex;
    QObject* object = nullptr;
};

class QtUiExecutor final : public platform::MessageExecutor {
public:
    QtUiExecutor() : receiver_(std::make_shared<Receiver>()) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        receiver_->object = new QObject;
        receiver_->object->moveToThread(app->thread());
        QObject::connect(app, &QObject::destroyed, receiver_->object, [r = receiver_] {
            std::lock_guard lock(r->mutex);
            delete r->object;
            r->object = nullptr;
        });
    }
    ~QtUiExecutor() override {
        std::lock_guard lock(receiver_->mutex);
        if (!receiver_->object) return;
        // Deleting the receiver deletes its queued closures unrun.
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

std::shared_ptr<platform::MessageExecutor> UiExecutor() {
    static std::mutex mutex;
    static std::weak_ptr<QtUiExecutor> current;
    static QPointer<QCoreApplication> boundTo;
    std::lock_guard lock(mutex);
    auto executor = current.lock();
    // A new application (tests create several in turn) gets a new executor.
    if (!executor || boundTo != QCoreApplication::instance()) {
        executor = std::make_shared<QtUiExecutor>();
        current = executor;
        boundTo = QCoreApplication::instance();
    }
    return executor;
}

}  // namespace ui
