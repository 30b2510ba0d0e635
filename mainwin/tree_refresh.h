#pragma once
// The tree refresh: the task handler fetches the camera list again into the item table
// (1045 to the task threads, answered by 1045 to the window, wParam 0 on success), and
// the window's side rebuilds its trees and lets go of the cameras that left them.

#include <functional>
#include <string>
#include <vector>

#include "control/control_types.h"
#include "platform/message.h"

namespace app {
class CAppInteance;
}

namespace mainwin {

constexpr std::uint32_t kTaskRefreshTree = 1045;
constexpr std::uint32_t kRefreshDone = 1045;

struct RefreshEnvironment {
    // Replaces the item table with a freshly fetched list; false when it failed.
    std::function<bool()> refresh;
    std::function<bool(platform::Message)> postNotify;
};

void HandleRefreshTree(platform::Message& message, const RefreshEnvironment& environment);
void RegisterRefreshTask(app::CAppInteance& application);

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
