#include "mainwin/tree_refresh.h"

#include "app/app_instance.h"
#include "app/camera_hooks.h"
#include "app/log_file.h"
#include "app/login_sequence.h"
#include "control/control_client.h"

namespace mainwin {

void HandleRefreshTree(platform::Message&, const RefreshEnvironment& environment) {
    const bool ok = environment.refresh && environment.refresh();
    if (!ok) app::LogWrite("tree refresh failed");
    if (environment.postNotify) environment.postNotify(platform::Message(kRefreshDone, ok ? 0 : 1, 0));
}

void RegisterRefreshTask(app::CAppInteance& application) {
    RefreshEnvironment environment;
    environment.refresh = [&application] {
        // Held for the whole fetch: a switch of user meanwhile ends the wait instead
        // of freeing the client under it.
        const auto client = control::ControlClient::Current();
        return client && app::RefreshItemTable(*client, application.Items(), app::InstalledCameraHooks().isLive);
    };
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    application.Dispatcher().Register(kTaskRefreshTree,
                                      [environment](platform::Message& m) { HandleRefreshTree(m, environment); });
}

std::vector<CellAfterRefresh> MatchCellsAfterRefresh(
    const std::vector<std::pair<int, control::ItemPtr>>& cells,
    const std::function<control::ItemPtr(const std::string& cameraId)>& findInTree) {
    std::vector<CellAfterRefresh> result;
    for (const auto& [cell, old] : cells) {
        if (!old) continue;
        CellAfterRefresh entry;
        entry.cell = cell;
        entry.newRow = findInTree ? findInTree(old->id) : nullptr;
        if (entry.newRow && entry.newRow != old) {
            entry.newRow->live = old->live.load();
            entry.newRow->listening = old->listening.load();
            entry.newRow->recording = old->recording.load();
            entry.newRow->talking = old->talking.load();
            if (entry.newRow->forwardingIp.empty()) {
                entry.newRow->forwardingIp = old->forwardingIp;
                entry.newRow->forwardingPort = old->forwardingPort;
            }
        }
        result.push_back(std::move(entry));
    }
    return result;
}

}  // namespace mainwin
