#include "session/login_sequence.h"

#include "core/app_config.h"
#include "session/app_instance.h"
#include "core/message_ids.h"
#include "session/camera_hooks.h"
#include "core/log_file.h"
#include "control/camera_rows.h"
#include "control/replies.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace session {
namespace {

void Progress(std::uintptr_t step, const std::string& text) {
    CAppInteance::Instance().SendNotify(platform::Message(core::kAppNotify, step, 0, platform::MakePayload(text)));
}

int Fail(const std::string& text, const char* logLine) {
    Progress(core::kLoginFailed, text);
    if (logLine) core::LogWrite("%s", logLine);
    return 0;
}

}  // namespace

bool RefreshItemTable(control::ControlClient& client, ItemTable& items,
                      const std::function<bool(const std::string&)>& isLive) {
    items.Clear();
    control::CameraListReply list;
    if (!client.FetchCameraList(list)) return false;
    control::CameraRows built = control::BuildCameraRows(list, isLive);
    control::ReorderRows(built.rows);
    items.Replace(std::move(built.rows));
    return true;
}

int RunLoginSequence(const std::atomic<bool>* cancelled) {
    const auto stopped = [cancelled] { return cancelled && cancelled->load(); };
    Progress(10, "初始化...");
    // Held for the whole sequence: the client may be destroyed meanwhile (the window
    // closed), which ends its waits at once.
    const std::shared_ptr<control::ControlClient> held = control::ControlClient::Shared();
    control::ControlClient& client = *held;
    client.InstallAlarmPushHandler();

    const int connected = client.Connect();
    if (stopped()) return 0;
    if (connected == -1) return Fail("连接总控服务器失败，请检查网络连接是否正常！", "link server error");
    if (connected < 0) return Fail("连接代理服务器失败，请检查网络连接是否正常！", "link server error");
    Progress(50, "连接服务器成功...");

    const CameraHooks hooks = InstalledCameraHooks();
    if (hooks.createRegistry) hooks.createRegistry();
    Progress(60, "视频对象初始化成功...");

    const int status = client.Login();
    if (stopped()) return 0;
    if (const std::optional<std::string> refusal = control::LoginRefusal(status))
        return Fail(*refusal, status <= 0 ? "username or password or expiredDate or onlineMax error" : nullptr);

    core::AppConfig& config = core::AppConfig::Instance();
    config.StoreCurrentUser();

    Progress(80, "检测升级...");
    if (stopped()) return 0;
    platform::StartProgram(platform::JoinPath(config.programDirectory, "Updater"));

    Progress(90, "获取列表...");
    if (stopped()) return 0;
    const bool listed = RefreshItemTable(client, CAppInteance::Instance().Items(), hooks.isLive);
    if (stopped()) return 0;
    if (!listed) return Fail("获取列表失败", nullptr);
    CAppInteance::Instance().SendNotify(platform::Message(core::kAppNotify, core::kLoginSucceeded, 0));
    return 1;
}

}  // namespace session
