#pragma once
// A fixed set of worker threads taking tasks from one FIFO queue. Stopping lets the
// workers finish every queued task before they exit.

#include <cstdint>
#include <functional>
#include <memory>

namespace core {

class WorkerPool {
public:
    using Task = std::function<void()>;

    struct Stats {
        int workers = 0;
        int busy = 0;
        std::uint64_t tasksRun = 0;
    };

    explicit WorkerPool(int workers);
    // Stops the pool (finishing the queue) if that has not happened yet.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // n > 0 adds n workers at below-normal priority; n <= 0 asks min(workers, -n)
    // workers to exit. Returns the worker count.
    int Resize(int n);
    void Queue(Task task);
    // Asks every worker to finish the queue and exit, and waits until all have.
    void Stop();
    Stats GetStats() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace core
