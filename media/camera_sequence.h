#pragma once
// The order of one camera's operations: they run one at a time, in the order they were
// asked for. So no two operations of a camera ever overlap, and its parts need only
// plain locks for what their own threads share. A caller that wants the result takes a
// turn and runs the operation itself, on its own thread, when the turn comes (Run). The
// link's threads, which must never wait for the camera (an operation may be waiting for
// them), hand work over instead (Post): it runs in its turn on a thread the sequence
// starts for that when first needed.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

namespace media {

class CameraSequence {
public:
    CameraSequence();
    // Waits for the thread of handed-over work, which has nothing left by then: handed
    // over work holds the camera. When that work was the camera's last holder this runs
    // on that thread, which then ends as soon as the work has returned.
    ~CameraSequence();
    CameraSequence(const CameraSequence&) = delete;
    CameraSequence& operator=(const CameraSequence&) = delete;

    // Runs `task` on this thread once everything asked for before it has run, and
    // returns its result. Within an operation of the sequence it runs at once (an
    // operation that ends in another, such as a replay's end closing the camera).
    template <typename Task>
    auto Run(Task task) -> std::invoke_result_t<Task&> {
        using Result = std::invoke_result_t<Task&>;
        if constexpr (std::is_void_v<Result>) {
            RunInTurn([&task] { task(); });
        } else {
            Result result{};
            RunInTurn([&task, &result] { result = task(); });
            return result;
        }
    }

    // Queues `task` for its turn and returns at once. False when the sequence is ending
    // or no thread could be had; the task is then dropped on the caller's thread.
    bool Post(std::function<void()> task);

    // True on the thread running the sequence's current operation.
    bool InSequence() const;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::uint64_t nextTurn = 0;  // the turn the next caller gets
        std::uint64_t serving = 0;   // the turn that may run now
        std::thread::id runner;      // the thread running it
        struct Posted {
            std::uint64_t turn;
            std::function<void()> task;
        };
        std::deque<Posted> posted;
        bool ending = false;
    };
    void RunInTurn(const std::function<void()>& task);
    static void RunPosted(const std::shared_ptr<State>& state);

    // Shared with the thread of handed-over work, which may outlive this object by the
    // end of one task.
    const std::shared_ptr<State> state_;
    std::thread thread_;  // started by the first Post, under the state's mutex
};

}  // namespace media
