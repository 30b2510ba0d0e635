#pragma once
// The proxy server's request handling: one session per control connection, requests
// in (type byte + JSON), reply envelopes out. It is independent of the transport: the
// network end hands it whole messages and gives it a ReplyChannel to answer through,
// so tests can drive it message by message.
//
// Fault switches (per message type: withhold, delay, malformed or scrambled replies;
// per connection: scrambling) let the client's tests meet a misbehaving service.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "control/control_message.h"
#include "sim/service_store.h"

namespace Json {
class Value;
}

namespace sim {

using ConnectionId = std::uint64_t;

// Where replies go: the proxy's connections.
class ReplyChannel {
public:
    virtual ~ReplyChannel() = default;
    // One whole message.
    virtual bool Send(ConnectionId connection, const std::string& message) = 0;
    // Bytes written to the stream as they are, outside the message framing.
    virtual bool SendRaw(ConnectionId connection, const std::string& bytes) = 0;
    virtual void Close(ConnectionId connection) = 0;
};

// Runs `task` once after `delay` on a thread of the service.
using Scheduler = std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;

struct ControlOptions {
    std::size_t listChunkRows = 500;  // rows per reply of the camera and node list
    bool scrambleByDefault = false;   // replies before login and to accounts without a setting
    std::string uploadUrlBase;        // an account's pictures: uploadUrlBase + userId + "/"
    std::string updateUrl;
    int alarmSearchLimit = 500;
    bool pushNoticesOnLogin = false;  // deliver waiting notices (35) right after a login
    std::function<void(const std::string&)> log;
};

struct ReplyFault {
    bool withhold = false;             // never answer this type
    std::chrono::milliseconds delay{0};
    bool malformed = false;            // answer with JSON cut short
    std::optional<bool> scramble;      // force the scrambled or the plain form
};

// Status of replies to requests made before a successful login.
constexpr int kStatusNotLoggedIn = -100;

class ControlService {
public:
    struct Stats {
        std::uint64_t requests = 0;
        std::uint64_t undecodable = 0;
        std::uint64_t replies = 0;
        std::uint64_t withheld = 0;
    };

    ControlService(ServiceStore& store, ReplyChannel& channel, Scheduler scheduler, ControlOptions options);
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    void OnAccept(ConnectionId connection);
    void OnMessage(ConnectionId connection, const char* data, std::size_t length);
    void OnClosed(ConnectionId connection);

    // Pushes to every logged-in connection of the account (0: of every account).
    // Returns the number of connections reached.
    int PushAlarm(std::int64_t accountId, const AlarmRow& alarm);
    int PushNotice(std::int64_t accountId, int cmd, const std::string& title, const std::string& content);
    // Records one new alarm on a camera each logged-in connection may see, and pushes it.
    int PushRandomAlarms();

    // Fault switches.
    void SetReplyFault(int msgType, ReplyFault fault);
    void ClearFaults();
    void SetConnectionScramble(ConnectionId connection, bool scramble);
    bool SendRaw(ConnectionId connection, const std::string& bytes);
    void CloseAll();

    std::vector<ConnectionId> Connections() const;
    std::vector<ConnectionId> LoggedInConnections() const;
    Stats GetStats() const;
    const ControlOptions& Options() const { return options_; }

private:
    struct Session {
        bool loggedIn = false;
        Account account;
        bool scramble = false;
        bool scrambleForced = false;
    };
    using Replies = std::vector<Json::Value>;

    void Dispatch(ConnectionId connection, const control::ControlMessage& request);
    void Answer(ConnectionId connection, const control::ControlMessage& request, Replies replies);
    void Deliver(ConnectionId connection, const std::vector<std::string>& messages);

    Replies Login(ConnectionId connection, const control::ControlMessage& request);
    Replies CameraList(const Account& viewer, const control::ControlMessage& request);
    Replies ForwardingAddress(const Account& viewer, const control::ControlMessage& request, bool withNode);
    Replies PlaybackSetUp(const Account& viewer, const control::ControlMessage& request);
    Replies AlarmSearch(const Account& viewer, const control::ControlMessage& request);
    Replies AuthorityList(const Account& viewer, const control::ControlMessage& request);
    Replies RenewCamera(const Account& viewer, const control::ControlMessage& request);
    // Administration (control_service_admin.cpp).
    Replies SaveAccount(const Account& viewer, const control::ControlMessage& request);
    Replies SubAccounts(const Account& viewer, const control::ControlMessage& request);
    Replies Feedback(const Account& viewer, const control::ControlMessage& request);
    Replies Messages(const Account& viewer);
    Replies UserGroups(const Account& viewer);
    Replies AddSubAccount(const Account& viewer, const control::ControlMessage& request);
    Replies DeleteSubAccounts(const Account& viewer, const control::ControlMessage& request);
    Replies SubAccountCameras(const Account& viewer, const control::ControlMessage& request);
    Replies SaveSubAccountCameras(const Account& viewer, const control::ControlMessage& request, bool batch);
    Replies SaveAuthorities(const Account& viewer, const control::ControlMessage& request, bool batch);
    Replies SaveSubAccounts(const Account& viewer, const control::ControlMessage& request);
    Replies EditUserGroup(const Account& viewer, const control::ControlMessage& request);
    Replies ReadMessage(const Account& viewer, const control::ControlMessage& request);
    Replies SendMessage(const Account& viewer, const control::ControlMessage& request);
    // Camera groups, areas and cameras (control_service_groups.cpp).
    Replies CreateGroup(const Account& viewer, const control::ControlMessage& request);
    Replies DeleteGroup(const Account& viewer, const control::ControlMessage& request);
    Replies EditGroup(const Account& viewer, const control::ControlMessage& request);
    Replies AddAreas(const Account& viewer, const control::ControlMessage& request);
    Replies Areas(const Account& viewer);
    Replies DeleteCamera(const Account& viewer, const control::ControlMessage& request);
    Replies RenameCamera(const Account& viewer, const control::ControlMessage& request);
    Replies DeleteArea(const Account& viewer, const control::ControlMessage& request);
    // Viewing plans (control_service_groups.cpp too).
    Replies Templates(const Account& viewer, const control::ControlMessage& request);
    Replies TemplatePeriods(const Account& viewer, const control::ControlMessage& request);
    Replies SaveTemplate(const Account& viewer, const control::ControlMessage& request);
    Replies AssignTemplate(const Account& viewer, const control::ControlMessage& request);
    Replies CameraTemplate(const Account& viewer, const control::ControlMessage& request);
    Replies DeleteTemplates(const Account& viewer, const control::ControlMessage& request);
    Replies CameraHasTemplate(const Account& viewer, const control::ControlMessage& request);

    void Log(const std::string& text) const;
    std::string UploadUrl(const Account& account) const;
    int Push(std::int64_t accountId, int msgType, const Json::Value& params);

    ServiceStore& store_;
    ReplyChannel& channel_;
    Scheduler scheduler_;
    const ControlOptions options_;

    mutable std::mutex lock_;  // sessions, faults, stats
    std::map<ConnectionId, Session> sessions_;
    std::map<int, ReplyFault> faults_;
    Stats stats_;
    std::int32_t pushId_ = 0;
    std::uint32_t randomState_ = 12345;
};

// Replaces the list separator inside an item, so that one value never splits into two.
std::string ListItem(const std::string& value);
// Items of a ";"-list joined as the client reads them.
std::string JoinItems(const std::vector<std::string>& items);
// A list of decimal ids split at any of `separators`; nothing when an item is not an
// id. An empty text is an empty list.
std::optional<std::vector<std::int64_t>> ParseIdList(const std::string& text, const char* separators = ";");
// One decimal id; nothing for anything else.
std::optional<std::int64_t> ParseId(const std::string& text);

}  // namespace sim
