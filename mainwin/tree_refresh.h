#pragma once
// The window's side of a tree refresh (the fetch runs on the task threads, see
// tasks/tree_refresh_task.h): it rebuilds its trees and lets go of the cameras that left them.

#include <functional>
#include <string>
#include <vector>

#include "control/control_types.h"

namespace mainwin {

// What the window does with the live cells after the trees were rebuilt.
struct CellAfterRefresh {
    int cell = -1;
    control::ItemPtr newRow;  // nullptr: the camera left the tree
};

// For each occupied cell (its row, in cell order): the camera's new row when the
// rebuilt tree still has it (its live, listening, recording and talking marks are
// carried over, so a refresh does not forget what the cell is doing), else nullptr.
std::vector<CellAfterRefresh> MatchCellsAfterRefresh(
    const std::vector<std::pair<int, control::ItemPtr>>& cells,
    const std::function<control::ItemPtr(const std::string& cameraId)>& findInTree);

}  // namespace mainwin
