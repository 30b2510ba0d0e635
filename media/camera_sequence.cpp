#include "media/camera_sequence.h"

#include <system_error>

namespace media {

CameraSequence::CameraSequence() : state_(std::make_shared<State>()) {}

CameraSequence::~CameraSequence() {
    {
        std::lock_guard lock(state_->mutex);
        state_->ending = true;
    }
    state_->changed.notify_all();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // the task releasing the camera returns, and the thread ends
    else
        thread_.join();
}

bool CameraSequence::InSequence() const {
    std::lock_guard lock(state_->mutex);
    return state_->runner == std::this_thread::get_id();
}

void CameraSequence::RunInTurn(const std::function<void()>& task) {
    State& state = *state_;
    {
        std::unique_lock lock(state.mutex);
        if (state.runner != std::this_thread::get_id()) {
            const std::uint64_t turn = state.nextTurn++;
            state.changed.wait(lock, [&] { return state.serving == turn; });
            state.runner = std::this_thread::get_id();
        } else {
            lock.unlock();
            task();  // nested in the operation that runs now
            return;
        }
    }
    // The next turn comes also when the task throws.
    struct PassTurn {
        State& state;
        ~PassTurn() {
            {
                std::lock_guard lock(state.mutex);
                state.runner = std::thread::id();
                ++state.serving;
            }
            state.changed.notify_all();
        }
    } passTurn{state};
    task();
}

bool CameraSequence::Post(std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->ending) return false;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread(&CameraSequence::RunPosted, state_);
            } catch (const std::system_error&) {
                return false;
            }
        }
        state_->posted.push_back(State::Posted{state_->nextTurn++, std::move(task)});
    }
    state_->changed.notify_all();
    return true;
}

void CameraSequence::RunPosted(const std::shared_ptr<State>& shared) {
    State& state = *shared;
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.changed.wait(lock, [&] {
            return (!state.posted.empty() && state.posted.front().turn == state.serving) ||
                   (state.ending && state.posted.empty());
        });
        if (state.posted.empty()) return;
        std::function<void()> task = std::move(state.posted.front().task);
        state.posted.pop_front();
        state.runner = std::this_thread::get_id();
        lock.unlock();
        task();
        // What the task held goes while its turn lasts, on the sequence: possibly the
        // camera itself, whose last Close then runs here at once.
        task = nullptr;
        lock.lock();
        state.runner = std::thread::id();
        ++state.serving;
        state.changed.notify_all();
    }
}

}  // namespace media
