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

}  // namespace

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
    const std::string* expired = field("expiredDate");
    if (expired && !expired->empty() && !ParseDateTime(*expired + " 00:00:00")) return false;
    // The holder changes only its own password here.
    const bool own = userId == viewer.id;

    SqliteTransaction transaction(db_);
    auto set = [&](const char* sql, auto value) {
        auto update = db_.Prepare(sql);
        update.Bind(1, value).Bind(2, userId);
        return update.Run();
    };
    bool ok = true;
    if (password) ok = ok && set("UPDATE accounts SET password_md5 = ? WHERE id = ?", Upper(*password));
    if (!own) {
        if (const std::string* nick = field("nick")) ok = ok && set("UPDATE accounts SET nick = ? WHERE id = ?", *nick);
        if (expired) ok = ok && set("UPDATE accounts SET expired_date = ? WHERE id = ?", *expired);
        if (onlineMax)
            ok = ok && set("UPDATE accounts SET online_max = ? WHERE id = ?", WholeNumber(*onlineMax).value_or(0));
        if (group) ok = ok && set("UPDATE accounts SET user_group_id = ? WHERE id = ?", WholeNumber(*group).value_or(0));
    }
    return ok && transaction.Commit();
}

}  // namespace sim
