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
        return control::ControlClient::Exists() ? control::ControlClient::Instance().SendGenericRequest(msgType, params) : 0;
    };
    env.requestAuthorityList = [](std::string& out) {
        return control::ControlClient::Exists() && control::ControlClient::Instance().RequestAuthorityList(out);
    };
    env.installReplyQueue = [](ReplyQueue* queue) {
        if (!control::ControlClient::Exists()) return;
        if (queue)
            control::ControlClient::Instance().InstallNotificationCallback(queue->Callback(), queue);
        else
            control::ControlClient::Instance().InstallNotificationCallback(nullptr, nullptr);
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
