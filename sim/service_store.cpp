#include "sim/service_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "core/md5.h"

namespace sim {
namespace {

// 2: camera group ids start at kFirstGroupId (older files are renumbered on open).
constexpr int kSchemaVersion = 2;

// Tables for the control side and for the administration requests that build on it
// (sub-accounts, user groups, authorities, camera groups, viewing plans, messages).
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS user_groups(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY,
  parent_id INTEGER NOT NULL DEFAULT 0,          -- 0: account holder; else the holder
  user_name TEXT NOT NULL UNIQUE,
  nick TEXT NOT NULL DEFAULT '',
  password_md5 TEXT NOT NULL,                    -- 32 upper-case hex digits
  oem_id INTEGER NOT NULL DEFAULT 1,
  expired_date TEXT NOT NULL DEFAULT '',         -- YYYY-MM-DD, empty = unlimited
  online_max INTEGER NOT NULL DEFAULT 0,         -- below 1 = unlimited
  sessions_elsewhere INTEGER NOT NULL DEFAULT 0, -- logins held on other proxies
  user_group_id INTEGER NOT NULL DEFAULT 0,
  enable_list TEXT NOT NULL DEFAULT '',
  show_msg TEXT NOT NULL DEFAULT '',
  active_time TEXT NOT NULL DEFAULT '',
  scramble INTEGER NOT NULL DEFAULT 0,           -- replies XOR-ed with 0x5A
  max_sub_accounts INTEGER NOT NULL DEFAULT 50,
  balance INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS account_authorities(
  account_id INTEGER NOT NULL, name TEXT NOT NULL, PRIMARY KEY(account_id, name));
CREATE TABLE IF NOT EXISTS forward_servers(
  id INTEGER PRIMARY KEY, host TEXT NOT NULL, port INTEGER NOT NULL, running INTEGER NOT NULL DEFAULT 1);
CREATE TABLE IF NOT EXISTS nodes(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, parent_id INTEGER NOT NULL DEFAULT 0,
  name TEXT NOT NULL, sort INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS nodes_owner ON nodes(owner_id, parent_id);
CREATE TABLE IF NOT EXISTS plan_templates(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, name TEXT NOT NULL, description TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS plan_periods(
  template_id INTEGER NOT NULL, day_index INTEGER NOT NULL, slot INTEGER NOT NULL,
  start_time TEXT NOT NULL, end_time TEXT NOT NULL, PRIMARY KEY(template_id, day_index, slot));
CREATE TABLE IF NOT EXISTS cameras(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, node_id INTEGER NOT NULL, name TEXT NOT NULL,
  signature TEXT NOT NULL DEFAULT '', password TEXT NOT NULL DEFAULT '',
  online INTEGER NOT NULL DEFAULT 1, expired_date TEXT NOT NULL DEFAULT '',
  forward_server_id INTEGER NOT NULL DEFAULT 0, keyword TEXT NOT NULL DEFAULT '',
  template_id INTEGER NOT NULL DEFAULT 0,
  width INTEGER NOT NULL DEFAULT 704, height INTEGER NOT NULL DEFAULT 576, frame_rate INTEGER NOT NULL DEFAULT 25,
  delivery INTEGER NOT NULL DEFAULT 0,           -- 0 compact frames, 1 media sub-messages
  ptz INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS cameras_owner ON cameras(owner_id, node_id);
CREATE TABLE IF NOT EXISTS account_cameras(
  account_id INTEGER NOT NULL, camera_id INTEGER NOT NULL, PRIMARY KEY(account_id, camera_id));
CREATE TABLE IF NOT EXISTS account_nodes(
  account_id INTEGER NOT NULL, node_id INTEGER NOT NULL, PRIMARY KEY(account_id, node_id));
CREATE TABLE IF NOT EXISTS virtual_nodes(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, parent_id INTEGER NOT NULL DEFAULT 0, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS virtual_node_members(
  virtual_node_id INTEGER NOT NULL, node_id INTEGER NOT NULL DEFAULT 0, camera_id INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS alarms(
  id INTEGER PRIMARY KEY, camera_id INTEGER NOT NULL, kind_name TEXT NOT NULL, msg TEXT NOT NULL,
  time TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS alarms_time ON alarms(time);
CREATE INDEX IF NOT EXISTS alarms_camera ON alarms(camera_id, time);
CREATE TABLE IF NOT EXISTS recordings(
  id INTEGER PRIMARY KEY, camera_id INTEGER NOT NULL, start_time TEXT NOT NULL, end_time TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS recordings_camera ON recordings(camera_id, start_time);
CREATE TABLE IF NOT EXISTS playback_sessions(
  id INTEGER PRIMARY KEY, camera_id INTEGER NOT NULL, start_time TEXT NOT NULL, end_time TEXT NOT NULL,
  created TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tips(
  id INTEGER PRIMARY KEY, sender_id INTEGER NOT NULL, kind_name TEXT NOT NULL, title TEXT NOT NULL,
  content TEXT NOT NULL, datetime TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tip_recipients(
  tip_id INTEGER NOT NULL, account_id INTEGER NOT NULL, read INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(tip_id, account_id));
CREATE TABLE IF NOT EXISTS notices(
  id INTEGER PRIMARY KEY, account_id INTEGER NOT NULL, cmd INTEGER NOT NULL, title TEXT NOT NULL,
  content TEXT NOT NULL, created TEXT NOT NULL, delivered INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS feedback(
  id INTEGER PRIMARY KEY, account_id INTEGER NOT NULL, content TEXT NOT NULL, created TEXT NOT NULL);
)sql";

const std::set<std::string> kTables = {
    "meta", "user_groups", "accounts", "account_authorities", "forward_servers", "nodes", "plan_templates",
    "plan_periods", "cameras", "account_cameras", "account_nodes", "virtual_nodes", "virtual_node_members",
    "alarms", "recordings", "playback_sessions", "tips", "tip_recipients", "notices", "feedback"};

// The seeded places: provinces, their cities and districts; sites (the leaves that
// hold cameras) are spread over the districts.
struct City {
    const char* name;
    std::vector<const char*> districts;
};
struct Province {
    const char* name;
    std::vector<City> cities;
};
const std::vector<Province> kPlaces = {
    {"浙江省", {{"杭州市", {"西湖区", "滨江区", "余杭区"}}, {"宁波市", {"海曙区", "鄞州区"}}}},
    {"江苏省", {{"南京市", {"玄武区", "鼓楼区"}}, {"苏州市", {"姑苏区", "吴中区"}}}},
    {"广东省", {{"广州市", {"天河区", "越秀区"}}, {"深圳市", {"南山区", "福田区", "宝安区"}}}},
};
const char* const kSites[] = {"文三路门店", "体育场路仓库", "湖滨营业厅", "中山路网点",
                              "人民广场店", "火车站服务点", "学院路校区", "工业园厂区"};
const char* const kCameraNames[] = {"大门", "收银台", "仓库通道", "停车场", "前台", "后门", "电梯厅", "办公区"};
constexpr int kCamerasPerSite = 8;

struct AlarmKind {
    const char* kind;
    const char* what;
};
const AlarmKind kAlarmKinds[] = {{"移动侦测", "检测到移动物体"},
                                 {"视频遮挡", "画面被遮挡"},
                                 {"视频丢失", "视频信号丢失"},
                                 {"越界报警", "有人越过警戒线"},
                                 {"区域入侵", "有人进入警戒区域"}};

constexpr std::int64_t kFirstCameraId = 31000001;
constexpr int kCamerasWithAlarms = 40;
constexpr int kCamerasWithRecordings = 200;
constexpr int kPagingAlarmCount = 120;  // the first camera's alarms of the reference day
constexpr std::int64_t kKeptPlaybackSessions = 1000;
// The cameras that record do so every day in these slots (seconds after midnight); a
// new database holds the last kRecordedDays days.
const std::pair<int, int> kRecordingSlots[] = {
    {8 * 3600, 9 * 3600}, {12 * 3600 + 1800, 13 * 3600 + 900}, {20 * 3600, 21 * 3600 + 1800}};
constexpr int kRecordedDays = 3;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsHex32(const std::string& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::int64_t ToId(const std::string& text) {
    if (text.empty() || text.size() > 18) return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::time_t DayStart(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

}  // namespace

std::string FormatDateTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string FormatDate(std::time_t when) { return FormatDateTime(when).substr(0, 10); }

std::size_t TextLength(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::optional<std::string> NormaliseDate(const std::string& text) {
    if (text.size() != 10 || text[4] != text[7] || std::isdigit(static_cast<unsigned char>(text[4]))) return std::nullopt;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    const int y = std::atoi(text.substr(0, 4).c_str()), m = std::atoi(text.substr(5, 2).c_str()),
              d = std::atoi(text.substr(8, 2).c_str());
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1970 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] || (m == 2 && d == 29 && !leap)) return std::nullopt;
    char out[48];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d", y, m, d);
    return std::string(out);
}

std::optional<std::string> NormaliseDateTime(const std::string& text) {
    int y, mo, d, h, mi, s;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return std::nullopt;
    if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 60)
        return std::nullopt;
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return std::string(out);
}

std::optional<std::time_t> ParseDateTime(const std::string& text) {
    auto normal = NormaliseDateTime(text);
    if (!normal) return std::nullopt;
    std::tm local{};
    std::sscanf(normal->c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday, &local.tm_hour,
                &local.tm_min, &local.tm_sec);
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) return std::nullopt;
    return when;
}

bool ServiceStore::Open(const std::string& path, const SeedOptions& seed) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!db_.Open(path)) {
        lastError_ = "cannot open database " + path + ": " + db_.LastError();
        return false;
    }
    if (!CreateSchema()) return false;
    auto count = db_.Prepare("SELECT COUNT(*) FROM accounts");
    if (!count.Step()) {
        lastError_ = db_.LastError();
        return false;
    }
    if (count.Int(0) == 0) return Seed(seed);
    // A database seeded days ago has recorded on since: the days up to yesterday are
    // added, so that "last night" always has recordings. A pinned reference time
    // (tests) keeps the database as it is.
    return seed.referenceTime != 0 || RecordUpTo(Now());
}

bool ServiceStore::RecordUpTo(std::time_t reference) {
    constexpr std::time_t kDay = 24 * 3600;
    const std::time_t today = DayStart(reference);
    std::vector<std::pair<std::int64_t, std::string>> cameras;
    auto latest = db_.Prepare("SELECT camera_id, MAX(start_time) FROM recordings GROUP BY camera_id");
    while (latest.Step()) cameras.emplace_back(latest.Int(0), latest.Text(1));
    SqliteTransaction transaction(db_);
    auto recording = db_.Prepare("INSERT INTO recordings(camera_id, start_time, end_time) VALUES(?, ?, ?)");
    bool ok = true;
    for (const auto& [camera, last] : cameras) {
        const std::optional<std::time_t> lastStart = ParseDateTime(last);
        if (!lastStart) continue;
        // At most the days a new database would hold; a camera recorded today already
        // (or in the future of a changed clock) gets nothing.
        std::time_t day = std::max(DayStart(*lastStart) + kDay, today - kRecordedDays * kDay);
        for (; day < today; day = DayStart(day + kDay + 3600))
            for (const auto& [from, to] : kRecordingSlots)
                ok = ok && recording.Bind(1, camera)
                               .Bind(2, FormatDateTime(day + from))
                               .Bind(3, FormatDateTime(day + to))
                               .Run();
    }
    if (!ok || !transaction.Commit()) {
        lastError_ = "cannot add recordings: " + db_.LastError();
        return false;
    }
    return true;
}

bool ServiceStore::CreateSchema() {
    if (!db_.Execute(kSchema)) {
        lastError_ = "cannot create the schema: " + db_.LastError();
        return false;
    }
    // A new file starts at the current version; an older one is brought up to it.
    auto empty = db_.Prepare("SELECT COUNT(*) FROM accounts");
    const bool fresh = empty.Step() && empty.Int(0) == 0;
    auto version = db_.Prepare("INSERT OR IGNORE INTO meta(key, value) VALUES('schema_version', ?)");
    version.Bind(1, std::to_string(fresh ? kSchemaVersion : 1));
    return version.Run() && Migrate();
}

bool ServiceStore::Migrate() {
    auto read = db_.Prepare("SELECT value FROM meta WHERE key = 'schema_version'");
    const int version = read.Step() ? std::atoi(read.Text(0).c_str()) : 1;
    if (version >= kSchemaVersion) return true;
    SqliteTransaction transaction(db_);
    bool ok = true;
    if (version < 2) {
        // Camera groups share the tree with real nodes: move their ids out of the way.
        const std::string shift = std::to_string(kFirstGroupId - 1);
        ok = db_.Execute("UPDATE virtual_nodes SET parent_id = parent_id + " + shift +
                         " WHERE parent_id > 0 AND parent_id < " + std::to_string(kFirstGroupId)) &&
             db_.Execute("UPDATE virtual_node_members SET virtual_node_id = virtual_node_id + " + shift +
                         " WHERE virtual_node_id < " + std::to_string(kFirstGroupId)) &&
             db_.Execute("UPDATE virtual_nodes SET id = id + " + shift + " WHERE id < " +
                         std::to_string(kFirstGroupId));
    }
    auto set = db_.Prepare("UPDATE meta SET value = ? WHERE key = 'schema_version'");
    ok = ok && set.Bind(1, std::to_string(kSchemaVersion)).Run();
    if (!ok || !transaction.Commit()) {
        lastError_ = "cannot migrate the schema: " + db_.LastError();
        return false;
    }
    return true;
}

bool ServiceStore::Seed(const SeedOptions& options) {
    const std::time_t reference = options.referenceTime != 0 ? options.referenceTime : std::time(nullptr);
    const std::time_t today = DayStart(reference);
    constexpr std::time_t kDay = 24 * 3600;
    SqliteTransaction transaction(db_);
    if (!transaction.Active()) {
        lastError_ = db_.LastError();
        return false;
    }
    bool ok = true;
    auto check = [&](bool result) { ok = ok && result; };

    // Forwarding servers.
    auto server = db_.Prepare("INSERT INTO forward_servers(id, host, port) VALUES(?, ?, ?)");
    std::vector<ForwardServer> servers = options.forwardServers;
    if (servers.empty()) servers.push_back({"127.0.0.1", 19001});
    for (std::size_t i = 0; i < servers.size(); ++i)
        check(server.Bind(1, static_cast<std::int64_t>(i + 1)).Bind(2, servers[i].host).Bind(3, servers[i].port).Run());

    // Accounts: the demo holder, two of its sub-accounts, and one account for every
    // refused login.
    const std::string password = core::Md5Hex("larkview");
    const std::string activeTime = FormatDateTime(reference - 400 * kDay);
    auto account = db_.Prepare(
        "INSERT INTO accounts(id, parent_id, user_name, nick, password_md5, oem_id, expired_date, online_max, "
        "sessions_elsewhere, user_group_id, enable_list, show_msg, active_time, scramble) "
        "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    struct SeedAccount {
        std::int64_t id, parent;
        const char* name;
        const char* nick;
        int oem;
        std::string expiry;
        int onlineMax, elsewhere;
        std::int64_t group;
        const char* enable;
        const char* showMsg;
        int scramble;
    };
    const std::string validUntil = FormatDate(reference + 3650 * kDay);  // a demo database stays usable for years
    const std::vector<SeedAccount> accounts = {
        {10001, 0, "demo", "演示账号", 1, "", 0, 0, 0, "101;102;103;104", "欢迎使用远程监控演示服务", 0},
        {10002, 10001, "zhangwei", "张伟", 1, validUntil, 2, 0, 1, "101;102", "", 1},
        {10003, 10001, "lina", "李娜", 1, "", 0, 0, 2, "101", "", 0},
        {20001, 0, "partner", "合作品牌账号", 2, "", 0, 0, 0, "", "", 0},
        {20002, 0, "expired", "过期账号", 1, FormatDate(reference - 30 * kDay), 0, 0, 0, "", "", 0},
        {20003, 0, "busy", "满员账号", 1, "", 1, 1, 0, "", "", 0},
    };
    for (const SeedAccount& a : accounts)
        check(account.Bind(1, a.id).Bind(2, a.parent).Bind(3, a.name).Bind(4, a.nick).Bind(5, password)
                  .Bind(6, a.oem).Bind(7, a.expiry).Bind(8, a.onlineMax).Bind(9, a.elsewhere).Bind(10, a.group)
                  .Bind(11, a.enable).Bind(12, a.showMsg).Bind(13, activeTime).Bind(14, a.scramble).Run());
    check(db_.Execute("INSERT INTO user_groups(id, owner_id, name) VALUES(1, 10001, '值班组'), (2, 10001, '巡检组')"));
    check(db_.Execute(
        "INSERT INTO account_authorities(account_id, name) VALUES"
        "(10001,'MEDIA_PARAMS'),(10001,'CLOUD_DECK'),(10001,'VIDEO_PLAYBACK'),"
        "(10002,'CLOUD_DECK'),(10003,'MEDIA_PARAMS'),(10003,'VIDEO_PLAYBACK')"));

    // Nodes: provinces, cities, districts, then sites spread over the districts.
    const int cameraCount = std::max(0, options.cameraCount);
    const int siteCount = std::max(1, (cameraCount + kCamerasPerSite - 1) / kCamerasPerSite);
    auto node = db_.Prepare("INSERT INTO nodes(id, owner_id, parent_id, name, sort) VALUES(?, 10001, ?, ?, ?)");
    std::int64_t nextNode = 1;
    std::vector<std::int64_t> districts;
    for (const Province& province : kPlaces) {
        std::int64_t provinceId = nextNode++;
        check(node.Bind(1, provinceId).Bind(2, 0).Bind(3, province.name).Bind(4, provinceId).Run());
        for (const City& city : province.cities) {
            std::int64_t cityId = nextNode++;
            check(node.Bind(1, cityId).Bind(2, provinceId).Bind(3, city.name).Bind(4, cityId).Run());
            for (const char* district : city.districts) {
                std::int64_t districtId = nextNode++;
                check(node.Bind(1, districtId).Bind(2, cityId).Bind(3, district).Bind(4, districtId).Run());
                districts.push_back(districtId);
            }
        }
    }
    std::vector<std::int64_t> sites;
    std::vector<int> sitesInDistrict(districts.size(), 0);
    for (int s = 0; s < siteCount; ++s) {
        std::size_t d = static_cast<std::size_t>(s) % districts.size();
        int k = sitesInDistrict[d]++;
        std::string name = kSites[k % 8];
        if (k >= 8) name += std::to_string(k / 8 + 1) + "号";
        std::int64_t siteId = nextNode++;
        check(node.Bind(1, siteId).Bind(2, districts[d]).Bind(3, name).Bind(4, siteId).Run());
        sites.push_back(siteId);
    }

    // Viewing-plan templates: working days in the daytime, and the whole week.
    check(db_.Execute(
        "INSERT INTO plan_templates(id, owner_id, name, description) VALUES"
        "(1, 10001, '工作日白天', '周一至周五 08:00-18:00'), (2, 10001, '全天', '')"));
    auto period = db_.Prepare(
        "INSERT INTO plan_periods(template_id, day_index, slot, start_time, end_time) VALUES(?, ?, ?, ?, ?)");
    for (int day = 2; day <= 6; ++day) check(period.Bind(1, 1).Bind(2, day).Bind(3, 0).Bind(4, "08:00").Bind(5, "18:00").Run());
    for (int day = 1; day <= 7; ++day) check(period.Bind(1, 2).Bind(2, day).Bind(3, 0).Bind(4, "00:00").Bind(5, "23:59").Run());

    // Cameras: mostly online; some offline, some expired (and therefore offline).
    auto camera = db_.Prepare(
        "INSERT INTO cameras(id, owner_id, node_id, name, signature, password, online, expired_date, "
        "forward_server_id, keyword, template_id, delivery, ptz, width, height, frame_rate) "
        "VALUES(?, 10001, ?, ?, ?, '123456', ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const std::string lapsed = FormatDate(reference - 30 * kDay);
    for (int c = 0; c < cameraCount; ++c) {
        const std::int64_t id = kFirstCameraId + c;
        const bool expired = c % 11 == 5;
        const bool offline = expired || c % 7 == 3;
        const std::string idText = std::to_string(id);
        const std::string digest = core::Md5Hex(idText);
        std::string name = kCameraNames[c % kCamerasPerSite];
        check(camera.Bind(1, id)
                  .Bind(2, sites[static_cast<std::size_t>(c / kCamerasPerSite) % sites.size()])
                  .Bind(3, name)
                  .Bind(4, "LV" + digest.substr(0, 12))
                  .Bind(5, offline ? 0 : 1)
                  .Bind(6, expired ? lapsed : validUntil)
                  .Bind(7, static_cast<std::int64_t>(c % servers.size()) + 1)
                  .Bind(8, digest.substr(16))
                  .Bind(9, c % 17 == 9 ? 1 : 0)
                  .Bind(10, c % 2)
                  .Bind(11, c % 4 == 0 ? 1 : 0)
                  // Mostly D1; some CIF and some full HD cameras, some at 15 frames a second.
                  .Bind(12, c % 10 == 3 ? 352 : c % 10 == 7 ? 1920 : 704)
                  .Bind(13, c % 10 == 3 ? 288 : c % 10 == 7 ? 1080 : 576)
                  .Bind(14, c % 6 == 5 ? 15 : 25)
                  .Run());
    }

    // Sub-account permissions: zhangwei sees the first site, lina the first two.
    auto permit = db_.Prepare("INSERT INTO account_cameras(account_id, camera_id) VALUES(?, ?)");
    auto permitNode = db_.Prepare("INSERT OR IGNORE INTO account_nodes(account_id, node_id) VALUES(?, ?)");
    for (int c = 0; c < std::min(cameraCount, 2 * kCamerasPerSite); ++c) {
        const std::int64_t site = sites[static_cast<std::size_t>(c / kCamerasPerSite) % sites.size()];
        if (c < kCamerasPerSite) {
            check(permit.Bind(1, 10002).Bind(2, kFirstCameraId + c).Run());
            check(permitNode.Bind(1, 10002).Bind(2, site).Run());
        }
        check(permit.Bind(1, 10003).Bind(2, kFirstCameraId + c).Run());
        check(permitNode.Bind(1, 10003).Bind(2, site).Run());
    }

    // An empty camera group: the holder fills it (members move in the tree, so the seeded
    // places stay where the demo and the tests expect them).
    auto group = db_.Prepare("INSERT INTO virtual_nodes(id, owner_id, parent_id, name) VALUES(?, 10001, 0, '重点区域')");
    check(group.Bind(1, kFirstGroupId).Run());

    // Alarms: the first camera has a full day of them (enough for several pages);
    // the next ones a few each over the last three days.
    auto alarm = db_.Prepare("INSERT INTO alarms(camera_id, kind_name, msg, time) VALUES(?, ?, ?, ?)");
    auto addAlarm = [&](int c, int n, std::time_t when) {
        const AlarmKind& kind = kAlarmKinds[static_cast<std::size_t>(n) % std::size(kAlarmKinds)];
        std::string msg = std::string(kCameraNames[c % kCamerasPerSite]) + kind.what;
        check(alarm.Bind(1, kFirstCameraId + c).Bind(2, kind.kind).Bind(3, msg).Bind(4, FormatDateTime(when)).Run());
    };
    if (cameraCount > 0)
        for (int n = 0; n < kPagingAlarmCount; ++n) addAlarm(0, n, today + 6 * 3600 + n * 7 * 60 + 13);
    for (int c = 1; c < std::min(cameraCount, kCamerasWithAlarms); ++c)
        for (int n = 0; n < 3 + c % 4; ++n) addAlarm(c, n + c, today - (n % 3) * kDay + 8 * 3600 + c * 600 + n * 1800);

    // Recordings: three a day over the last three days for the first cameras.
    auto recording = db_.Prepare("INSERT INTO recordings(camera_id, start_time, end_time) VALUES(?, ?, ?)");
    for (int c = 0; c < std::min(cameraCount, kCamerasWithRecordings); ++c)
        for (int day = kRecordedDays; day >= 1; --day)
            for (const auto& [from, to] : kRecordingSlots)
                check(recording.Bind(1, kFirstCameraId + c)
                          .Bind(2, FormatDateTime(today - day * kDay + from))
                          .Bind(3, FormatDateTime(today - day * kDay + to))
                          .Run());

    // Messages from the holder to its sub-accounts, and a notice waiting for demo.
    const std::string yesterday = FormatDateTime(today - kDay + 9 * 3600);
    auto tip = db_.Prepare("INSERT INTO tips(id, sender_id, kind_name, title, content, datetime) VALUES(?, 10001, ?, ?, ?, ?)");
    check(tip.Bind(1, 1).Bind(2, "通知").Bind(3, "值班安排").Bind(4, "本周由张伟值夜班，请注意查看仓库通道画面。").Bind(5, yesterday).Run());
    check(tip.Bind(1, 2).Bind(2, "提醒").Bind(3, "设备检修").Bind(4, "周六上午停车场摄像头检修，期间画面中断。").Bind(5, yesterday).Run());
    check(db_.Execute("INSERT INTO tip_recipients(tip_id, account_id) VALUES(1, 10002), (1, 10003), (2, 10002)"));
    auto notice = db_.Prepare(
        "INSERT INTO notices(account_id, cmd, title, content, created) VALUES(10001, 1, ?, ?, ?)");
    check(notice.Bind(1, "系统公告").Bind(2, "服务将于今晚 23:00 例行维护，预计 30 分钟。").Bind(3, FormatDateTime(reference)).Run());

    // The holder has paid in advance: enough for ten camera renewals.
    check(db_.Execute("UPDATE accounts SET balance = 1000 WHERE id = 10001"));

    auto seeded = db_.Prepare("INSERT OR REPLACE INTO meta(key, value) VALUES('seeded', ?)");
    check(seeded.Bind(1, FormatDateTime(reference)).Run());

    if (!ok) {
        lastError_ = "seeding failed: " + db_.LastError();
        return false;
    }
    if (!transaction.Commit()) {
        lastError_ = "seeding failed at commit: " + db_.LastError();
        return false;
    }
    return true;
}

bool ServiceStore::SetForwardServers(const std::vector<ForwardServer>& servers) {
    std::lock_guard<std::mutex> guard(lock_);
    SqliteTransaction transaction(db_);
    auto upsert = db_.Prepare(
        "INSERT INTO forward_servers(id, host, port) VALUES(?, ?, ?) "
        "ON CONFLICT(id) DO UPDATE SET host = excluded.host, port = excluded.port");
    for (std::size_t i = 0; i < servers.size(); ++i)
        if (!upsert.Bind(1, static_cast<std::int64_t>(i + 1)).Bind(2, servers[i].host).Bind(3, servers[i].port).Run())
            return false;
    return transaction.Commit();
}

std::vector<ForwardServer> ServiceStore::ForwardServers() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<ForwardServer> servers;
    auto read = db_.Prepare("SELECT host, port FROM forward_servers ORDER BY id");
    while (read.Step()) servers.push_back({read.Text(0), static_cast<int>(read.Int(1))});
    return servers;
}

long long ServiceStore::CountRows(const std::string& table) {
    if (!kTables.count(table)) return -1;
    std::lock_guard<std::mutex> guard(lock_);
    auto count = db_.Prepare("SELECT COUNT(*) FROM " + table);
    return count.Step() ? count.Int(0) : -1;
}

namespace {

Account ReadAccount(SqliteStatement& row) {
    Account a;
    a.id = row.Int(0);
    a.parentId = row.Int(1);
    a.userName = row.Text(2);
    a.nick = row.Text(3);
    a.passwordMd5 = row.Text(4);
    a.oemId = static_cast<int>(row.Int(5));
    a.expiredDate = row.Text(6);
    a.onlineMax = static_cast<int>(row.Int(7));
    a.sessionsElsewhere = static_cast<int>(row.Int(8));
    a.enableList = row.Text(9);
    a.showMsg = row.Text(10);
    a.activeTime = row.Text(11);
    a.scrambleReplies = row.Int(12) != 0;
    return a;
}

constexpr const char* kAccountColumns =
    "SELECT id, parent_id, user_name, nick, password_md5, oem_id, expired_date, online_max, sessions_elsewhere, "
    "enable_list, show_msg, active_time, scramble FROM accounts ";

}  // namespace

int ServiceStore::CheckLogin(const std::string& userName, const std::string& passwordMd5, int oemId,
                             const std::string& today, int liveSessions, Account& account) {
    std::lock_guard<std::mutex> guard(lock_);
    auto find = db_.Prepare(std::string(kAccountColumns) + "WHERE user_name = ?");
    find.Bind(1, userName);
    if (!find.Step()) return kLoginWrongPassword;  // unknown users are not told apart
    account = ReadAccount(find);
    // The client sends the digest in upper case; accept either case, but only a digest.
    if (!IsHex32(passwordMd5) || Lower(passwordMd5) != Lower(account.passwordMd5)) return kLoginWrongPassword;
    if (account.oemId != oemId) return kLoginForeignAccount;
    // Expiry dates may be written with any one separator ("2014/05/01"); compare digits.
    auto digits = [](std::string text) {
        std::erase_if(text, [](char c) { return c < '0' || c > '9'; });
        return text;
    };
    if (!account.expiredDate.empty() && digits(account.expiredDate) < digits(today)) return kLoginExpired;
    if (account.onlineMax > 0 && account.sessionsElsewhere + liveSessions >= account.onlineMax) return kLoginOnlineMaximum;
    return kLoginAccepted;
}

std::optional<Account> ServiceStore::FindAccount(std::int64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    auto find = db_.Prepare(std::string(kAccountColumns) + "WHERE id = ?");
    find.Bind(1, id);
    if (!find.Step()) return std::nullopt;
    return ReadAccount(find);
}

std::map<std::int64_t, bool> ServiceStore::VisibleCameraSet(const Account& viewer) {
    std::map<std::int64_t, bool> visible;
    if (viewer.parentId == 0) return visible;  // holders see every camera they own
    auto permitted = db_.Prepare("SELECT camera_id FROM account_cameras WHERE account_id = ?");
    permitted.Bind(1, viewer.id);
    while (permitted.Step()) visible[permitted.Int(0)] = true;
    return visible;
}

bool ServiceStore::CanSee(const Account& viewer, std::int64_t cameraId) {
    auto owner = db_.Prepare("SELECT owner_id FROM cameras WHERE id = ?");
    owner.Bind(1, cameraId);
    if (!owner.Step() || owner.Int(0) != viewer.HolderId()) return false;
    if (viewer.parentId == 0) return true;
    auto permitted = db_.Prepare("SELECT 1 FROM account_cameras WHERE account_id = ? AND camera_id = ?");
    permitted.Bind(1, viewer.id).Bind(2, cameraId);
    return permitted.Step();
}

std::vector<ListRow> ServiceStore::CameraTree(const Account& viewer) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string today = FormatDate(Now());
    const bool restricted = viewer.parentId != 0;
    const auto visible = VisibleCameraSet(viewer);

    struct NodeInfo {
        std::int64_t id = 0, parent = 0;
        std::string name;
        int cameras = 0, online = 0;
        bool shown = true;
        std::vector<std::size_t> children;
        std::vector<ListRow> cameraRows;
    };
    std::vector<NodeInfo> nodes;
    std::map<std::int64_t, std::size_t> index;
    auto readNodes = db_.Prepare("SELECT id, parent_id, name FROM nodes WHERE owner_id = ? ORDER BY sort, id");
    readNodes.Bind(1, viewer.HolderId());
    while (readNodes.Step()) {
        index[readNodes.Int(0)] = nodes.size();
        NodeInfo info;
        info.id = readNodes.Int(0);
        info.parent = readNodes.Int(1);
        info.name = readNodes.Text(2);
        nodes.push_back(std::move(info));
        nodes.back().shown = !restricted;
    }
    // Camera groups are nodes of the same tree: an area added to a group, or a camera,
    // moves under it (each is listed once, under its first group).
    std::map<std::int64_t, std::int64_t> cameraGroup;
    auto readGroups = db_.Prepare("SELECT id, parent_id, name FROM virtual_nodes WHERE owner_id = ? ORDER BY id");
    readGroups.Bind(1, viewer.HolderId());
    while (readGroups.Step()) {
        if (index.count(readGroups.Int(0))) continue;  // never shadow a real node
        index[readGroups.Int(0)] = nodes.size();
        NodeInfo info;
        info.id = readGroups.Int(0);
        info.parent = readGroups.Int(1);
        info.name = readGroups.Text(2);
        info.shown = !restricted;
        nodes.push_back(std::move(info));
    }
    auto readMembers = db_.Prepare(
        "SELECT m.virtual_node_id, m.node_id, m.camera_id FROM virtual_node_members m "
        "JOIN virtual_nodes v ON v.id = m.virtual_node_id WHERE v.owner_id = ? ORDER BY m.rowid");
    readMembers.Bind(1, viewer.HolderId());
    std::set<std::int64_t> movedAreas;
    while (readMembers.Step()) {
        const std::int64_t group = readMembers.Int(0), area = readMembers.Int(1), camera = readMembers.Int(2);
        if (!index.count(group)) continue;
        if (area != 0 && index.count(area) && area < kFirstGroupId && movedAreas.insert(area).second)
            nodes[index[area]].parent = group;
        if (camera != 0) cameraGroup.emplace(camera, group);
    }

    auto readCameras = db_.Prepare(
        "SELECT c.id, c.node_id, c.name, c.online, c.expired_date, s.host, s.port FROM cameras c "
        "LEFT JOIN forward_servers s ON s.id = c.forward_server_id WHERE c.owner_id = ? ORDER BY c.node_id, c.id");
    readCameras.Bind(1, viewer.HolderId());
    while (readCameras.Step()) {
        const std::int64_t id = readCameras.Int(0);
        if (restricted && !visible.count(id)) continue;
        auto at = index.find(readCameras.Int(1));
        if (at == index.end()) continue;  // a camera of a deleted node is not listed
        if (auto group = cameraGroup.find(id); group != cameraGroup.end()) at = index.find(group->second);
        ListRow row;
        row.id = std::to_string(id);
        row.name = readCameras.Text(2);
        row.parentId = std::to_string(nodes[at->second].id);
        row.expiredDate = readCameras.Text(4);
        row.inService = row.expiredDate.empty() || row.expiredDate >= today;
        // Active means the capture side is connected; a lapsed camera may still be, and
        // the client then offers its renewal.
        row.online = readCameras.Int(3) != 0;
        row.transpondIp = readCameras.Text(5);
        row.transpondPort = static_cast<int>(readCameras.Int(6));
        // Counts and visibility go up the whole chain of parents.
        for (std::size_t n = at->second, steps = 0; steps <= nodes.size(); ++steps) {
            NodeInfo& node = nodes[n];
            node.cameras += 1;
            node.online += row.online ? 1 : 0;
            node.shown = true;
            auto parent = index.find(node.parent);
            if (parent == index.end()) break;
            n = parent->second;
        }
        nodes[at->second].cameraRows.push_back(std::move(row));
    }

    std::vector<std::size_t> roots;
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        auto parent = index.find(nodes[n].parent);
        if (parent == index.end())
            roots.push_back(n);
        else
            nodes[parent->second].children.push_back(n);
    }

    // Depth first: each node, its own cameras, then its child nodes.
    std::vector<ListRow> rows;
    std::function<void(std::size_t, int)> emit = [&](std::size_t n, int depth) {
        NodeInfo& node = nodes[n];
        if (!node.shown || depth > 64) return;
        ListRow row;
        row.isNode = true;
        row.id = std::to_string(node.id);
        row.name = node.name;
        row.parentId = node.parent != 0 ? std::to_string(node.parent) : "0";
        row.cameraCount = node.cameras;
        row.onlineCount = node.online;
        rows.push_back(std::move(row));
        for (ListRow& camera : node.cameraRows) rows.push_back(std::move(camera));
        for (std::size_t child : node.children) emit(child, depth + 1);
    };
    for (std::size_t root : roots) emit(root, 0);
    return rows;
}

std::optional<CameraRoute> ServiceStore::Route(const Account& viewer, const std::string& cameraId) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = ToId(cameraId);
    if (id < 0 || !CanSee(viewer, id)) return std::nullopt;
    auto read = db_.Prepare(
        "SELECT c.name, c.node_id, c.online, c.expired_date, c.keyword, s.host, s.port, s.running FROM cameras c "
        "LEFT JOIN forward_servers s ON s.id = c.forward_server_id WHERE c.id = ?");
    read.Bind(1, id);
    if (!read.Step()) return std::nullopt;
    CameraRoute route;
    route.cameraId = std::to_string(id);
    route.cameraName = read.Text(0);
    route.nodeId = std::to_string(read.Int(1));
    const std::string expiry = read.Text(3);
    route.inService = expiry.empty() || expiry >= FormatDate(Now());
    route.online = read.Int(2) != 0 && route.inService;
    route.keyword = read.Text(4);
    route.transpondIp = read.Text(5);
    route.transpondPort = static_cast<int>(read.Int(6));
    route.serverRunning = !read.IsNull(7) && read.Int(7) != 0;
    return route;
}

std::vector<AlarmRow> ServiceStore::SearchAlarms(const Account& viewer, const AlarmQuery& query) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<AlarmRow> rows;
    const bool restricted = viewer.parentId != 0;
    const auto visible = VisibleCameraSet(viewer);

    // The node filter takes the node and everything below it.
    std::set<std::int64_t> nodeFilter;
    if (!query.nodeId.empty()) {
        const std::int64_t root = ToId(query.nodeId);
        if (root < 0) return rows;
        std::map<std::int64_t, std::vector<std::int64_t>> children;
        auto all = db_.Prepare("SELECT id, parent_id FROM nodes WHERE owner_id = ?");
        all.Bind(1, viewer.HolderId());
        while (all.Step()) children[all.Int(1)].push_back(all.Int(0));
        std::vector<std::int64_t> pending{root};
        while (!pending.empty() && nodeFilter.size() < 100000) {
            std::int64_t n = pending.back();
            pending.pop_back();
            if (!nodeFilter.insert(n).second) continue;
            for (std::int64_t child : children[n]) pending.push_back(child);
        }
    }
    std::int64_t cameraFilter = 0;
    if (!query.cameraId.empty()) {
        cameraFilter = ToId(query.cameraId);
        if (cameraFilter < 0) return rows;
    }

    auto search = db_.Prepare(
        "SELECT a.id, c.node_id, n.name, c.id, c.name, a.kind_name, a.msg, a.time FROM alarms a "
        "JOIN cameras c ON c.id = a.camera_id JOIN nodes n ON n.id = c.node_id "
        "WHERE c.owner_id = ?1 AND a.time >= ?2 AND a.time <= ?3 AND (?4 = 0 OR c.id = ?4) "
        "ORDER BY a.time, a.id");
    search.Bind(1, viewer.HolderId()).Bind(2, query.startTime).Bind(3, query.endTime).Bind(4, cameraFilter);
    while (search.Step() && static_cast<int>(rows.size()) < query.limit) {
        const std::int64_t camera = search.Int(3);
        if (restricted && !visible.count(camera)) continue;
        if (!nodeFilter.empty() && !nodeFilter.count(search.Int(1))) continue;
        AlarmRow row;
        row.id = search.Int(0);
        row.nodeId = std::to_string(search.Int(1));
        row.nodeName = search.Text(2);
        row.cameraId = std::to_string(camera);
        row.cameraName = search.Text(4);
        row.kindName = search.Text(5);
        row.msg = search.Text(6);
        row.time = search.Text(7);
        row.picture = "alarm_" + std::to_string(row.id) + ".jpg";
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<AlarmRow> ServiceStore::Alarm(std::int64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    auto read = db_.Prepare(
        "SELECT a.id, c.node_id, n.name, c.id, c.name, a.kind_name, a.msg, a.time FROM alarms a "
        "JOIN cameras c ON c.id = a.camera_id JOIN nodes n ON n.id = c.node_id WHERE a.id = ?");
    read.Bind(1, id);
    if (!read.Step()) return std::nullopt;
    AlarmRow row;
    row.id = read.Int(0);
    row.nodeId = std::to_string(read.Int(1));
    row.nodeName = read.Text(2);
    row.cameraId = std::to_string(read.Int(3));
    row.cameraName = read.Text(4);
    row.kindName = read.Text(5);
    row.msg = read.Text(6);
    row.time = read.Text(7);
    row.picture = "alarm_" + std::to_string(row.id) + ".jpg";
    return row;
}

std::optional<AlarmRow> ServiceStore::AddAlarm(const std::string& cameraId, const std::string& kindName,
                                               const std::string& msg, const std::string& time) {
    std::int64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const std::int64_t camera = ToId(cameraId);
        if (camera < 0) return std::nullopt;
        auto insert = db_.Prepare(
            "INSERT INTO alarms(camera_id, kind_name, msg, time) SELECT id, ?, ?, ? FROM cameras WHERE id = ?");
        insert.Bind(1, kindName).Bind(2, msg).Bind(3, time).Bind(4, camera);
        if (!insert.Run() || db_.Changes() == 0) return std::nullopt;
        id = db_.LastInsertId();
    }
    return Alarm(id);
}

std::vector<std::string> ServiceStore::VisibleCameraIds(const Account& viewer, int limit) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> ids;
    auto read = viewer.parentId == 0
                    ? db_.Prepare("SELECT id FROM cameras WHERE owner_id = ?1 ORDER BY id LIMIT ?2")
                    : db_.Prepare("SELECT camera_id FROM account_cameras WHERE account_id = ?1 ORDER BY camera_id LIMIT ?2");
    read.Bind(1, viewer.parentId == 0 ? viewer.HolderId() : viewer.id).Bind(2, limit);
    while (read.Step()) ids.push_back(std::to_string(read.Int(0)));
    return ids;
}

std::optional<PlaybackSetup> ServiceStore::SetUpPlayback(const Account& viewer, const std::string& cameraId,
                                                         const std::string& startTime, const std::string& endTime) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t camera = ToId(cameraId);
    if (camera < 0 || !CanSee(viewer, camera)) return std::nullopt;
    PlaybackSetup setup;
    auto ranges = db_.Prepare(
        "SELECT start_time, end_time FROM recordings WHERE camera_id = ? AND end_time >= ? AND start_time <= ? "
        "ORDER BY start_time LIMIT 500");
    ranges.Bind(1, camera).Bind(2, startTime).Bind(3, endTime);
    while (ranges.Step()) setup.ranges.emplace_back(ranges.Text(0), ranges.Text(1));
    if (setup.ranges.empty()) return setup;  // nothing to play: no set-up is kept
    auto server = db_.Prepare(
        "SELECT s.host, s.port FROM cameras c JOIN forward_servers s ON s.id = c.forward_server_id WHERE c.id = ?");
    server.Bind(1, camera);
    if (server.Step()) {
        setup.transpondIp = server.Text(0);
        setup.transpondPort = static_cast<int>(server.Int(1));
    }
    auto session = db_.Prepare(
        "INSERT INTO playback_sessions(camera_id, start_time, end_time, created) VALUES(?, ?, ?, ?)");
    session.Bind(1, camera).Bind(2, startTime).Bind(3, endTime).Bind(4, FormatDateTime(Now()));
    if (!session.Run()) return std::nullopt;
    setup.playbackId = db_.LastInsertId();
    // Set-ups nobody plays are never closed by the client: keep only the latest ones.
    auto prune = db_.Prepare("DELETE FROM playback_sessions WHERE id <= ?");
    prune.Bind(1, setup.playbackId - kKeptPlaybackSessions).Run();
    return setup;
}

std::optional<StreamingCamera> ServiceStore::StreamingCameraInfo(const std::string& cameraId) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = ToId(cameraId);
    if (id < 0) return std::nullopt;
    auto read = db_.Prepare(
        "SELECT name, online, expired_date, template_id, width, height, frame_rate, delivery, ptz FROM cameras "
        "WHERE id = ?");
    read.Bind(1, id);
    if (!read.Step()) return std::nullopt;
    StreamingCamera camera;
    camera.cameraId = std::to_string(id);
    camera.name = read.Text(0);
    const std::time_t now = Now();
    const std::string expiry = read.Text(2);
    camera.inService = expiry.empty() || expiry >= FormatDate(now);
    camera.online = read.Int(1) != 0 && camera.inService;
    camera.video.width = static_cast<int>(read.Int(4));
    camera.video.height = static_cast<int>(read.Int(5));
    camera.video.frameRate = static_cast<int>(read.Int(6));
    camera.video.mediaMessages = read.Int(7) != 0;
    camera.video.panTiltZoom = read.Int(8) != 0;
    const std::int64_t plan = read.Int(3);
    if (plan != 0) {
        // Inside when a period of today (day 1 = Sunday) holds the current minute;
        // the texts are zero-padded "HH:MM", so they compare as text.
        std::tm local{};
        localtime_r(&now, &local);
        char minute[8];
        std::snprintf(minute, sizeof minute, "%02d:%02d", local.tm_hour, local.tm_min);
        auto periods = db_.Prepare(
            "SELECT 1 FROM plan_periods WHERE template_id = ? AND day_index = ? AND start_time <= ? AND end_time >= ? "
            "LIMIT 1");
        periods.Bind(1, plan).Bind(2, local.tm_wday + 1).Bind(3, minute).Bind(4, minute);
        camera.inOpenWindow = periods.Step();
    }
    return camera;
}

std::optional<PlaybackSession> ServiceStore::FindPlaybackSession(const std::string& playbackId) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = ToId(playbackId);
    if (id < 0) return std::nullopt;
    auto read = db_.Prepare("SELECT camera_id, start_time, end_time FROM playback_sessions WHERE id = ?");
    read.Bind(1, id);
    if (!read.Step()) return std::nullopt;
    PlaybackSession session;
    session.playbackId = id;
    session.cameraId = std::to_string(read.Int(0));
    session.startTime = read.Text(1);
    session.endTime = read.Text(2);
    auto ranges = db_.Prepare(
        "SELECT start_time, end_time FROM recordings WHERE camera_id = ? AND end_time >= ? AND start_time <= ? "
        "ORDER BY start_time LIMIT 500");
    ranges.Bind(1, read.Int(0)).Bind(2, session.startTime).Bind(3, session.endTime);
    while (ranges.Step()) session.recordings.emplace_back(ranges.Text(0), ranges.Text(1));
    return session;
}

bool ServiceStore::SetCameraVideo(const std::string& cameraId, const CameraVideo& video) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = cameraId.empty() ? 0 : ToId(cameraId);
    if (id < 0) return false;
    auto update = db_.Prepare(
        "UPDATE cameras SET width = ?, height = ?, frame_rate = ?, delivery = ?, ptz = ? WHERE ?6 = 0 OR id = ?6");
    update.Bind(1, video.width).Bind(2, video.height).Bind(3, video.frameRate).Bind(4, video.mediaMessages ? 1 : 0)
        .Bind(5, video.panTiltZoom ? 1 : 0).Bind(6, id);
    return update.Run() && (id == 0 || db_.Changes() > 0);
}

bool ServiceStore::SetCameraPicture(const std::string& cameraId, int width, int height, int frameRate) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = cameraId.empty() ? 0 : ToId(cameraId);
    if (id < 0) return false;
    auto update = db_.Prepare("UPDATE cameras SET width = ?, height = ?, frame_rate = ? WHERE ?4 = 0 OR id = ?4");
    update.Bind(1, width).Bind(2, height).Bind(3, frameRate).Bind(4, id);
    return update.Run() && (id == 0 || db_.Changes() > 0);
}

bool ServiceStore::SetCameraPlan(const std::string& cameraId, std::int64_t templateId) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = ToId(cameraId);
    if (id < 0) return false;
    auto update = db_.Prepare("UPDATE cameras SET template_id = ? WHERE id = ?");
    update.Bind(1, templateId).Bind(2, id);
    return update.Run() && db_.Changes() > 0;
}

ServiceStore::Renewal ServiceStore::RenewCamera(const Account& viewer, const std::string& cameraId) {
    std::lock_guard<std::mutex> guard(lock_);
    Renewal result;
    const std::int64_t id = ToId(cameraId);
    if (id < 0) return result;
    auto camera = db_.Prepare("SELECT expired_date FROM cameras WHERE id = ? AND owner_id = ?");
    camera.Bind(1, id).Bind(2, viewer.id);
    if (!camera.Step()) {
        result.status = -3;
        return result;
    }
    const std::string oldExpiry = camera.Text(0);
    auto account = db_.Prepare("SELECT balance FROM accounts WHERE id = ?");
    account.Bind(1, viewer.id);
    if (!account.Step() || account.Int(0) < kRenewalPrice) {
        result.status = -2;
        return result;
    }
    const std::time_t now = Now();
    std::time_t from = now;
    if (auto old = ParseDateTime(oldExpiry + " 00:00:00"); old && *old > from) from = *old;
    result.expiredDate = FormatDate(from + static_cast<std::time_t>(kRenewalDays) * 24 * 3600);
    auto pay = db_.Prepare("UPDATE accounts SET balance = balance - ? WHERE id = ?");
    auto renew = db_.Prepare("UPDATE cameras SET expired_date = ? WHERE id = ?");
    if (!pay.Bind(1, kRenewalPrice).Bind(2, viewer.id).Run() || !renew.Bind(1, result.expiredDate).Bind(2, id).Run())
        return Renewal{};
    result.status = 1;
    return result;
}

bool ServiceStore::SetBalance(std::int64_t accountId, std::int64_t balance) {
    std::lock_guard<std::mutex> guard(lock_);
    auto update = db_.Prepare("UPDATE accounts SET balance = ? WHERE id = ?");
    update.Bind(1, balance).Bind(2, accountId);
    return update.Run() && db_.Changes() > 0;
}

std::optional<std::int64_t> ServiceStore::Balance(std::int64_t accountId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto read = db_.Prepare("SELECT balance FROM accounts WHERE id = ?");
    read.Bind(1, accountId);
    if (!read.Step()) return std::nullopt;
    return read.Int(0);
}

bool ServiceStore::SetCameraState(const std::string& cameraId, bool online, const std::string& expiredDate) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = ToId(cameraId);
    if (id < 0) return false;
    auto update = db_.Prepare("UPDATE cameras SET online = ?, expired_date = ? WHERE id = ?");
    update.Bind(1, online ? 1 : 0).Bind(2, expiredDate).Bind(3, id);
    return update.Run() && db_.Changes() > 0;
}

bool ServiceStore::SetCameraName(const std::string& cameraId, const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t id = ToId(cameraId);
    if (id < 0) return false;
    auto update = db_.Prepare("UPDATE cameras SET name = ? WHERE id = ?");
    update.Bind(1, name).Bind(2, id);
    return update.Run() && db_.Changes() > 0;
}

std::optional<std::vector<std::string>> ServiceStore::Authorities(const Account& viewer, std::int64_t targetId) {
    std::lock_guard<std::mutex> guard(lock_);
    if (targetId != viewer.id) {
        auto child = db_.Prepare("SELECT 1 FROM accounts WHERE id = ? AND parent_id = ?");
        child.Bind(1, targetId).Bind(2, viewer.id);
        if (!child.Step()) return std::nullopt;
    }
    std::vector<std::string> names;
    auto read = db_.Prepare("SELECT name FROM account_authorities WHERE account_id = ? ORDER BY rowid");
    read.Bind(1, targetId);
    while (read.Step()) names.push_back(read.Text(0));
    return names;
}

}  // namespace sim

namespace sim {

void ServiceStore::SetClock(std::function<std::time_t()> now) { now_ = std::move(now); }

std::time_t ServiceStore::Now() const { return now_ ? now_() : std::time(nullptr); }

}  // namespace sim
