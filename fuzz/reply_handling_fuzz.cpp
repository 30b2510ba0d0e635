// The replies of the control channel after the envelope: login replies (session and
// feature switches), camera-list chunks built into tree rows, forwarding addresses,
// alarm search rows and pushed alarms, authority lists. The input is a run of decoded
// messages (fuzz_messages.h); each goes to the reading of its type, as the requests
// of ControlClient hand it over.
//
// Checked: statuses read as strtoll reads them (a wrapped-round status must not
// become an accepted one), a login opens a session only for status 1 or 2 and the
// login sequence goes on only with one (never for a status it does not know), the list
// chunks join exactly as they came and stop at the size cap, every built row takes
// its own items (ports 0-65535, counts not wrapped), the reorder keeps every row,
// alarm rows stop at the first incomplete one and carry the upload URL.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "control/camera_rows.h"
#include "control/replies.h"
#include "fuzz_messages.h"
#include "platform/numbers.h"

namespace {

using control::ReplyParams;

// Small enough that the fuzzer reaches it.
constexpr std::size_t kListLimit = 4096;

int ReferenceNumber(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

const std::string& Get(const ReplyParams& params, const std::string& key) {
    static const std::string kEmpty;
    const auto it = params.find(key);
    return it == params.end() ? kEmpty : it->second;
}

void Check(bool holds) {
    if (!holds) std::abort();
}

void Login(const ReplyParams& params, std::string& uploadUrl) {
    const int status = control::ReplyStatus(params);
    Check(status == ReferenceNumber(Get(params, "status")));
    const auto session = control::SessionFromLoginReply(status, params, "demo", "larkview");
    Check(session.has_value() == (status == 1 || status == 2));
    // The login sequence goes on only with a session, and says why when it does not.
    const auto refusal = control::LoginRefusal(status);
    Check(refusal ? !refusal->empty() : session.has_value());
    if (!session) return;
    Check(session->userId == Get(params, "userId") && session->uploadUrl == Get(params, "uploadUrl") &&
          session->updateUrl == Get(params, "updateUrl") && session->noticeText == Get(params, "showMsg"));
    Check(session->loginUserName == "demo" && session->loginPassword == "larkview" && session->accountKind == status);
    const std::string& enabled = Get(params, "enableList");
    for (int k = 0; k < 4; ++k)
        Check((session->featureSwitches[k] != 0) == (enabled.find(std::to_string(101 + k)) != std::string::npos));
    uploadUrl = session->uploadUrl;
}

// The rows built from a whole list, against the list's own items.
void CheckRows(const control::CameraListReply& list) {
    std::vector<std::string> items[13];
    for (int i = 0; i < 13; ++i) items[i] = control::SplitList(list.lists[i]);
    using L = control::CameraListReply;
    const std::size_t expected = std::min({items[L::kNodeId].size(), items[L::kNodeName].size(),
                                           items[L::kCameraCount].size(), items[L::kCameraOnlineCount].size()});
    std::set<std::string> liveAsked;
    control::CameraRows built = control::BuildCameraRows(list, [&](const std::string& id) {
        liveAsked.insert(id);
        return id.size() % 2 == 1;
    });
    Check(built.rows.size() == expected);
    auto item = [&](int which, std::size_t row) {
        return row < items[which].size() ? items[which][row] : std::string();
    };
    for (std::size_t i = 0; i < built.rows.size(); ++i) {
        const control::ITEMINFO& row = *built.rows[i];
        Check(row.parentId == item(L::kParentId, i));
        if (!items[L::kNodeId][i].empty()) {
            const int online = ReferenceNumber(items[L::kCameraOnlineCount][i]);
            const int total = ReferenceNumber(items[L::kCameraCount][i]);
            char label[32];
            std::snprintf(label, sizeof label, "[%d/%d]", online, total);
            Check(row.kind == control::ITEMINFO::kNode && row.id == items[L::kNodeId][i] && row.countLabel == label);
            Check(row.active == (online > 0));
            const auto counts = built.nodeCounts.find(row.id);
            Check(counts != built.nodeCounts.end());
        } else {
            Check(row.kind == control::ITEMINFO::kCamera && row.id == item(L::kCameraId, i));
            Check(row.forwardingPort >= 0 && row.forwardingPort <= 65535);
            const int port = ReferenceNumber(item(L::kTranspondPort, i));
            Check(row.forwardingPort == (port >= 1 && port <= 65535 ? port : 0));
            Check(row.expired == (item(L::kCameraExpired, i) != "1"));
            Check(row.live == (row.id.size() % 2 == 1) && liveAsked.count(row.id) == 1);
        }
    }

    // Active nodes, inactive nodes, active cameras, inactive cameras; every row kept.
    std::vector<control::ItemPtr> reordered = built.rows;
    control::ReorderRows(reordered);
    Check(std::is_permutation(reordered.begin(), reordered.end(), built.rows.begin(), built.rows.end()));
    auto group = [](const control::ItemPtr& r) { return (r->kind == control::ITEMINFO::kCamera ? 2 : 0) + !r->active; };
    Check(std::is_sorted(reordered.begin(), reordered.end(),
                         [&](const control::ItemPtr& a, const control::ItemPtr& b) { return group(a) < group(b); }));
}

struct ListRequest {
    control::CameraListAssembly assembly{kListLimit};
    std::string joined[13];
    std::size_t bytes = 0;
    bool overflow = false;
};

// One chunk; true when the request has its answer (end or overflow).
bool ListChunk(ListRequest& request, const ReplyParams& params) {
    std::size_t added = 0;
    for (const char* key : control::CameraListReply::kKeys) added += Get(params, key).size() + 1;
    const std::size_t chunksBefore = request.assembly.Chunks();
    const auto step = request.assembly.Add(params);
    if (request.bytes + added > kListLimit) {
        Check(step == control::CameraListAssembly::Step::kOverflow && request.assembly.Overflowed());
        Check(request.assembly.Chunks() == chunksBefore);
        return true;
    }
    request.bytes += added;
    for (int i = 0; i < 13; ++i) {
        if (chunksBefore > 0) request.joined[i] += ';';
        request.joined[i] += Get(params, control::CameraListReply::kKeys[i]);
        Check(request.assembly.Lists().lists[i] == request.joined[i]);
    }
    Check(request.assembly.Bytes() == request.bytes && request.bytes <= kListLimit);
    Check(request.assembly.Status() == ReferenceNumber(Get(params, "status")));
    const bool end = ReferenceNumber(Get(params, "end")) == 1;
    Check((step == control::CameraListAssembly::Step::kEnd) == end);
    return end;
}

void Address(const ReplyParams& params) {
    const control::TransportAddress address = control::AddressFromReply(control::ReplyStatus(params), params);
    Check(address.answered && address.status == ReferenceNumber(Get(params, "status")));
    Check(address.forwardingIp == Get(params, "transpondIP") && address.forwardingPort == Get(params, "transpondPort"));
    const int port = platform::ParsePort(address.forwardingPort);
    Check(port >= 0 && port <= 65535);
}

void AlarmSearch(const ReplyParams& params, const std::string& uploadUrl) {
    control::AlarmSearchResult result;
    control::AppendAlarmRows(params, uploadUrl, result);
    std::vector<std::string> lists[8];
    std::size_t shortest = SIZE_MAX;
    for (int k = 0; k < 8; ++k) {
        lists[k] = control::SplitList(Get(params, control::kAlarmListKeys[k]));
        shortest = std::min(shortest, lists[k].size());
    }
    Check(result.Size() <= shortest);
    for (std::size_t i = 0; i < result.Size(); ++i) {
        const control::AlarmRecord row = result.Row(i);
        const std::string fields[6] = {row.nodeId, row.nodeName, row.cameraId, row.cameraName, row.kindName, row.message};
        for (int k = 0; k < 6; ++k) Check(!fields[k].empty() && fields[k] == lists[k][i]);
        Check(row.pictureUrl == (lists[6][i].empty() ? std::string() : uploadUrl + lists[6][i]));
        Check(row.time == lists[7][i]);
    }
    // The walk ended at the list end or at an incomplete row.
    if (result.Size() < shortest) {
        bool incomplete = false;
        for (int k = 0; k < 6; ++k) incomplete = incomplete || lists[k][result.Size()].empty();
        Check(incomplete);
    }
}

void AlarmPush(const control::ControlMessage& message, const std::string& uploadUrl) {
    const control::AlarmRecord record = control::AlarmFromPush(message, uploadUrl);
    const ReplyParams& p = message.params;
    Check(record.cameraId == Get(p, "cameraId") && record.message == Get(p, "msg") && record.time == Get(p, "time"));
    Check(record.pictureUrl == (Get(p, "picture").empty() ? std::string() : uploadUrl + Get(p, "picture")));
}

void Authorities(const ReplyParams& params) {
    const std::string text = control::AuthorityListText(params);
    Check(static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) >= params.size());
    (void)control::AuthorityGranted(Get(params, "status"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string uploadUrl = "http://127.0.0.1:18080/upload/7/";
    auto list = std::make_unique<ListRequest>();
    for (const control::ControlMessage& message : fuzz_input::ReadMessages(input)) {
        switch (message.msgType) {
            case 2: Login(message.params, uploadUrl); break;
            case 29:
                if (ListChunk(*list, message.params)) {
                    if (!list->assembly.Overflowed() && list->assembly.Status() == 1) CheckRows(list->assembly.Lists());
                    list = std::make_unique<ListRequest>();  // the next request starts clean
                }
                break;
            case 5:
            case 50: Address(message.params); break;
            case 7: AlarmPush(message, uploadUrl); break;
            case 8: AlarmSearch(message.params, uploadUrl); break;
            case 500: Authorities(message.params); break;
            default: break;
        }
    }
    // A list that never ended is what a timed-out request held: built all the same.
    if (list->assembly.Chunks() > 0) CheckRows(list->assembly.Lists());
    return 0;
}
