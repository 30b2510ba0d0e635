#include "mainwin/main_win_environment.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

#include "app/app_instance.h"
#include "app/media_tasks.h"
#include "control/control_client.h"
#include "mainwin/reply_queue.h"
#include "media/camera_registry.h"
#include "transport/received_bytes.h"

namespace mainwin {

MainWinEnvironment MainWinEnvironment::Application() {
    MainWinEnvironment env;
    env.postTask = [](platform::Message message) { return app::CAppInteance::PostTaskIfAlive(std::move(message)); };
    env.sendRequest = [](int msgType, const Params& params) -> std::int32_t {
        const auto client = control::ControlClient::Current();
        return client ? client->SendGenericRequest(msgType, params) : 0;
    };
    env.requestAuthorityList = [](std::string& out) {
        const auto client = control::ControlClient::Current();
        return client && client->RequestAuthorityList(out);
    };
    env.installReplyQueue = [](ReplyQueue* queue) {
        const auto client = control::ControlClient::Current();
        if (!client) return;
        if (queue)
            client->InstallNotificationCallback(queue->Callback(), queue);
        else
            client->InstallNotificationCallback(nullptr, nullptr);
    };
    env.setNotifyWindow = [](platform::WindowHandle window) { app::CAppInteance::Instance().SetNotifyWindow(window); };
    env.rows = [] { return app::CAppInteance::Instance().Items().Snapshot(); };
    env.openUrl = [](const std::string& url) {
        return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(url)));
    };
    env.wallEnvironment = [] { return wall::WallEnvironment::Application(); };
    env.cellSessionConnected = [](int cell) {
        if (cell < 0 || !media::CameraRegistry::Exists()) return false;
        auto camera = media::CameraRegistry::Instance().GetOrCreate(cell);
        return camera && camera->IsOpen() && camera->Link().IsConnected();
    };
    env.takeReceivedBytes = [] { return transport::TakeReceivedBytes(); };
    env.applyRecordingSettings = [](const record::RecordingSettings& settings) { app::ApplyRecordingSettings(settings); };
    env.chooseFolder = [](const std::string& prompt, const std::string& start) {
        return QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(prompt), QString::fromStdString(start),
                                                 QFileDialog::ShowDirsOnly)
            .toStdString();
    };
    return env;
}

}  // namespace mainwin
