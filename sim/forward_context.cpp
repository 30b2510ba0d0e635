#include "sim/forward_context.h"

#include <algorithm>
#include <cmath>

namespace sim {

StreamSettings StreamSettingsTable::Get(const std::string& cameraId, const CameraVideo& defaults,
                                        std::uint64_t* generation) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(cameraId);
    if (it == entries_.end()) {
        if (generation) *generation = 0;
        StreamSettings settings;
        settings.width = defaults.width;
        settings.height = defaults.height;
        settings.frameRate = defaults.frameRate;
        return settings;
    }
    if (generation) *generation = it->second.generation;
    return it->second.settings;
}

void StreamSettingsTable::Set(const std::string& cameraId, const StreamSettings& settings) {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[cameraId];
    entry.settings = settings;
    ++entry.generation;
}

bool CameraHeads::Command(const std::string& cameraId, int action, int speed, Clock::time_point now) {
    const bool known = (action >= kPtzUp && action <= kPtzZoomOut) || action == kPtzStop;
    std::lock_guard lock(mutex_);
    received_[cameraId].emplace_back(action, speed);
    if (!known) return false;
    Head& head = heads_[cameraId];
    Advance(head, now);
    head.speed = std::clamp(speed, 1, 10);
    switch (action) {
        case kPtzIrisOpen:
        case kPtzIrisClose:
            // The iris opens or closes one step per press; it is not a move.
            head.view.iris += action == kPtzIrisOpen ? 1 : -1;
            head.view.Clamp();
            head.action = 0;
            break;
        case kPtzFocusFar:
        case kPtzFocusNear:
        case kPtzStop:
            head.action = 0;  // a drawn scene is always in focus
            break;
        default:
            head.action = action;
            break;
    }
    return true;
}

CameraHeads::State CameraHeads::Read(const std::string& cameraId, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto it = heads_.find(cameraId);
    if (it == heads_.end()) return {};
    Advance(it->second, now);
    return {it->second.view, it->second.action != 0};
}

std::vector<std::pair<int, int>> CameraHeads::Received(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    auto it = received_.find(cameraId);
    return it == received_.end() ? std::vector<std::pair<int, int>>{} : it->second;
}

void CameraHeads::Advance(Head& head, Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - head.since).count();
    head.since = now;
    if (head.action == 0 || seconds <= 0) return;
    // At speed 3 a pan crosses a fifth of the scene a second; faster and slower in
    // proportion. Zoomed in, the same motion covers less of the scene.
    const double rate = head.speed / 3.0;
    const double step = 0.2 * rate * seconds / head.view.zoom;
    SceneView& view = head.view;
    switch (head.action) {
        case kPtzUp: view.centerY -= step; break;
        case kPtzDown: view.centerY += step; break;
        case kPtzLeft: view.centerX -= step; break;
        case kPtzRight: view.centerX += step; break;
        case kPtzZoomIn: view.zoom *= std::pow(1.6, rate * seconds); break;
        case kPtzZoomOut: view.zoom /= std::pow(1.6, rate * seconds); break;
        default: break;
    }
    view.Clamp();
}

std::shared_ptr<const AudioLoop> VoiceLoops::Get(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    auto& loop = loops_[cameraId];
    if (!loop) loop = MakeVoiceLoop(cameraId);
    return loop;
}

void FaultSwitches::Set(std::set<std::string>& set, const std::string& cameraId, bool on) {
    std::lock_guard lock(mutex_);
    if (on)
        set.insert(cameraId);
    else
        set.erase(cameraId);
    any_ = !stalled_.empty() || !malformed_.empty() || openRefusal_.has_value();
}

bool FaultSwitches::Has(const std::set<std::string>& set, const std::string& cameraId) {
    if (!any_) return false;
    std::lock_guard lock(mutex_);
    return set.count("") > 0 || set.count(cameraId) > 0;
}

void FaultSwitches::SetOpenRefusal(std::optional<int> result) {
    std::lock_guard lock(mutex_);
    openRefusal_ = result;
    any_ = !stalled_.empty() || !malformed_.empty() || openRefusal_.has_value();
}

std::optional<int> FaultSwitches::OpenRefusal() {
    std::lock_guard lock(mutex_);
    return openRefusal_;
}

void FaultSwitches::Clear() {
    std::lock_guard lock(mutex_);
    stalled_.clear();
    malformed_.clear();
    openRefusal_.reset();
    any_ = false;
}

void LinkMarks::CommandHandled(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    ++marks_[cameraId].commands;
}

void LinkMarks::StreamStep(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    Marks& marks = marks_[cameraId];
    marks.commandsStreamed = marks.commands;
    ++marks.streamSteps;
}

void LinkMarks::VideoSent(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    ++marks_[cameraId].videoFrames;
}

void LinkMarks::AudioSent(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    ++marks_[cameraId].audioPackets;
}

LinkMarks::Marks LinkMarks::Get(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    auto it = marks_.find(cameraId);
    return it == marks_.end() ? Marks{} : it->second;
}

}  // namespace sim
