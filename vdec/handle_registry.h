#pragma once
// The process-wide table from handle to decoder. Handles are serial numbers, never
// addresses: a 64-bit address does not fit every handle type, and a released address
// can come back for a new object, which would let a stale handle reach it.

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

namespace vdec {

template <typename Object, typename Handle = unsigned long>
class HandleRegistry {
public:
    explicit HandleRegistry(Handle firstHandle = 1) : next_(firstHandle) {}

    HandleRegistry(const HandleRegistry&) = delete;
    HandleRegistry& operator=(const HandleRegistry&) = delete;

    // Registers the object under a fresh handle. 0 and handles in use are skipped when
    // the counter wraps; 0 is returned only when no handle is free.
    Handle Insert(std::shared_ptr<Object> object) {
        std::lock_guard lock(mutex_);
        for (std::uint64_t tries = 0; tries < kMaxProbe; ++tries) {
            const Handle candidate = next_++;
            if (candidate == 0 || objects_.count(candidate) != 0) continue;
            objects_.emplace(candidate, std::move(object));
            return candidate;
        }
        return 0;
    }

    // A shared reference to the registered object, or an empty pointer.
    std::shared_ptr<Object> Find(Handle handle) const {
        if (handle == 0) return nullptr;
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }

    // Unregisters the handle and hands back the registry's reference, so that the
    // object dies outside the lock; empty when the handle was not registered.
    std::shared_ptr<Object> Remove(Handle handle) {
        if (handle == 0) return nullptr;
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(handle);
        if (found == objects_.end()) return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

    std::size_t Size() const {
        std::lock_guard lock(mutex_);
        return objects_.size();
    }

private:
    // Enough to step over any realistic run of live handles after a wrap, and every
    // value of a narrow handle type.
    static constexpr std::uint64_t kMaxProbe = std::numeric_limits<Handle>::max() < (1u << 20)
                                                   ? std::uint64_t{std::numeric_limits<Handle>::max()} + 1
                                                   : std::uint64_t{1} << 20;

    mutable std::mutex mutex_;
    Handle next_;
    std::map<Handle, std::shared_ptr<Object>> objects_;
};

}  // namespace vdec
