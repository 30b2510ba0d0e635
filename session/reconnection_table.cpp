#include "session/reconnection_table.h"

namespace session {

void ReconnectionTable::Add(int cell, const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    entries_[cell] = cameraId;
}

void ReconnectionTable::Remove(int cell) {
    std::lock_guard lock(mutex_);
    entries_.erase(cell);
}

void ReconnectionTable::Remove(int cell, const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(cell); it != entries_.end() && it->second == cameraId) entries_.erase(it);
}

bool ReconnectionTable::Holds(int cell, const std::string& cameraId) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(cell);
    return it != entries_.end() && it->second == cameraId;
}

void ReconnectionTable::Move(int fromCell, int toCell) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fromCell);
    if (it == entries_.end()) return;
    std::string cameraId = std::move(it->second);
    entries_.erase(it);
    entries_[toCell] = std::move(cameraId);
}

void ReconnectionTable::Swap(int firstCell, int secondCell) {
    std::lock_guard lock(mutex_);
    auto first = entries_.extract(firstCell);
    auto second = entries_.extract(secondCell);
    if (first) {
        first.key() = secondCell;
        entries_.insert(std::move(first));
    }
    if (second) {
        second.key() = firstCell;
        entries_.insert(std::move(second));
    }
}

std::map<int, std::string> ReconnectionTable::Snapshot() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

}  // namespace session
