// The proxy's answers to the camera-group panel (30, 31, 33, 36, 37, 47, 48, 49) and
// the play-plan panel (52 to 58). Only an account holder changes anything; a
// sub-account reads its holder's templates and the plans of cameras it may see.
#include <json/json.h>

#include "sim/control_service.h"

namespace sim {
namespace {

Json::Value StatusOf(int status) {
    Json::Value params(Json::objectValue);
    params["status"] = status;
    return params;
}

// Paging values; odd ones read as the defaults.
int PageValue(const std::string& text, int fallback) {
    auto value = ParseId(text);
    return value && *value <= 1000000 ? static_cast<int>(*value) : fallback;
}

std::vector<std::string> SplitItems(const std::string& text) {
    std::vector<std::string> items;
    std::size_t begin = 0;
    while (items.size() < 10000) {
        const std::size_t end = text.find(';', begin);
        items.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return items;
}

}  // namespace

ControlService::Replies ControlService::CreateGroup(const Account& viewer, const control::ControlMessage& request) {
    const std::string parentText = request.Param("parentVirtualNodeId");
    auto parent = parentText.empty() ? std::optional<std::int64_t>(0) : ParseId(parentText);
    auto id = parent ? store_.AddGroup(viewer, request.Param("virtualNodeName"), *parent) : std::nullopt;
    Json::Value reply = StatusOf(id ? 1 : -1);
    if (id) reply["virtualNodeId"] = std::to_string(*id);
    return {reply};
}

ControlService::Replies ControlService::DeleteGroup(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("virtualNodeId"));
    return {StatusOf(id && store_.DeleteGroup(viewer, *id) ? 1 : -1)};
}

ControlService::Replies ControlService::EditGroup(const Account& viewer, const control::ControlMessage& request) {
    // No parent sent: the dialog's "none", so the group goes to the top level.
    const std::string parentText = request.Param("parentVirtualNodeId");
    auto parent = parentText.empty() ? std::optional<std::int64_t>(0) : ParseId(parentText);
    auto ids = ParseIdList(request.Param("virtualNodeIdList"));
    const auto names = SplitItems(request.Param("virtualNodeNameList"));
    if (!parent || !ids || ids->empty() || ids->size() != names.size()) return {StatusOf(-1)};
    bool ok = true;
    for (std::size_t i = 0; i < ids->size(); ++i) ok = store_.EditGroup(viewer, (*ids)[i], names[i], parent) && ok;
    return {StatusOf(ok ? 1 : -1)};
}

ControlService::Replies ControlService::AddAreas(const Account& viewer, const control::ControlMessage& request) {
    auto group = ParseId(request.Param("parentVirtualNodeId"));
    auto nodes = ParseIdList(request.Param("nodeIdList"));
    if (!group || !nodes || nodes->empty()) return {StatusOf(-1)};
    return {StatusOf(store_.AddAreasToGroup(viewer, *group, *nodes) ? 1 : -1)};
}

ControlService::Replies ControlService::Areas(const Account& viewer) {
    std::vector<std::string> ids, names, active;
    for (const ServiceStore::Area& area : store_.Areas(viewer)) {
        ids.push_back(std::to_string(area.id));
        names.push_back(area.name);
        active.push_back(area.active ? "1" : "0");
    }
    Json::Value reply = StatusOf(1);
    reply["nodeIdList"] = JoinItems(ids);
    reply["nodeNameList"] = JoinItems(names);
    reply["activeList"] = JoinItems(active);
    return {reply};
}

ControlService::Replies ControlService::DeleteCamera(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("cameraId"));
    return {StatusOf(id ? store_.DeleteCamera(viewer, *id) : -1)};
}

ControlService::Replies ControlService::RenameCamera(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("cameraId"));
    return {StatusOf(id && store_.RenameCamera(viewer, *id, request.Param("cameraName")) ? 1 : -1)};
}

ControlService::Replies ControlService::DeleteArea(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("nodeId"));
    return {StatusOf(id ? store_.DeleteArea(viewer, *id) : -1)};
}

ControlService::Replies ControlService::Templates(const Account& viewer, const control::ControlMessage& request) {
    int total = 0;
    const auto plans = store_.Templates(viewer, PageValue(request.Param("start"), 0),
                                        PageValue(request.Param("count"), 100), total);
    std::vector<std::string> ids, names, descriptions;
    for (const auto& plan : plans) {
        ids.push_back(std::to_string(plan.id));
        names.push_back(plan.name);
        descriptions.push_back(plan.description);
    }
    Json::Value reply = StatusOf(1);
    reply["templateIdList"] = JoinItems(ids);
    reply["templateNameList"] = JoinItems(names);
    reply["templateDescriptionList"] = JoinItems(descriptions);
    reply["total"] = std::to_string(total);
    return {reply};
}

namespace {
void PutPeriods(Json::Value& reply, const std::vector<ServiceStore::PlanPeriod>& periods) {
    std::vector<std::string> days, starts, ends;
    for (const auto& period : periods) {
        days.push_back(std::to_string(period.day));
        starts.push_back(period.start);
        ends.push_back(period.end);
    }
    reply["planIndexList"] = JoinItems(days);
    reply["planStartTimeList"] = JoinItems(starts);
    reply["planEndTimeList"] = JoinItems(ends);
}
}  // namespace

ControlService::Replies ControlService::TemplatePeriods(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("templateId"));
    auto plan = id ? store_.Template(viewer, *id) : std::nullopt;
    if (!plan) return {StatusOf(-1)};
    const int total = static_cast<int>(plan->periods.size());
    const int start = std::min(PageValue(request.Param("start"), 0), total);
    const int count = std::min(PageValue(request.Param("count"), 500), total - start);
    std::vector<ServiceStore::PlanPeriod> page(plan->periods.begin() + start, plan->periods.begin() + start + count);
    Json::Value reply = StatusOf(1);
    PutPeriods(reply, page);
    std::vector<std::string> periodIds, periodNames;
    for (int i = 0; i < count; ++i) {
        periodIds.push_back(std::to_string(start + i + 1));
        periodNames.push_back(plan->name);
    }
    reply["planIdList"] = JoinItems(periodIds);
    reply["planNameList"] = JoinItems(periodNames);
    reply["total"] = std::to_string(total);
    return {reply};
}

ControlService::Replies ControlService::SaveTemplate(const Account& viewer, const control::ControlMessage& request) {
    ServiceStore::PlanTemplate plan;
    if (request.params.count("templateId")) {
        auto id = ParseId(request.Param("templateId"));
        if (!id || *id == 0) return {StatusOf(-1)};
        plan.id = *id;
    }
    plan.name = request.Param("templateName");
    plan.description = request.Param("templateDescription");
    const auto days = SplitItems(request.Param("planIndexList"));
    const auto starts = SplitItems(request.Param("planStartTimeList"));
    const auto ends = SplitItems(request.Param("planEndTimeList"));
    if (days.size() != starts.size() || days.size() != ends.size()) return {StatusOf(-1)};
    for (std::size_t i = 0; i < days.size(); ++i) {
        auto day = ParseId(days[i]);
        if (!day || *day > 7) return {StatusOf(-1)};
        plan.periods.push_back({static_cast<int>(*day), starts[i], ends[i]});
    }
    auto id = store_.SaveTemplate(viewer, plan);
    Json::Value reply = StatusOf(id ? 1 : -1);
    if (id) reply["templateId"] = std::to_string(*id);
    return {reply};
}

ControlService::Replies ControlService::AssignTemplate(const Account& viewer, const control::ControlMessage& request) {
    auto camera = ParseId(request.Param("cameraId"));
    // Without a template the camera's plan is removed.
    const bool assign = request.params.count("templateId") != 0;
    auto plan = assign ? ParseId(request.Param("templateId")) : std::optional<std::int64_t>(0);
    if (!camera || !plan || (assign && *plan == 0)) return {StatusOf(-1)};
    return {StatusOf(store_.AssignTemplate(viewer, *camera, *plan) ? 1 : -1)};
}

ControlService::Replies ControlService::CameraTemplate(const Account& viewer, const control::ControlMessage& request) {
    auto camera = ParseId(request.Param("cameraId"));
    auto planId = camera ? store_.CameraTemplate(viewer, *camera) : std::nullopt;
    if (!planId) return {StatusOf(-1)};
    auto plan = *planId != 0 ? store_.Template(viewer, *planId) : std::nullopt;
    if (!plan) return {StatusOf(0)};  // the camera has no template
    Json::Value reply = StatusOf(1);
    reply["templateId"] = std::to_string(plan->id);
    reply["templateName"] = plan->name;
    reply["templateDescription"] = plan->description;
    PutPeriods(reply, plan->periods);
    return {reply};
}

ControlService::Replies ControlService::DeleteTemplates(const Account& viewer, const control::ControlMessage& request) {
    auto ids = ParseIdList(request.Param("templateIdList"));
    return {StatusOf(ids && store_.DeleteTemplates(viewer, *ids) ? 1 : -1)};
}

ControlService::Replies ControlService::CameraHasTemplate(const Account& viewer, const control::ControlMessage& request) {
    auto camera = ParseId(request.Param("cameraId"));
    auto planId = camera ? store_.CameraTemplate(viewer, *camera) : std::nullopt;
    Json::Value reply = StatusOf(planId ? 1 : -1);
    reply["count"] = planId && *planId != 0 ? "1" : "0";
    return {reply};
}

}  // namespace sim
