#include "control/replies.h"

#include <algorithm>
#include <cstdlib>

#include "platform/numbers.h"
#include "platform/text_split.h"

namespace control {
namespace {

const std::string& Get(const ReplyParams& params, const std::string& key) {
    static const std::string kEmpty;
    const auto it = params.find(key);
    return it == params.end() ? kEmpty : it->second;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text, char separator) {
    return platform::SplitKeepingEmpty(text, separator);
}

void AlarmSearchResult::Append(const AlarmRecord& r) {
    nodeIds.push_back(r.nodeId);
    nodeNames.push_back(r.nodeName);
    cameraIds.push_back(r.cameraId);
    cameraNames.push_back(r.cameraName);
    kindNames.push_back(r.kindName);
    messages.push_back(r.message);
    pictureUrls.push_back(r.pictureUrl);
    times.push_back(r.time);
}

AlarmRecord AlarmSearchResult::Row(std::size_t i) const {
    return AlarmRecord{nodeIds[i],  nodeNames[i],   cameraIds[i],   cameraNames[i],
                       kindNames[i], messages[i], pictureUrls[i], times[i]};
}

int ReplyStatus(const ReplyParams& params) { return platform::ParseInt(Get(params, "status")); }

std::optional<core::LoginSession> SessionFromLoginReply(int status, const ReplyParams& reply,
                                                       const std::string& userName, const std::string& password) {
    if (status != 1 && status != 2) return std::nullopt;
    core::LoginSession session;
    session.userId = Get(reply, "userId");
    session.updateUrl = Get(reply, "updateUrl");
    session.uploadUrl = Get(reply, "uploadUrl");
    session.noticeText = Get(reply, "showMsg");
    session.loginUserName = userName;
    session.loginPassword = password;
    const std::string& enabled = Get(reply, "enableList");
    static constexpr const char* kSwitches[4] = {"101", "102", "103", "104"};
    for (int k = 0; k < 4; ++k) session.featureSwitches[k] = enabled.find(kSwitches[k]) != std::string::npos;
    session.accountKind = status;
    return session;
}

std::optional<std::string> LoginRefusal(int status) {
    switch (status) {
        case 1: return std::nullopt;
        case 2: return "不是Kelvo账号！";
        case 0: return "登录代理服务器超时，请检查服务器网络状态！";
        case -1: return "登录失败，用户名或密码错误！";
        case -2: return "登录失败，账号已过期！";
        case -3: return "已达到用户最大登录数！";
        default: return "登录失败，无法识别服务器的应答（" + std::to_string(status) + "）！";
    }
}

CameraListAssembly::Step CameraListAssembly::Add(const ReplyParams& chunk) {
    if (overflow_) return Step::kOverflow;
    if (ended_) return Step::kEnd;
    std::size_t added = 0;
    for (const char* key : CameraListReply::kKeys) added += Get(chunk, key).size() + 1;
    if (bytes_ + added > limitBytes_) {
        overflow_ = true;
        return Step::kOverflow;
    }
    bytes_ += added;
    status_ = ReplyStatus(chunk);
    for (int i = 0; i < 13; ++i) {
        std::string& list = lists_.lists[i];
        if (chunks_ > 0) list += ';';
        list += Get(chunk, CameraListReply::kKeys[i]);
    }
    ++chunks_;
    ended_ = platform::ParseInt(Get(chunk, "end")) == 1;
    return ended_ ? Step::kEnd : Step::kMore;
}

const char* const kAddressReplyKeys[5] = {"nodeId", "transpondIP", "transpondPort", "transpondStatus", "keyword"};

TransportAddress AddressFromReply(int status, const ReplyParams& reply) {
    TransportAddress address;
    address.status = status;
    address.answered = true;
    address.nodeId = Get(reply, "nodeId");
    address.forwardingIp = Get(reply, "transpondIP");
    address.forwardingPort = Get(reply, "transpondPort");
    address.forwardingStatus = Get(reply, "transpondStatus");
    address.keyword = Get(reply, "keyword");
    return address;
}

AlarmRecord MakeAlarmRecord(const std::string& uploadUrl, const std::string& nodeId, const std::string& nodeName,
                            const std::string& cameraId, const std::string& cameraName, const std::string& kindName,
                            const std::string& message, const std::string& picture, const std::string& time) {
    return AlarmRecord{nodeId,  nodeName, cameraId, cameraName, kindName,
                       message, picture.empty() ? std::string() : uploadUrl + picture, time};
}

const char* const kAlarmListKeys[8] = {"nodeIdList", "nodeNameList", "cameraIdList", "cameraNameList",
                                       "kindNameList", "msgList",    "pictureList",  "datetimeList"};

void AppendAlarmRows(const ReplyParams& reply, const std::string& uploadUrl, AlarmSearchResult& out) {
    std::vector<std::vector<std::string>> lists;
    for (const char* key : kAlarmListKeys) lists.push_back(SplitList(Get(reply, key)));
    std::size_t rows = lists[0].size();
    for (const auto& list : lists) rows = std::min(rows, list.size());
    for (std::size_t i = 0; i < rows; ++i) {
        bool complete = true;
        for (int k = 0; k < 6; ++k) complete = complete && !lists[k][i].empty();
        if (!complete) break;
        out.Append(MakeAlarmRecord(uploadUrl, lists[0][i], lists[1][i], lists[2][i], lists[3][i], lists[4][i],
                                   lists[5][i], lists[6][i], lists[7][i]));
    }
}

AlarmRecord AlarmFromPush(const ControlMessage& message, const std::string& uploadUrl) {
    const ReplyParams& p = message.params;
    return MakeAlarmRecord(uploadUrl, Get(p, "nodeId"), Get(p, "nodeName"), Get(p, "cameraId"), Get(p, "cameraName"),
                           Get(p, "kindName"), Get(p, "msg"), Get(p, "picture"), Get(p, "time"));
}

bool AuthorityGranted(const std::string& status) {
    if (status.empty()) return false;
    char* end = nullptr;
    const double value = std::strtod(status.c_str(), &end);
    if (end == status.c_str() || *end != '\0') return true;
    return value > 0;
}

std::string AuthorityListText(const ReplyParams& reply) {
    std::string out;
    for (const auto& [key, value] : reply) out += value + ";";  // std::map: ascending key order
    return out;
}

}  // namespace control
