#include "tasks/alarm_tasks.h"

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "control/control_client.h"

namespace tasks {

void HandleAlarmSearch(platform::Message& message, const AlarmTaskEnvironment& environment) {
    const auto* request = platform::PayloadAs<AlarmSearchRequest>(message);
    if (!request || !environment.postNotify) return;
    control::AlarmSearchResult result;
    const bool found = environment.search && environment.search(*request, result);
    if (!found) {
        environment.postNotify(platform::Message(core::kAlarmBatch, 0, 0));
        return;
    }
    environment.postNotify(platform::Message(core::kAlarmBatch, 0, 1, platform::MakePayload(std::move(result))));
}

void RegisterAlarmTasks(session::CAppInteance& application) {
    AlarmTaskEnvironment environment;
    environment.search = [](const AlarmSearchRequest& request, control::AlarmSearchResult& out) {
        const auto client = control::ControlClient::Current();  // held while the search waits
        return client && client->SearchAlarms(request.startTime, request.endTime, request.nodeId, request.cameraId, out);
    };
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    application.Dispatcher().Register(core::kTaskAlarmSearch,
                                      [environment](platform::Message& m) { HandleAlarmSearch(m, environment); });
}

}  // namespace tasks
