// The administration questions of the store: sub-accounts, user groups, feedback,
// messages and account changes.
#include <algorithm>
#include <cctype>
#include <charconv>

#include "sim/service_store.h"

namespace sim {
namespace {

bool IsMd5(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::int64_t> WholeNumber(const std::string& text) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

constexpr std::size_t kMaxUserName = 32;
constexpr std::size_t kMaxNick = 32;
constexpr std::size_t kMaxGroupName = 32;
constexpr std::size_t kMaxTipTitle = 64;
constexpr std::size_t kMaxTipContent = 2000;

// Letters, digits and underscores, as the client's forms allow.
bool UsableUserName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxUserName &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

bool UsableText(const std::string& text, std::size_t maxLength, bool mayBeEmpty) {
    if (!mayBeEmpty && std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; })) return false;
    return TextLength(text) <= maxLength &&
           std::none_of(text.begin(), text.end(), [](char c) { return c == ';' || c == '\0'; });
}

}  // namespace

bool ServiceStore::IsSubAccountOf(const Account& viewer, std::int64_t userId) {
    if (viewer.parentId != 0) return false;
    auto child = db_.Prepare("SELECT 1 FROM accounts WHERE id = ? AND parent_id = ?");
    child.Bind(1, userId).Bind(2, viewer.id);
    return child.Step();
}

std::optional<std::string> ServiceStore::SubAccountName(const Account& viewer, std::int64_t userId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto read = db_.Prepare("SELECT user_name FROM accounts WHERE id = ? AND parent_id = ?");
    read.Bind(1, userId).Bind(2, viewer.id);
    if (viewer.parentId != 0 || !read.Step()) return std::nullopt;
    return read.Text(0);
}

int ServiceStore::AddSubAccount(const Account& viewer, const std::string& userName, const std::string& nick,
                                const std::string& passwordMd5, std::int64_t& newId) {
    if (viewer.parentId != 0 || !UsableUserName(userName) || !UsableText(nick, kMaxNick, true) || !IsMd5(passwordMd5))
        return -1;
    std::lock_guard<std::mutex> guard(lock_);
    auto taken = db_.Prepare("SELECT 1 FROM accounts WHERE user_name = ?");
    taken.Bind(1, userName);
    if (taken.Step()) return -2;
    auto limit = db_.Prepare(
        "SELECT a.max_sub_accounts, (SELECT COUNT(*) FROM accounts s WHERE s.parent_id = a.id) FROM accounts a "
        "WHERE a.id = ?");
    limit.Bind(1, viewer.id);
    if (!limit.Step()) return -1;
    if (limit.Int(1) >= limit.Int(0)) return -3;
    // A sub-account belongs to the same brand as its holder.
    auto insert = db_.Prepare(
        "INSERT INTO accounts(parent_id, user_name, nick, password_md5, oem_id, active_time, max_sub_accounts) "
        "SELECT id, ?, ?, ?, oem_id, ?, 0 FROM accounts WHERE id = ?");
    insert.Bind(1, userName).Bind(2, nick).Bind(3, Upper(passwordMd5)).Bind(4, FormatDateTime(Now())).Bind(5, viewer.id);
    if (!insert.Run() || db_.Changes() == 0) return -1;
    newId = db_.LastInsertId();
    return 1;
}

bool ServiceStore::DeleteSubAccounts(const Account& viewer, const std::vector<std::int64_t>& ids) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ids.empty()) return false;
    for (std::int64_t id : ids)
        if (!IsSubAccountOf(viewer, id)) return false;
    SqliteTransaction transaction(db_);
    for (std::int64_t id : ids) {
        const std::string key = std::to_string(id);
        for (const char* sql : {"DELETE FROM account_cameras WHERE account_id = ", "DELETE FROM account_nodes WHERE account_id = ",
                                "DELETE FROM account_authorities WHERE account_id = ",
                                "DELETE FROM tip_recipients WHERE account_id = ", "DELETE FROM notices WHERE account_id = ",
                                "DELETE FROM accounts WHERE id = "})
            if (!db_.Execute(sql + key)) return false;
    }
    return transaction.Commit();
}

std::optional<std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>>> ServiceStore::SubAccountCameras(
    const Account& viewer, std::int64_t userId) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!IsSubAccountOf(viewer, userId)) return std::nullopt;
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> given;
    auto cameras = db_.Prepare("SELECT camera_id FROM account_cameras WHERE account_id = ? ORDER BY camera_id");
    cameras.Bind(1, userId);
    while (cameras.Step()) given.first.push_back(cameras.Int(0));
    auto nodes = db_.Prepare("SELECT node_id FROM account_nodes WHERE account_id = ? ORDER BY node_id");
    nodes.Bind(1, userId);
    while (nodes.Step()) given.second.push_back(nodes.Int(0));
    return given;
}

bool ServiceStore::SetSubAccountCameras(const Account& viewer, const std::vector<std::int64_t>& userIds,
                                        const std::vector<std::int64_t>& nodeIds,
                                        const std::vector<std::int64_t>& cameraIds) {
    std::lock_guard<std::mutex> guard(lock_);
    if (userIds.empty()) return false;
    for (std::int64_t id : userIds)
        if (!IsSubAccountOf(viewer, id)) return false;
    // Only the holder's own cameras and nodes can be given.
    auto camera = db_.Prepare("SELECT 1 FROM cameras WHERE id = ? AND owner_id = ?");
    for (std::int64_t id : cameraIds) {
        camera.Bind(1, id).Bind(2, viewer.id);
        const bool own = camera.Step();
        camera.Reset();
        if (!own) return false;
    }
    // The permission tree also shows camera groups; a camera checked there names its
    // group as the node. Groups are accepted, only real nodes are kept.
    auto node = db_.Prepare(
        "SELECT 1 FROM nodes WHERE id = ?1 AND owner_id = ?2 UNION ALL "
        "SELECT 0 FROM virtual_nodes WHERE id = ?1 AND owner_id = ?2");
    std::vector<std::int64_t> realNodes;
    for (std::int64_t id : nodeIds) {
        node.Bind(1, id).Bind(2, viewer.id);
        const bool own = node.Step();
        const bool real = own && node.Int(0) == 1;
        node.Reset();
        if (!own) return false;
        if (real) realNodes.push_back(id);
    }
    SqliteTransaction transaction(db_);
    auto giveCamera = db_.Prepare("INSERT OR IGNORE INTO account_cameras(account_id, camera_id) VALUES(?, ?)");
    auto giveNode = db_.Prepare("INSERT OR IGNORE INTO account_nodes(account_id, node_id) VALUES(?, ?)");
    for (std::int64_t user : userIds) {
        const std::string key = std::to_string(user);
        if (!db_.Execute("DELETE FROM account_cameras WHERE account_id = " + key) ||
            !db_.Execute("DELETE FROM account_nodes WHERE account_id = " + key))
            return false;
        for (std::int64_t id : cameraIds)
            if (!giveCamera.Bind(1, user).Bind(2, id).Run()) return false;
        for (std::int64_t id : realNodes)
            if (!giveNode.Bind(1, user).Bind(2, id).Run()) return false;
    }
    return transaction.Commit();
}

bool ServiceStore::SetAuthorities(const Account& viewer, const std::vector<std::int64_t>& userIds,
                                  const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (std::find(kAuthorityNames.begin(), kAuthorityNames.end(), name) == kAuthorityNames.end()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (userIds.empty()) return false;
    for (std::int64_t id : userIds)
        if (!IsSubAccountOf(viewer, id)) return false;
    SqliteTransaction transaction(db_);
    auto give = db_.Prepare("INSERT OR IGNORE INTO account_authorities(account_id, name) VALUES(?, ?)");
    for (std::int64_t user : userIds) {
        if (!db_.Execute("DELETE FROM account_authorities WHERE account_id = " + std::to_string(user))) return false;
        for (const std::string& name : names)
            if (!give.Bind(1, user).Bind(2, name).Run()) return false;
    }
    return transaction.Commit();
}

bool ServiceStore::AddUserGroup(const Account& viewer, const std::string& name, std::int64_t& newId) {
    if (viewer.parentId != 0 || !UsableText(name, kMaxGroupName, false)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    auto taken = db_.Prepare("SELECT 1 FROM user_groups WHERE owner_id = ? AND name = ?");
    taken.Bind(1, viewer.id).Bind(2, name);
    if (taken.Step()) return false;
    auto insert = db_.Prepare("INSERT INTO user_groups(owner_id, name) VALUES(?, ?)");
    if (!insert.Bind(1, viewer.id).Bind(2, name).Run()) return false;
    newId = db_.LastInsertId();
    return true;
}

bool ServiceStore::RenameUserGroup(const Account& viewer, std::int64_t groupId, const std::string& name) {
    if (viewer.parentId != 0 || !UsableText(name, kMaxGroupName, false)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    auto taken = db_.Prepare("SELECT 1 FROM user_groups WHERE owner_id = ? AND name = ? AND id <> ?");
    taken.Bind(1, viewer.id).Bind(2, name).Bind(3, groupId);
    if (taken.Step()) return false;
    auto update = db_.Prepare("UPDATE user_groups SET name = ? WHERE id = ? AND owner_id = ?");
    update.Bind(1, name).Bind(2, groupId).Bind(3, viewer.id);
    return update.Run() && db_.Changes() > 0;
}

bool ServiceStore::DeleteUserGroup(const Account& viewer, std::int64_t groupId) {
    if (viewer.parentId != 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    SqliteTransaction transaction(db_);
    auto drop = db_.Prepare("DELETE FROM user_groups WHERE id = ? AND owner_id = ?");
    if (!drop.Bind(1, groupId).Bind(2, viewer.id).Run() || db_.Changes() == 0) return false;
    // Its members are left without a group.
    auto release = db_.Prepare("UPDATE accounts SET user_group_id = 0 WHERE parent_id = ? AND user_group_id = ?");
    return release.Bind(1, viewer.id).Bind(2, groupId).Run() && transaction.Commit();
}

std::optional<std::string> ServiceStore::ReadTip(const Account& viewer, std::int64_t tipId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto read = db_.Prepare(
        "SELECT t.content, t.sender_id, (SELECT COUNT(*) FROM tip_recipients r WHERE r.tip_id = t.id AND r.account_id = ?2) "
        "FROM tips t WHERE t.id = ?1");
    read.Bind(1, tipId).Bind(2, viewer.id);
    if (!read.Step()) return std::nullopt;
    const bool recipient = read.Int(2) > 0;
    if (!recipient && read.Int(1) != viewer.id) return std::nullopt;
    const std::string content = read.Text(0);
    if (recipient) {
        auto mark = db_.Prepare("UPDATE tip_recipients SET read = 1 WHERE tip_id = ? AND account_id = ?");
        if (!mark.Bind(1, tipId).Bind(2, viewer.id).Run()) return std::nullopt;
    }
    return content;
}

bool ServiceStore::TipRead(const Account& viewer, std::int64_t tipId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto read = db_.Prepare("SELECT read FROM tip_recipients WHERE tip_id = ? AND account_id = ?");
    read.Bind(1, tipId).Bind(2, viewer.id);
    return !read.Step() || read.Int(0) != 0;
}

std::optional<std::vector<std::int64_t>> ServiceStore::SendTip(const Account& viewer,
                                                              const std::vector<std::int64_t>& recipients,
                                                              const std::string& title, const std::string& content) {
    if (viewer.parentId != 0 || !UsableText(title, kMaxTipTitle, false) || TextLength(content) > kMaxTipContent ||
        content.empty() || content.find('\0') != std::string::npos)
        return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::int64_t> to = recipients;
    if (to.empty()) {
        auto all = db_.Prepare("SELECT id FROM accounts WHERE parent_id = ? ORDER BY id");
        all.Bind(1, viewer.id);
        while (all.Step()) to.push_back(all.Int(0));
    }
    std::sort(to.begin(), to.end());
    to.erase(std::unique(to.begin(), to.end()), to.end());
    if (to.empty()) return std::nullopt;
    for (std::int64_t id : to)
        if (!IsSubAccountOf(viewer, id)) return std::nullopt;
    SqliteTransaction transaction(db_);
    auto tip = db_.Prepare("INSERT INTO tips(sender_id, kind_name, title, content, datetime) VALUES(?, '消息', ?, ?, ?)");
    if (!tip.Bind(1, viewer.id).Bind(2, title).Bind(3, content).Bind(4, FormatDateTime(Now())).Run()) return std::nullopt;
    const std::int64_t tipId = db_.LastInsertId();
    auto copy = db_.Prepare("INSERT INTO tip_recipients(tip_id, account_id) VALUES(?, ?)");
    for (std::int64_t id : to)
        if (!copy.Bind(1, tipId).Bind(2, id).Run()) return std::nullopt;
    if (!transaction.Commit()) return std::nullopt;
    return to;
}

std::vector<SubAccountRow> ServiceStore::SubAccounts(const Account& viewer, int start, int count, int& total) {
    std::lock_guard<std::mutex> guard(lock_);
    total = 0;
    std::vector<SubAccountRow> rows;
    if (viewer.parentId != 0) return rows;
    auto counter = db_.Prepare("SELECT COUNT(*) FROM accounts WHERE parent_id = ?");
    counter.Bind(1, viewer.id);
    if (counter.Step()) total = static_cast<int>(counter.Int(0));
    auto read = db_.Prepare(
        "SELECT a.id, a.user_name, a.nick, a.expired_date, a.online_max, a.user_group_id, COALESCE(g.name, '') "
        "FROM accounts a LEFT JOIN user_groups g ON g.id = a.user_group_id "
        "WHERE a.parent_id = ? ORDER BY a.id LIMIT ? OFFSET ?");
    read.Bind(1, viewer.id).Bind(2, std::clamp(count, 0, 1000)).Bind(3, std::max(start, 0));
    while (read.Step())
        rows.push_back({read.Int(0), read.Text(1), read.Text(2), read.Text(3), static_cast<int>(read.Int(4)), read.Int(5),
                        read.Text(6)});
    return rows;
}

std::vector<std::pair<std::int64_t, std::string>> ServiceStore::UserGroups(const Account& viewer) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::pair<std::int64_t, std::string>> groups;
    auto read = db_.Prepare("SELECT id, name FROM user_groups WHERE owner_id = ? ORDER BY id");
    read.Bind(1, viewer.HolderId());
    while (read.Step()) groups.emplace_back(read.Int(0), read.Text(1));
    return groups;
}

bool ServiceStore::AddFeedback(const Account& viewer, const std::string& content) {
    if (content.empty()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    auto insert = db_.Prepare("INSERT INTO feedback(account_id, content, created) VALUES(?, ?, ?)");
    insert.Bind(1, viewer.id).Bind(2, content).Bind(3, FormatDateTime(Now()));
    return insert.Run();
}

std::vector<TipRow> ServiceStore::Tips(const Account& viewer) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<TipRow> tips;
    auto read = db_.Prepare(
        "SELECT DISTINCT t.id, t.kind_name, t.title, t.datetime FROM tips t "
        "LEFT JOIN tip_recipients r ON r.tip_id = t.id "
        "WHERE r.account_id = ? OR t.sender_id = ? ORDER BY t.datetime DESC, t.id DESC");
    read.Bind(1, viewer.id).Bind(2, viewer.id);
    while (read.Step()) tips.push_back({read.Int(0), read.Text(1), read.Text(2), read.Text(3)});
    return tips;
}

bool ServiceStore::SaveAccount(const Account& viewer, std::int64_t userId,
                               const std::map<std::string, std::string>& fields) {
    std::lock_guard<std::mutex> guard(lock_);
    if (userId != viewer.id) {
        auto child = db_.Prepare("SELECT 1 FROM accounts WHERE id = ? AND parent_id = ?");
        child.Bind(1, userId).Bind(2, viewer.id);
        if (!child.Step()) return false;
    }
    // Check every value before changing anything.
    auto field = [&](const char* key) -> const std::string* {
        auto it = fields.find(key);
        return it == fields.end() ? nullptr : &it->second;
    };
    const std::string* password = field("password");
    if (password && !IsMd5(*password)) return false;
    const std::string* onlineMax = field("onlineMax");
    if (onlineMax && !onlineMax->empty() && !WholeNumber(*onlineMax)) return false;
    const std::string* group = field("userGroupId");
    if (group && !group->empty() && !WholeNumber(*group)) return false;
    // Dates come with any one separator ("2014/05/01"); 1970-01-01 clears the expiry.
    std::optional<std::string> expiry;
    if (const std::string* text = field("expiredDate")) {
        expiry = text->empty() ? std::string() : NormaliseDate(*text).value_or("?");
        if (*expiry == "?") return false;
        if (*expiry == "1970-01-01") expiry = std::string();
    }
    const std::string* expired = expiry ? &*expiry : nullptr;
    const std::string* nick = field("nick");
    if (nick && !UsableText(*nick, kMaxNick, true)) return false;
    if (group && !group->empty() && WholeNumber(*group).value_or(0) != 0) {
        auto owned = db_.Prepare("SELECT 1 FROM user_groups WHERE id = ? AND owner_id = ?");
        owned.Bind(1, *WholeNumber(*group)).Bind(2, viewer.id);
        if (!owned.Step()) return false;
    }
    // The holder changes only its own password here.
    const bool own = userId == viewer.id;
    // A sub-account may be renamed, to a name nobody else has.
    const std::string* rename = own ? nullptr : field("userName");
    if (rename) {
        if (!UsableUserName(*rename)) return false;
        auto taken = db_.Prepare("SELECT 1 FROM accounts WHERE user_name = ? AND id <> ?");
        taken.Bind(1, *rename).Bind(2, userId);
        if (taken.Step()) return false;
    }

    SqliteTransaction transaction(db_);
    auto set = [&](const char* sql, auto value) {
        auto update = db_.Prepare(sql);
        update.Bind(1, value).Bind(2, userId);
        return update.Run();
    };
    bool ok = true;
    if (password) ok = ok && set("UPDATE accounts SET password_md5 = ? WHERE id = ?", Upper(*password));
    if (!own) {
        if (rename) ok = ok && set("UPDATE accounts SET user_name = ? WHERE id = ?", *rename);
        if (nick) ok = ok && set("UPDATE accounts SET nick = ? WHERE id = ?", *nick);
        if (expired) ok = ok && set("UPDATE accounts SET expired_date = ? WHERE id = ?", *expired);
        if (onlineMax)
            ok = ok && set("UPDATE accounts SET online_max = ? WHERE id = ?", WholeNumber(*onlineMax).value_or(0));
        if (group) ok = ok && set("UPDATE accounts SET user_group_id = ? WHERE id = ?", WholeNumber(*group).value_or(0));
    }
    return ok && transaction.Commit();
}

}  // namespace sim
