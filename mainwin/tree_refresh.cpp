#include "mainwin/tree_refresh.h"

namespace mainwin {

std::vector<CellAfterRefresh> MatchCellsAfterRefresh(
    const std::vector<std::pair<int, control::ItemPtr>>& cells,
    const std::function<control::ItemPtr(const std::string& cameraId)>& findInTree) {
    std::vector<CellAfterRefresh> result;
    for (const auto& [cell, old] : cells) {
        if (!old) continue;
        CellAfterRefresh entry;
        entry.cell = cell;
        entry.newRow = findInTree ? findInTree(old->id) : nullptr;
        if (entry.newRow && entry.newRow != old) {
            entry.newRow->live = old->live.load();
            entry.newRow->listening = old->listening.load();
            entry.newRow->recording = old->recording.load();
            entry.newRow->talking = old->talking.load();
            if (entry.newRow->forwardingIp.empty()) {
                entry.newRow->forwardingIp = old->forwardingIp;
                entry.newRow->forwardingPort = old->forwardingPort;
            }
        }
        result.push_back(std::move(entry));
    }
    return result;
}

}  // namespace mainwin
