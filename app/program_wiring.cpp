#include "app/program_wiring.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>

#include "control/control_client.h"
#include "core/app_config.h"
#include "mainwin/main_win.h"
#include "mainwin/reply_queue.h"
#include "media/camera_registry.h"
#include "media/memory_return.h"
#include "playback/playback_engine.h"
#include "record/recording_settings.h"
#include "session/app_instance.h"
#include "session/camera_hooks.h"
#include "session/login_sequence.h"
#include "tasks/alarm_tasks.h"
#include "tasks/live_tasks.h"
#include "tasks/media_tasks.h"
#include "tasks/playback_tasks.h"
#include "tasks/tree_refresh_task.h"
#include "tasks/video_param_tasks.h"
#include "transport/received_bytes.h"

namespace app {

void InstallProgramWiring() {
    // Before any camera: a stream's large buffers go back to the system when freed.
    media::MapLargeStreamBuffers();
    media::CameraEnvironment::InstallApplication(ProgramCameraEnvironment());
    wall::WallEnvironment::InstallApplication(ProgramWallEnvironment());
    session::CameraHooks hooks;
    hooks.createRegistry = [] { media::CameraRegistry::Instance(); };
    hooks.isLive = [](const std::string& cameraId) {
        auto camera = media::CameraRegistry::Instance().FindById(cameraId);
        return camera && camera->IsOpen();
    };
    hooks.destroyAll = [] { media::CameraRegistry::DestroyAll(); };
    hooks.cellWindow = [](int cell) -> std::uint64_t {
        return media::CameraRegistry::Exists() ? media::CameraRegistry::Instance().GetOrCreate(cell)->DisplayWindow() : 0;
    };
    session::InstallCameraHooks(std::move(hooks));
}

media::CameraEnvironment ProgramCameraEnvironment() {
    media::CameraEnvironment environment;
    environment.postToMainWindow = [](platform::Message message) {
        return session::CAppInteance::PostNotifyIfAlive(std::move(message));
    };
    environment.postToTaskThread = [](platform::Message message) {
        return session::CAppInteance::PostTaskIfAlive(std::move(message));
    };
    environment.addresses = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();  // held while the request waits
        return client ? client->RequestForwardingAddress(cameraId) : control::TransportAddress{};
    };
    environment.talkAddresses = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();
        return client ? client->RequestForwardingAddressWithNode(cameraId) : control::TransportAddress{};
    };
    // The settings in force, which the save page may change while cameras play.
    environment.recordRoot = [] { return record::CurrentRecordingSettings().root; };
    environment.recordMinutes = [] { return record::CurrentRecordingSettings().fileMinutes; };
    return environment;
}

wall::WallEnvironment ProgramWallEnvironment() {
    wall::WallEnvironment environment;
    environment.cellsSwapped = [](int from, int to) {
        auto& registry = media::CameraRegistry::Instance();
        auto first = registry.GetOrCreate(from);
        auto second = registry.GetOrCreate(to);
        registry.Assign(to, first);
        registry.Assign(from, second);
        if (session::CAppInteance::Exists()) session::CAppInteance::Instance().Reconnection().Swap(from, to);
    };
    environment.screenSize = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->geometry().size() : QSize(1024, 768);
    };
    environment.pictureSize = [](int, const std::string& cameraId) {
        if (cameraId.empty() || !media::CameraRegistry::Exists()) return QSize();
        auto camera = media::CameraRegistry::Instance().FindById(cameraId);
        if (!camera) return QSize();
        const transport::StreamInfo info = camera->Link().VideoInfo();
        return QSize(static_cast<int>(info.WidthOrSampleRate()), static_cast<int>(info.HeightOrBits()));
    };
    return environment;
}

mainwin::MainWinEnvironment ProgramMainWinEnvironment() {
    mainwin::MainWinEnvironment env;
    env.postTask = [](platform::Message message) { return session::CAppInteance::PostTaskIfAlive(std::move(message)); };
    env.sendRequest = [](int msgType, const mainwin::MainWinEnvironment::Params& params) -> std::int32_t {
        const auto client = control::ControlClient::Current();
        return client ? client->SendGenericRequest(msgType, params) : 0;
    };
    env.requestAuthorityList = [](std::string& out) {
        const auto client = control::ControlClient::Current();
        return client && client->RequestAuthorityList(out);
    };
    env.installReplyQueue = [](mainwin::ReplyQueue* queue) {
        const auto client = control::ControlClient::Current();
        if (!client) return;
        if (queue)
            client->InstallNotificationCallback(queue->Callback(), queue);
        else
            client->InstallNotificationCallback(nullptr, nullptr);
    };
    env.setNotifyWindow = [](platform::WindowHandle window) { session::CAppInteance::Instance().SetNotifyWindow(window); };
    env.rows = [] { return session::CAppInteance::Instance().Items().Snapshot(); };
    env.openUrl = [](const std::string& url) {
        return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(url)));
    };
    env.wallEnvironment = [] { return ProgramWallEnvironment(); };
    env.cellSessionConnected = [](int cell) {
        if (cell < 0 || !media::CameraRegistry::Exists()) return false;
        auto camera = media::CameraRegistry::Instance().GetOrCreate(cell);
        return camera && camera->IsOpen() && camera->Link().IsConnected();
    };
    env.takeReceivedBytes = [] { return transport::TakeReceivedBytes(); };
    // Each main window plays local recordings through an engine of its own.
    env.playbackEngine = [] { return playback::MakeRewindEngine(); };
    env.applyRecordingSettings = [](const record::RecordingSettings& settings) { tasks::ApplyRecordingSettings(settings); };
    env.chooseFolder = [](const std::string& prompt, const std::string& start) {
        return QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(prompt), QString::fromStdString(start),
                                                 QFileDialog::ShowDirsOnly)
            .toStdString();
    };
    return env;
}

ProgramHooks ApplicationProgramHooks() {
    ProgramHooks hooks;
    hooks.destroyControlClient = [] { control::ControlClient::Destroy(); };
    hooks.startAppInstance = [] {
        session::CAppInteance& application = session::CAppInteance::Instance();
        application.Items().Clear();
        tasks::RegisterLiveTasks(application);
        tasks::RegisterAlarmTasks(application);
        tasks::RegisterPlaybackTasks(application);
        tasks::RegisterMediaTasks(application);
        tasks::RegisterVideoParamTasks(application);
        tasks::RegisterRefreshTask(application);
        const core::AppConfig& config = core::AppConfig::Instance();
        tasks::StartRecordSweeper({config.recordSavePath, config.recordFileSize, config.recordDiskReserve});
    };
    hooks.destroyAppInstance = [] {
        tasks::StopRecordSweeper();
        session::CAppInteance::Destroy();
    };
    hooks.login.setNotifyWindow = [](platform::WindowHandle window) {
        session::CAppInteance::Instance().SetNotifyWindow(window);
    };
    hooks.login.runLoginSequence = [](const std::atomic<bool>& cancelled) { return session::RunLoginSequence(&cancelled); };
    // Closing the window ends the program: the client goes at once, so the sequence's
    // waits end instead of holding the closed window for up to a minute.
    hooks.login.cancelLoginSequence = [] { control::ControlClient::Destroy(); };
    hooks.runMainWindow = [] {
        mainwin::CMainWin window(ProgramMainWinEnvironment());
        if (!window.Create(0, "远程监控")) return -1;
        window.CenterWindow();
        return window.ShowModal();
    };
    return hooks;
}

}  // namespace app
