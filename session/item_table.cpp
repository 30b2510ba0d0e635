#include "session/item_table.h"

namespace session {

void ItemTable::Append(const control::ItemPtr& row) {
    std::lock_guard lock(mutex_);
    if (!row || !present_.insert(row.get()).second) return;
    rows_.push_back(row);
}

void ItemTable::Replace(std::vector<control::ItemPtr> rows) {
    std::lock_guard lock(mutex_);
    rows_.clear();
    present_.clear();
    for (auto& row : rows)
        if (row && present_.insert(row.get()).second) rows_.push_back(std::move(row));
}

std::size_t ItemTable::Count() const {
    std::lock_guard lock(mutex_);
    return rows_.size();
}

control::ItemPtr ItemTable::Get(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < rows_.size() ? rows_[index] : nullptr;
}

std::vector<control::ItemPtr> ItemTable::Snapshot() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

control::ItemPtr ItemTable::FindCamera(const std::string& cameraId) const {
    std::lock_guard lock(mutex_);
    for (const auto& row : rows_)
        if (row->kind == control::ITEMINFO::kCamera && row->id == cameraId) return row;
    return nullptr;
}

void ItemTable::Clear() {
    std::lock_guard lock(mutex_);
    rows_.clear();
    present_.clear();
}

}  // namespace session
