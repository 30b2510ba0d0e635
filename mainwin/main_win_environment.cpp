#include "mainwin/main_win_environment.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QUrl>

#include "app/app_instance.h"
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
    env.shellOpen = [](const std::string& file, const std::string& parameters) {
        // Above 32 means success, as the shell reports it.
        if (parameters.empty()) return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(file))) ? 33 : 2;
        return QProcess::startDetached(QString::fromStdString(file), {QString::fromStdString(parameters)}) ? 33 : 2;
    };
    env.wallEnvironment = [] { return wall::WallEnvironment::Application(); };
    env.cellSessionConnected = [](int cell) {
        if (cell < 0 || !media::CameraRegistry::Exists()) return false;
        auto camera = media::CameraRegistry::Instance().GetOrCreate(cell);
        return camera && camera->IsOpen() && camera->Link().IsConnected();
    };
    env.takeReceivedBytes = [] { return transport::TakeReceivedBytes(); };
    env.chooseFolder = [](const std::string& prompt, const std::string& start) {
        return QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(prompt), QString::fromStdString(start),
                                                 QFileDialog::ShowDirsOnly)
            .toStdString();
    };
    return env;
}

}  // namespace mainwin
