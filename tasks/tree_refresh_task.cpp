#include "tasks/tree_refresh_task.h"

#include "core/message_ids.h"
#include "session/app_instance.h"
#include "session/camera_hooks.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "control/control_client.h"

namespace tasks {

void HandleRefreshTree(platform::Message&, const RefreshEnvironment& environment) {
    const bool ok = environment.refresh && environment.refresh();
    if (!ok) core::LogWrite("tree refresh failed");
    if (environment.postNotify) environment.postNotify(platform::Message(core::kTreeRefreshed, ok ? 0 : 1, 0));
}

void RegisterRefreshTask(session::CAppInteance& application) {
    RefreshEnvironment environment;
    environment.refresh = [&application] {
        // Held for the whole fetch: a switch of user meanwhile ends the wait instead
        // of freeing the client under it.
        const auto client = control::ControlClient::Current();
        return client && session::RefreshItemTable(*client, application.Items(), session::InstalledCameraHooks().isLive);
    };
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    application.Dispatcher().Register(core::kTaskRefreshTree,
                                      [environment](platform::Message& m) { HandleRefreshTree(m, environment); });
}

}  // namespace tasks
