#pragma once
// The simulated service's data: accounts (holders and their sub-accounts), user
// groups, authorities, the node tree, cameras with their forwarding servers, alarms,
// recordings, viewing-plan templates, camera groups and messages, kept in one SQLite
// file. The store creates the schema and seeds a demo account on first open, and
// answers the questions the control side asks. All calls are serialised by one lock.

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sqlite_db.h"

namespace sim {

struct ForwardServer {
    std::string host;
    int port = 0;
};

struct SeedOptions {
    int cameraCount = 200;
    // Seeded dates (expiry, alarms, recordings) are placed around this moment; 0 = now.
    std::time_t referenceTime = 0;
    std::vector<ForwardServer> forwardServers{{"127.0.0.1", 19001}, {"127.0.0.1", 19002}};
};

// Login answers, as the client's login sequence knows them.
enum LoginStatus : int {
    kLoginAccepted = 1,
    kLoginForeignAccount = 2,  // an account of another brand: known, but not ours
    kLoginWrongPassword = -1,
    kLoginExpired = -2,
    kLoginOnlineMaximum = -3,
};

struct Account {
    std::int64_t id = 0;
    std::int64_t parentId = 0;  // 0 for an account holder
    std::string userName;
    std::string nick;
    std::string passwordMd5;
    int oemId = 1;
    std::string expiredDate;  // "YYYY-MM-DD"; empty = unlimited
    int onlineMax = 0;        // below 1 = unlimited
    int sessionsElsewhere = 0;
    std::string enableList;
    std::string showMsg;
    std::string activeTime;
    bool scrambleReplies = false;

    std::int64_t HolderId() const { return parentId != 0 ? parentId : id; }
};

// One row of the camera and node list: a node (area) or a camera.
struct ListRow {
    bool isNode = false;
    std::string id;
    std::string name;
    std::string parentId;
    // nodes: cameras and online cameras in the node's subtree
    int cameraCount = 0;
    int onlineCount = 0;
    // cameras
    bool online = false;
    bool inService = true;  // not expired
    std::string expiredDate;
    std::string transpondIp;
    int transpondPort = 0;
};

struct CameraRoute {
    std::string cameraId;
    std::string cameraName;
    std::string nodeId;
    bool online = false;
    bool inService = false;
    std::string transpondIp;
    int transpondPort = 0;
    bool serverRunning = false;
    std::string keyword;
};

struct AlarmRow {
    std::int64_t id = 0;
    std::string nodeId, nodeName, cameraId, cameraName, kindName, msg, time, picture;
};

struct AlarmQuery {
    std::string startTime;  // "YYYY-MM-DD HH:MM:SS"
    std::string endTime;
    std::string nodeId;     // empty: every node
    std::string cameraId;   // empty: every camera
    int limit = 500;
};

// How a camera's synthetic video is made and delivered.
struct CameraVideo {
    int width = 704;
    int height = 576;
    int frameRate = 25;
    bool mediaMessages = false;  // false: compact frames; true: media sub-messages
    bool panTiltZoom = false;
};

// What a forwarding server needs to know to stream a camera.
struct StreamingCamera {
    std::string cameraId;
    std::string name;
    bool online = false;
    bool inService = false;     // not expired
    bool inOpenWindow = true;   // its viewing plan allows watching now (no plan: always)
    CameraVideo video;
};

// A remote playback set up by msgType 6, with the recordings it covers.
struct PlaybackSession {
    std::int64_t playbackId = 0;
    std::string cameraId;
    std::string startTime, endTime;                               // the requested window
    std::vector<std::pair<std::string, std::string>> recordings;  // start, end; by start time
};

struct PlaybackSetup {
    std::int64_t playbackId = 0;
    std::vector<std::pair<std::string, std::string>> ranges;  // start, end
    std::string transpondIp;
    int transpondPort = 0;
};

// A sub-account as the account holder's list shows it.
struct SubAccountRow {
    std::int64_t id = 0;
    std::string userName, nick, expiredDate;
    int onlineMax = 0;
    std::int64_t groupId = 0;
    std::string groupName;
};

// A message (tip) as the message list shows it.
struct TipRow {
    std::int64_t id = 0;
    std::string kindName, title, datetime;
};

class ServiceStore {
public:
    ServiceStore() = default;
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    // Opens the file, creates the schema when missing and seeds it when empty.
    bool Open(const std::string& path, const SeedOptions& seed);
    const std::string& LastError() const { return lastError_; }

    // The service's clock (expiry checks, playback records); tests pin it.
    void SetClock(std::function<std::time_t()> now);
    std::time_t Now() const;

    // Points every stored forwarding server at the given addresses (in order),
    // adding servers as needed. Cameras keep their assignment by position.
    bool SetForwardServers(const std::vector<ForwardServer>& servers);
    std::vector<ForwardServer> ForwardServers();

    // Row count of a table of the schema (tests, diagnostics); -1 for unknown names.
    long long CountRows(const std::string& table);

    // Checks a login; `account` is filled for every known user name.
    int CheckLogin(const std::string& userName, const std::string& passwordMd5, int oemId, const std::string& today,
                   int liveSessions, Account& account);
    std::optional<Account> FindAccount(std::int64_t id);

    std::vector<ListRow> CameraTree(const Account& viewer);
    // Nothing when the camera does not exist or the viewer may not see it.
    std::optional<CameraRoute> Route(const Account& viewer, const std::string& cameraId);
    std::vector<AlarmRow> SearchAlarms(const Account& viewer, const AlarmQuery& query);
    std::optional<AlarmRow> Alarm(std::int64_t id);
    // Records a new alarm for a camera (pushed alarms are searchable afterwards).
    std::optional<AlarmRow> AddAlarm(const std::string& cameraId, const std::string& kindName, const std::string& msg,
                                     const std::string& time);
    // Cameras the viewer may see (for pushed alarms).
    std::vector<std::string> VisibleCameraIds(const Account& viewer, int limit);
    // Recordings of the camera overlapping [start, end] and a fresh playback id; without
    // recordings no set-up is kept (playback id 0).
    std::optional<PlaybackSetup> SetUpPlayback(const Account& viewer, const std::string& cameraId,
                                               const std::string& startTime, const std::string& endTime);
    // The forwarding side: a camera by id (any owner), and a playback set-up by id.
    std::optional<StreamingCamera> StreamingCameraInfo(const std::string& cameraId);
    std::optional<PlaybackSession> FindPlaybackSession(const std::string& playbackId);
    // Changes how cameras are streamed; an empty id changes every camera.
    bool SetCameraVideo(const std::string& cameraId, const CameraVideo& video);
    // Size and rate only; an empty id changes every camera.
    bool SetCameraPicture(const std::string& cameraId, int width, int height, int frameRate);
    // Assigns a viewing-plan template (0: none) to a camera.
    bool SetCameraPlan(const std::string& cameraId, std::int64_t templateId);

    // Renewal of a lapsed camera's service (msgType 74): the camera must belong to the
    // viewer (sub-accounts own none), and the viewer's balance pays kRenewalPrice for
    // kRenewalDays more from the later of today and the old expiry date.
    static constexpr int kRenewalPrice = 100;
    static constexpr int kRenewalDays = 365;
    struct Renewal {
        int status = -1;  // 1 renewed; -2 balance too low; -3 not the viewer's camera
        std::string expiredDate;
    };
    Renewal RenewCamera(const Account& viewer, const std::string& cameraId);
    bool SetBalance(std::int64_t accountId, std::int64_t balance);
    std::optional<std::int64_t> Balance(std::int64_t accountId);
    // Whether the capture side is connected, and until when the service is paid.
    bool SetCameraState(const std::string& cameraId, bool online, const std::string& expiredDate);
    bool SetCameraName(const std::string& cameraId, const std::string& name);

    // The authority names of `targetId` when the viewer is that account or its holder.
    std::optional<std::vector<std::string>> Authorities(const Account& viewer, std::int64_t targetId);

    // --- Administration (service_store_admin.cpp) ---
    // The holder's sub-accounts from `start` (0-based), at most `count`; `total` counts
    // them all. A sub-account has none.
    std::vector<SubAccountRow> SubAccounts(const Account& viewer, int start, int count, int& total);
    // The user groups of the viewer's holder: id, name.
    std::vector<std::pair<std::int64_t, std::string>> UserGroups(const Account& viewer);
    bool AddFeedback(const Account& viewer, const std::string& content);
    // Messages the viewer received or, for a holder, sent; newest first.
    std::vector<TipRow> Tips(const Account& viewer);
    // Saves the viewer's own password, or the fields given of one of its sub-accounts
    // ("nick", "password" (MD5), "expiredDate", "onlineMax", "userGroupId"). False when
    // the account is neither or a value is unusable.
    bool SaveAccount(const Account& viewer, std::int64_t userId, const std::map<std::string, std::string>& fields);

    // Sub-accounts (only an account holder manages them). AddSubAccount: 1 and the new
    // id; -2 the user name is taken; -3 the holder's sub-account limit is reached;
    // -1 a bad name, nickname or digest.
    int AddSubAccount(const Account& viewer, const std::string& userName, const std::string& nick,
                      const std::string& passwordMd5, std::int64_t& newId);
    // Deletes the listed sub-accounts with everything given to them; nothing when one
    // of them is not the viewer's.
    bool DeleteSubAccounts(const Account& viewer, const std::vector<std::int64_t>& ids);
    // The cameras (and their nodes) a sub-account may see; nothing when not the viewer's.
    std::optional<std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>>> SubAccountCameras(
        const Account& viewer, std::int64_t userId);
    // Replaces the cameras and nodes given to each listed sub-account. Every camera and
    // node must be the holder's own; false (and nothing changed) otherwise.
    bool SetSubAccountCameras(const Account& viewer, const std::vector<std::int64_t>& userIds,
                              const std::vector<std::int64_t>& nodeIds, const std::vector<std::int64_t>& cameraIds);
    // Replaces the authorities of each listed sub-account (names of kAuthorityNames).
    bool SetAuthorities(const Account& viewer, const std::vector<std::int64_t>& userIds,
                        const std::vector<std::string>& names);
    // The user name of one of the viewer's sub-accounts.
    std::optional<std::string> SubAccountName(const Account& viewer, std::int64_t userId);
    // User groups: create (id out), rename, delete; the holder's own only.
    bool AddUserGroup(const Account& viewer, const std::string& name, std::int64_t& newId);
    bool RenameUserGroup(const Account& viewer, std::int64_t groupId, const std::string& name);
    bool DeleteUserGroup(const Account& viewer, std::int64_t groupId);

    // Messages: the content of one the viewer sent or received (a recipient's copy is
    // then marked read); sending stores one copy per recipient (no ids: every
    // sub-account) and returns the recipients.
    std::optional<std::string> ReadTip(const Account& viewer, std::int64_t tipId);
    std::optional<std::vector<std::int64_t>> SendTip(const Account& viewer, const std::vector<std::int64_t>& recipients,
                                                     const std::string& title, const std::string& content);
    // Whether the viewer has read a message addressed to it (a sender's own: true).
    bool TipRead(const Account& viewer, std::int64_t tipId);

    // --- Camera groups and areas (service_store_groups.cpp) ---
    // Group ids start here, so they never meet the ids of real nodes in the tree.
    static constexpr std::int64_t kFirstGroupId = 80000001;
    std::optional<std::int64_t> AddGroup(const Account& viewer, const std::string& name, std::int64_t parentId);
    // Renames and (when `parentId` is set; 0 = top level) moves a group; never below itself.
    bool EditGroup(const Account& viewer, std::int64_t groupId, const std::string& name,
                   std::optional<std::int64_t> parentId);
    // Deletes a group with its subgroups and memberships (the cameras stay).
    bool DeleteGroup(const Account& viewer, std::int64_t groupId);
    // Adds areas (real nodes of the holder) to a group; in the tree they move under it.
    bool AddAreasToGroup(const Account& viewer, std::int64_t groupId, const std::vector<std::int64_t>& nodeIds);
    struct Area {
        std::int64_t id = 0;
        std::string name;
        bool active = false;  // a camera below it is online
    };
    std::vector<Area> Areas(const Account& viewer);
    // Deletes an area without child areas, and its cameras. -1 when not possible.
    int DeleteArea(const Account& viewer, std::int64_t nodeId);
    // 1 deleted; -2 another account's camera; -1 no such camera.
    int DeleteCamera(const Account& viewer, std::int64_t cameraId);
    bool RenameCamera(const Account& viewer, std::int64_t cameraId, const std::string& name);

    // --- Viewing plans (service_store_plans.cpp) ---
    struct PlanPeriod {
        int day = 0;  // 1 Sunday .. 7 Saturday
        std::string start, end;  // "HH:MM"
    };
    struct PlanTemplate {
        std::int64_t id = 0;
        std::string name, description;
        std::vector<PlanPeriod> periods;
    };
    std::vector<PlanTemplate> Templates(const Account& viewer, int start, int count, int& total);
    std::optional<PlanTemplate> Template(const Account& viewer, std::int64_t templateId);
    // Creates (id 0) or replaces a template; the periods must be well formed, at most
    // eight a day and never overlapping or touching. The id, or nothing.
    std::optional<std::int64_t> SaveTemplate(const Account& viewer, const PlanTemplate& plan);
    bool DeleteTemplates(const Account& viewer, const std::vector<std::int64_t>& ids);
    // Assigns (0: removes) a template to one of the holder's cameras.
    bool AssignTemplate(const Account& viewer, std::int64_t cameraId, std::int64_t templateId);
    // The template of a camera the viewer may see: 0 none; nothing when it may not.
    std::optional<std::int64_t> CameraTemplate(const Account& viewer, std::int64_t cameraId);

private:
    bool CreateSchema();
    bool Seed(const SeedOptions& seed);
    // Adds the daily recordings of the days after each camera's last one, up to the
    // day before `reference`.
    bool RecordUpTo(std::time_t reference);
    bool CanSee(const Account& viewer, std::int64_t cameraId);
    std::map<std::int64_t, bool> VisibleCameraSet(const Account& viewer);
    bool Migrate();
    bool IsSubAccountOf(const Account& viewer, std::int64_t userId);

    std::mutex lock_;
    std::function<std::time_t()> now_;
    SqliteDb db_;
    std::string lastError_;
};

// The three authorities a sub-account may be given.
inline const std::vector<std::string> kAuthorityNames = {"MEDIA_PARAMS", "CLOUD_DECK", "VIDEO_PLAYBACK"};
// Characters of a UTF-8 text (bytes that do not start a character are not counted).
std::size_t TextLength(const std::string& text);
// "YYYY?MM?DD" with any one separator, as a real date, written "YYYY-MM-DD".
std::optional<std::string> NormaliseDate(const std::string& text);

// Local-time helpers for the service's text formats.
std::string FormatDateTime(std::time_t when);  // "YYYY-MM-DD HH:MM:SS"
std::string FormatDate(std::time_t when);      // "YYYY-MM-DD"
// Reads "Y-M-D h:m:s" with any field widths (clients pad with blanks or zeros) and
// writes it back in the zero-padded form; nothing when it does not read as a time.
std::optional<std::string> NormaliseDateTime(const std::string& text);
// Local time of a "Y-M-D h:m:s" text, as NormaliseDateTime reads it.
std::optional<std::time_t> ParseDateTime(const std::string& text);

}  // namespace sim
