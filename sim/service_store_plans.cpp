// Viewing-plan templates: weekly periods in which a camera may be watched. A camera
// with a template refuses live opening outside its periods (StreamingCameraInfo).
#include <algorithm>
#include <cctype>

#include "sim/service_store.h"

namespace sim {
namespace {

constexpr std::size_t kMaxTemplateName = 14;
constexpr std::size_t kMaxTemplateDescription = 96;
constexpr int kPeriodsPerDay = 8;

bool IsClock(const std::string& text) {
    if (text.size() != 5 || text[2] != ':') return false;
    for (std::size_t i : {0, 1, 3, 4})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return std::atoi(text.substr(0, 2).c_str()) <= 23 && std::atoi(text.substr(3, 2).c_str()) <= 59;
}

// Well-formed periods: a known day, start before end, at most eight a day, and no two
// of a day overlapping or touching (the editor refuses those too).
bool UsablePeriods(const std::vector<ServiceStore::PlanPeriod>& periods) {
    if (periods.empty()) return false;
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const auto& p = periods[i];
        if (p.day < 1 || p.day > 7 || !IsClock(p.start) || !IsClock(p.end) || !(p.start < p.end)) return false;
        int sameDay = 0;
        for (std::size_t j = 0; j < periods.size(); ++j) {
            const auto& q = periods[j];
            if (q.day != p.day) continue;
            if (++sameDay > kPeriodsPerDay) return false;
            if (j != i && p.start <= q.end && q.start <= p.end) return false;
        }
    }
    return true;
}

}  // namespace

std::vector<ServiceStore::PlanTemplate> ServiceStore::Templates(const Account& viewer, int start, int count, int& total) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<PlanTemplate> plans;
    auto counter = db_.Prepare("SELECT COUNT(*) FROM plan_templates WHERE owner_id = ?");
    counter.Bind(1, viewer.HolderId());
    total = counter.Step() ? static_cast<int>(counter.Int(0)) : 0;
    auto read = db_.Prepare(
        "SELECT id, name, description FROM plan_templates WHERE owner_id = ? ORDER BY id LIMIT ? OFFSET ?");
    read.Bind(1, viewer.HolderId()).Bind(2, std::clamp(count, 0, 1000)).Bind(3, std::max(start, 0));
    while (read.Step()) plans.push_back({read.Int(0), read.Text(1), read.Text(2), {}});
    return plans;
}

std::optional<ServiceStore::PlanTemplate> ServiceStore::Template(const Account& viewer, std::int64_t templateId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto read = db_.Prepare("SELECT id, name, description FROM plan_templates WHERE id = ? AND owner_id = ?");
    read.Bind(1, templateId).Bind(2, viewer.HolderId());
    if (!read.Step()) return std::nullopt;
    PlanTemplate plan{read.Int(0), read.Text(1), read.Text(2), {}};
    auto periods = db_.Prepare(
        "SELECT day_index, start_time, end_time FROM plan_periods WHERE template_id = ? ORDER BY day_index, slot");
    periods.Bind(1, templateId);
    while (periods.Step())
        plan.periods.push_back({static_cast<int>(periods.Int(0)), periods.Text(1), periods.Text(2)});
    return plan;
}

std::optional<std::int64_t> ServiceStore::SaveTemplate(const Account& viewer, const PlanTemplate& plan) {
    const bool blank = std::all_of(plan.name.begin(), plan.name.end(), [](char c) { return c == ' '; });
    if (viewer.parentId != 0 || blank || TextLength(plan.name) > kMaxTemplateName ||
        TextLength(plan.description) > kMaxTemplateDescription || !UsablePeriods(plan.periods))
        return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    SqliteTransaction transaction(db_);
    std::int64_t id = plan.id;
    if (id != 0) {
        auto update = db_.Prepare("UPDATE plan_templates SET name = ?, description = ? WHERE id = ? AND owner_id = ?");
        update.Bind(1, plan.name).Bind(2, plan.description).Bind(3, id).Bind(4, viewer.id);
        if (!update.Run() || db_.Changes() == 0) return std::nullopt;
        auto clear = db_.Prepare("DELETE FROM plan_periods WHERE template_id = ?");
        if (!clear.Bind(1, id).Run()) return std::nullopt;
    } else {
        auto insert = db_.Prepare("INSERT INTO plan_templates(owner_id, name, description) VALUES(?, ?, ?)");
        if (!insert.Bind(1, viewer.id).Bind(2, plan.name).Bind(3, plan.description).Run()) return std::nullopt;
        id = db_.LastInsertId();
    }
    auto period = db_.Prepare(
        "INSERT INTO plan_periods(template_id, day_index, slot, start_time, end_time) VALUES(?, ?, ?, ?, ?)");
    int slots[8] = {};
    for (const PlanPeriod& p : plan.periods)
        if (!period.Bind(1, id).Bind(2, p.day).Bind(3, slots[p.day]++).Bind(4, p.start).Bind(5, p.end).Run())
            return std::nullopt;
    if (!transaction.Commit()) return std::nullopt;
    return id;
}

bool ServiceStore::DeleteTemplates(const Account& viewer, const std::vector<std::int64_t>& ids) {
    if (viewer.parentId != 0 || ids.empty()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    SqliteTransaction transaction(db_);
    auto owned = db_.Prepare("DELETE FROM plan_templates WHERE id = ? AND owner_id = ?");
    auto periods = db_.Prepare("DELETE FROM plan_periods WHERE template_id = ?");
    auto cameras = db_.Prepare("UPDATE cameras SET template_id = 0 WHERE template_id = ?");
    for (std::int64_t id : ids) {
        if (!owned.Bind(1, id).Bind(2, viewer.id).Run() || db_.Changes() == 0) return false;
        if (!periods.Bind(1, id).Run() || !cameras.Bind(1, id).Run()) return false;
    }
    return transaction.Commit();
}

bool ServiceStore::AssignTemplate(const Account& viewer, std::int64_t cameraId, std::int64_t templateId) {
    if (viewer.parentId != 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (templateId != 0) {
        auto owned = db_.Prepare("SELECT 1 FROM plan_templates WHERE id = ? AND owner_id = ?");
        owned.Bind(1, templateId).Bind(2, viewer.id);
        if (!owned.Step()) return false;
    }
    auto update = db_.Prepare("UPDATE cameras SET template_id = ? WHERE id = ? AND owner_id = ?");
    update.Bind(1, templateId).Bind(2, cameraId).Bind(3, viewer.id);
    return update.Run() && db_.Changes() > 0;
}

std::optional<std::int64_t> ServiceStore::CameraTemplate(const Account& viewer, std::int64_t cameraId) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!CanSee(viewer, cameraId)) return std::nullopt;
    auto read = db_.Prepare(
        "SELECT c.template_id FROM cameras c JOIN plan_templates t ON t.id = c.template_id WHERE c.id = ?");
    read.Bind(1, cameraId);
    return read.Step() ? read.Int(0) : 0;
}

}  // namespace sim
