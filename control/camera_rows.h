#pragma once
// Turns the camera and node list into tree rows.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control/control_types.h"

namespace control {

struct NodeCounts {
    int online = 0;
    int total = 0;
};

struct CameraRows {
    std::vector<ItemPtr> rows;
    std::map<std::string, NodeCounts> nodeCounts;  // by node id
};

// Row i takes item i of every list; the walk ends where the node id, node name,
// camera count or online count list runs out. `isLive` tells whether a camera with
// that id is open now.
CameraRows BuildCameraRows(const CameraListReply& list, const std::function<bool(const std::string&)>& isLive);

// Active nodes, inactive nodes, active cameras, inactive cameras; order kept within each.
void ReorderRows(std::vector<ItemPtr>& rows);

}  // namespace control
