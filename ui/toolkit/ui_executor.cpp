#include "ui/toolkit/ui_executor.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <deque>
#include <functional>
#include <mutex>

namespace ui {
namespace {

// Runs queued closures on its thread, one per event. The closures wait in a queue of
// our own under a std::mutex rather than inside Qt's queued calls: the hand-over is
// then visible to ThreadSanitizer (Qt's own locks are not), and a closure that runs a
// modal loop does not hold up the next ones, whose events are already posted.
class TaskObject final : public QObject {
public:
    void Queue(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        QCoreApplication::postEvent(this, new QEvent(EventType()));
    }

protected:
    void customEvent(QEvent*) override {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }

private:
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;  // unrun ones die with the object
};

// The object closures are queued on, behind a lock so that a post never races with
// its deletion. When the object goes (application end), its queued closures go unrun
// and with them their captured state.
struct Receiver {
    std::mutex mutex;
    TaskObject* object = nullptr;
};

class QtUiExecutor final : public platform::MessageExecutor {
public:
    QtUiExecutor() : receiver_(std::make_shared<Receiver>()) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        receiver_->object = new TaskObject;
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
        receiver_->object->Queue(std::move(task));
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
