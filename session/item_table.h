#pragma once
// The rows of the camera tree, replaced by each list fetch and read by the windows
// and workers under its own lock.

#include <cstddef>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "control/control_types.h"

namespace session {

class ItemTable {
public:
    // Appends the row unless that very row object is already in the table.
    void Append(const control::ItemPtr& row);
    void Replace(std::vector<control::ItemPtr> rows);
    std::size_t Count() const;
    control::ItemPtr Get(std::size_t index) const;
    std::vector<control::ItemPtr> Snapshot() const;
    control::ItemPtr FindCamera(const std::string& cameraId) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<control::ItemPtr> rows_;
    std::unordered_set<const control::ITEMINFO*> present_;
};

}  // namespace session
