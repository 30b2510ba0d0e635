#include "control/camera_rows.h"

#include <algorithm>
#include <cstdio>

#include "platform/numbers.h"

namespace control {

CameraRows BuildCameraRows(const CameraListReply& list, const std::function<bool(const std::string&)>& isLive) {
    std::vector<std::string> items[13];
    for (int i = 0; i < 13; ++i) items[i] = SplitList(list.lists[i]);
    using L = CameraListReply;
    const std::size_t rows = std::min({items[L::kNodeId].size(), items[L::kNodeName].size(),
                                       items[L::kCameraCount].size(), items[L::kCameraOnlineCount].size()});
    auto item = [&](int column, std::size_t row) -> const std::string& {
        static const std::string kEmpty;
        return row < items[column].size() ? items[column][row] : kEmpty;
    };

    CameraRows result;
    result.rows.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        auto row = std::make_shared<ITEMINFO>();
        row->parentId = item(L::kParentId, i);
        if (i < items[L::kCameraActive].size()) row->active = items[L::kCameraActive][i] == "1";
        if (!items[L::kNodeId][i].empty()) {
            NodeCounts counts{platform::ParseInt(items[L::kCameraOnlineCount][i]),
                              platform::ParseInt(items[L::kCameraCount][i])};
            row->kind = ITEMINFO::kNode;
            row->id = items[L::kNodeId][i];
            row->name = items[L::kNodeName][i];
            char label[32];
            std::snprintf(label, sizeof label, "[%d/%d]", counts.online, counts.total);
            row->countLabel = label;
            row->active = counts.online > 0;
            result.nodeCounts[row->id] = counts;
        } else {
            row->kind = ITEMINFO::kCamera;
            row->id = item(L::kCameraId, i);
            row->name = item(L::kCameraName, i);
            row->forwardingIp = item(L::kTranspondIp, i);
            // A text that is no port (or wraps round in atoi) leaves the row without one.
            row->forwardingPort = platform::ParsePort(item(L::kTranspondPort, i));
            row->expired = item(L::kCameraExpired, i) != "1";
            row->expiryDate = item(L::kExpiredDate, i);
            row->live = isLive && isLive(row->id);
        }
        result.rows.push_back(std::move(row));
    }
    return result;
}

void ReorderRows(std::vector<ItemPtr>& rows) {
    auto group = [](const ItemPtr& row) { return (row->kind == ITEMINFO::kCamera ? 2 : 0) + (row->active ? 0 : 1); };
    std::stable_sort(rows.begin(), rows.end(), [&](const ItemPtr& a, const ItemPtr& b) { return group(a) < group(b); });
}

}  // namespace control
