#pragma once

#include <mutex>
#include <utility>

namespace core {

// A value read and replaced as a whole under its own lock; copying copies the value.
template <typename T>
class Locked {
public:
    Locked() = default;
    explicit Locked(T value) : value_(std::move(value)) {}
    Locked(const Locked& other) : value_(other.Get()) {}
    Locked& operator=(const Locked& other) {
        if (this != &other) Set(other.Get());
        return *this;
    }
    T Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void Set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }
    // Changes the value in place under the lock (no change of another thread is lost).
    template <typename Change>
    void Update(Change change) {
        std::lock_guard lock(mutex_);
        change(value_);
    }
    // Runs `read` on the value under the lock (for one field without copying the rest).
    template <typename Read>
    auto With(Read read) const {
        std::lock_guard lock(mutex_);
        return read(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace core
