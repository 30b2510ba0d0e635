#pragma once
// The alarm search task (thread message 1036): asks the control server for the alarms
// of a camera or node in a time window and posts the rows back to the notify window
// as one batch (1036, lParam 1) or a failure (1036 without rows, lParam 0).

#include <functional>
#include <string>

#include "control/control_types.h"
#include "platform/message.h"

namespace session {
class CAppInteance;
}

namespace tasks {

// The record of thread message 1036; owned by the task from then on.
struct AlarmSearchRequest {
    std::string startTime;
    std::string endTime;
    std::string nodeId;    // empty: every node
    std::string cameraId;  // empty: every camera of the node
};

struct AlarmTaskEnvironment {
    std::function<bool(const AlarmSearchRequest&, control::AlarmSearchResult&)> search;
    std::function<bool(platform::Message)> postNotify;
};

void HandleAlarmSearch(platform::Message& message, const AlarmTaskEnvironment& environment);
void RegisterAlarmTasks(session::CAppInteance& application);

}  // namespace tasks
