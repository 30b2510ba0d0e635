#include "core/worker_pool.h"

#include <atomic>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/sync.h"
#include "platform/thread_priority.h"
#include "platform/tick.h"

namespace core {

struct WorkerPool::Shared {
    struct Worker {
        std::uint64_t tasksRun = 0;
        std::uint32_t lastStartTick = 0;
        bool busy = false;
    };

    std::mutex queueLock;
    std::deque<Task> queue;
    mutable std::mutex listLock;
    std::list<Worker> workers;
    int workerCount = 0;  // guarded by listLock
    platform::Semaphore work{0, 0x7FFFFFFF};
    platform::Semaphore shrink{0, 0x7FFFFFFF};
    platform::Event stop{true, false};
    platform::Event allExited{false, false};
    std::atomic<int> busyCount{0};

    bool TakeTask(Task& task) {
        std::lock_guard lock(queueLock);
        if (queue.empty()) return false;
        task = std::move(queue.front());
        queue.pop_front();
        return true;
    }

    void RunWorker(std::list<Worker>::iterator self) {
        for (;;) {
            int woken = platform::WaitForAny({&work, &shrink, &stop});
            if (woken == 1) break;
            Task task;
            if (!TakeTask(task)) {
                if (woken == 2) break;  // stopping and nothing left to do
                continue;
            }
            {
                std::lock_guard lock(listLock);
                self->busy = true;
                self->lastStartTick = platform::TickCount();
                ++self->tasksRun;
            }
            ++busyCount;
            task();
            task = nullptr;  // free what the task captured before counting it done
            {
                std::lock_guard lock(listLock);
                self->busy = false;
            }
            --busyCount;
        }
        std::lock_guard lock(listLock);
        workers.erase(self);
        if (--workerCount == 0) allExited.Set();
    }
};

WorkerPool::WorkerPool(int workers) : shared_(std::make_shared<Shared>()) { Resize(workers); }

WorkerPool::~WorkerPool() { Stop(); }

int WorkerPool::Resize(int n) {
    std::lock_guard lock(shared_->listLock);
    if (n <= 0) {
        int exits = std::min(shared_->workerCount, -n);
        if (exits > 0) shared_->shrink.Release(exits);
        return shared_->workerCount;
    }
    // Counted when created, not when first scheduled, so that the count (and a
    // shrink that follows at once) sees them.
    if (shared_->workerCount == 0) shared_->allExited.Reset();
    for (int i = 0; i < n; ++i) {
        auto self = shared_->workers.emplace(shared_->workers.end());
        try {
            std::thread([shared = shared_, self] {
                // Below-normal priority: the user interface must win over the workers.
                platform::SetCurrentThreadBelowNormal();
                shared->RunWorker(self);
            }).detach();
            ++shared_->workerCount;
        } catch (const std::system_error&) {
            shared_->workers.erase(self);
            break;
        }
    }
    return shared_->workerCount;
}

void WorkerPool::Queue(Task task) {
    {
        std::lock_guard lock(shared_->queueLock);
        shared_->queue.push_back(std::move(task));
    }
    shared_->work.Release(1);
}

void WorkerPool::Stop() {
    shared_->stop.Set();
    {
        std::lock_guard lock(shared_->listLock);
        if (shared_->workerCount == 0) return;
    }
    shared_->allExited.Wait();
    shared_->allExited.Set();  // a second Stop returns at once
}

WorkerPool::Stats WorkerPool::GetStats() const {
    Stats stats;
    std::lock_guard lock(shared_->listLock);
    stats.workers = shared_->workerCount;
    stats.busy = shared_->busyCount;
    for (const auto& worker : shared_->workers) stats.tasksRun += worker.tasksRun;
    return stats;
}

}  // namespace core
