#pragma once
// Video cells waiting to be reconnected: cell key → camera id, in key order.

#include <map>
#include <mutex>
#include <string>

namespace session {

class ReconnectionTable {
public:
    void Add(int cell, const std::string& cameraId);
    void Remove(int cell);
    // Removes the cell only while it waits for that camera.
    void Remove(int cell, const std::string& cameraId);
    // True while the cell waits for that camera.
    bool Holds(int cell, const std::string& cameraId) const;
    // A camera dragged to another cell takes its pending reconnection along.
    void Move(int fromCell, int toCell);
    // Two cells traded places: each pending reconnection follows its camera (Move
    // alone would lose the target cell's entry).
    void Swap(int firstCell, int secondCell);
    std::map<int, std::string> Snapshot() const;
    // For a check and its action as one step.
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock(mutex_); }
    std::map<int, std::string>& EntriesLocked() { return entries_; }

private:
    mutable std::mutex mutex_;
    std::map<int, std::string> entries_;
};

}  // namespace session
