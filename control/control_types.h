#pragma once
// Records built from the replies of the control channel.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace control {

// One row of the camera tree: a node (area) or a camera.
struct ITEMINFO {
    enum Kind { kNode = 0, kCamera = 1 };

    int kind = kNode;
    std::string parentId;
    std::string id;
    std::string name;
    std::string countLabel;  // nodes: "[online/total]"
    bool active = false;
    bool expanded = false;
    std::string forwardingIp;
    int forwardingPort = 0;
    bool expired = false;
    std::string expiryDate;
    // Flags the main window sets and clears while workers may read them.
    std::atomic<bool> live{false};
    std::atomic<bool> listening{false};
    std::atomic<bool> recording{false};
    std::atomic<bool> talking{false};
    std::atomic<bool> thirdFlag{false};
};

using ItemPtr = std::shared_ptr<ITEMINFO>;

struct AlarmRecord {
    std::string nodeId;
    std::string nodeName;
    std::string cameraId;
    std::string cameraName;
    std::string kindName;
    std::string message;
    std::string pictureUrl;
    std::string time;
};

struct TransportAddress {
    int status = -1;
    // A reply came and `status` is the server's; false when the request could not be
    // sent or timed out (the control connection is down or logging in again).
    bool answered = false;
    std::string forwardingIp;
    std::string forwardingPort;
    std::string forwardingStatus;
    std::string keyword;
    std::string nodeId;  // only from the request that asks for it
};

struct RemotePlaybackReply {
    int status = -1;
    std::string playbackId;
    std::string forwardingIp;
    std::string forwardingPort;
    std::string timeQuantum;
};

// The 13 accumulated ";"-lists of the camera and node list, in reply order.
struct CameraListReply {
    static constexpr const char* kKeys[13] = {
        "cameraIdList",   "cameraNameList", "cameraActiveList", "cameraExpiredList",     "expiredDateList",
        "transpondIPList", "transpondPortList", "nodeIdList",   "nodeNameList",          "activeList",
        "cameraCountList", "cameraOnlineCountList", "parentIdList"};
    enum Index {
        kCameraId, kCameraName, kCameraActive, kCameraExpired, kExpiredDate, kTranspondIp, kTranspondPort,
        kNodeId, kNodeName, kActive, kCameraCount, kCameraOnlineCount, kParentId
    };
    std::string lists[13];
};

// Alarm search result as eight parallel lists in AlarmRecord field order.
struct AlarmSearchResult {
    std::vector<std::string> nodeIds, nodeNames, cameraIds, cameraNames, kindNames, messages, pictureUrls, times;
    std::size_t Size() const { return nodeIds.size(); }
    void Append(const AlarmRecord& record);
    AlarmRecord Row(std::size_t i) const;
};

// Splits at every separator keeping empty items ("" gives one empty item).
std::vector<std::string> SplitList(const std::string& text, char separator = ';');

}  // namespace control
