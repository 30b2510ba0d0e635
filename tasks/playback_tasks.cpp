#include "tasks/playback_tasks.h"

#include "control/control_client.h"
#include "media/camera_registry.h"
#include "platform/debug_trace.h"
#include "platform/numbers.h"
#include "session/app_instance.h"

namespace tasks {
namespace {

enum RemoteCommandCode : int { kResume = 0, kPause = 1, kClose = 2, kSeek = 3 };

platform::WindowHandle ReplyWindow(platform::WindowHandle named, const PlaybackTaskEnvironment& environment) {
    if (named != 0) return named;
    return environment.notifyWindow ? environment.notifyWindow() : 0;
}

bool Post(const PlaybackTaskEnvironment& environment, platform::WindowHandle window, platform::Message message) {
    return environment.postToWindow && window != 0 && environment.postToWindow(window, std::move(message));
}

}  // namespace

std::string RemoteSearchStatusText(int status) {
    switch (status) {
        case 1: return "成功";
        case -1: return "错误";
        case -2: return "无数据";
        case -3: return "无转发";
        case -4: return "无镜像";
        case -5: return "采集端未启动";
        case -6: return "超时";
        default: return "未知错误";
    }
}

core::RemoteSearchResult RemoteSearchResultOf(const std::string& cameraId, const control::RemotePlaybackReply& reply) {
    core::RemoteSearchResult result;
    result.cameraId = cameraId;
    result.status = reply.status;
    result.statusText = RemoteSearchStatusText(reply.status);
    if (reply.status == 1) {
        result.playbackId = reply.playbackId;
        result.ip = reply.forwardingIp;
        result.port = platform::ParsePort(reply.forwardingPort);
        result.timeList = reply.timeQuantum;
    }
    return result;
}

void HandleRemoteSearch(platform::Message& message, const PlaybackTaskEnvironment& environment) {
    const auto* request = platform::PayloadAs<core::RemoteSearchRequest>(message);
    if (!request) return;
    control::RemotePlaybackReply reply;  // status -1: no reply
    if (environment.requestPlayback && !request->cameraId.empty())
        reply = environment.requestPlayback(request->cameraId, request->startTime, request->endTime);
    Post(environment, ReplyWindow(request->mainWindow, environment),
         platform::Message(core::kRemoteSearchDone, 0, 0,
                           platform::MakePayload(RemoteSearchResultOf(request->cameraId, reply))));
}

void HandleRemotePlaybackStart(platform::Message& message, const PlaybackTaskEnvironment& environment) {
    auto* record = platform::PayloadAs<core::PlaybackRecord>(message);
    if (!record) return;
    record->result = 0;
    const platform::WindowHandle mainWindow = ReplyWindow(record->mainWindow, environment);
    auto camera = media::CameraRegistry::Instance().GetOrCreate(core::kPlaybackCellKey);
    if (camera->IsOpen()) {
        // The recording playing so far ends here; its window hears so.
        const platform::WindowHandle previous = camera->NotifyWindow();
        camera->Close();
        Post(environment, previous != 0 ? previous : mainWindow,
             platform::Message(core::kReplayEnded, static_cast<std::uintptr_t>(core::kPlaybackCellKey), 0));
    }
    platform::DebugTrace("收到转发信息-------%s,%s,%d\n", record->ip.c_str(), record->playbackId.c_str(), record->port);

    // Replay mode and the window to report to are in place before the stream starts: a
    // short recording may report pictures or even end before Open returns, and its
    // "stop" must end a replay, not send a live camera into reconnection.
    camera->SetNotifyWindow(mainWindow);
    camera->SetReplayMode(true);
    const std::string password = environment.password ? environment.password() : std::string();
    const int result = camera->Open(record->playbackId, record->ip, record->port, record->cellWindow, password);
    if (result == 1) {
        record->result = 1;
    } else {
        camera->SetReplayMode(false);
        platform::DebugTrace("回放打开失败: %s %s:%d, %d\n", record->playbackId.c_str(), record->ip.c_str(), record->port,
                             result);
    }
    // The window owns the record from here on.
    Post(environment, mainWindow,
         platform::Message(core::kRemotePlaybackStarted, 0, 0,
                           std::move(message.payload)));
}

void HandleRemotePlaybackCommand(platform::Message& message, const PlaybackTaskEnvironment&) {
    const auto* command = platform::PayloadAs<core::RemoteCommand>(message);
    if (!command) return;
    auto camera = media::CameraRegistry::Instance().GetOrCreate(core::kPlaybackCellKey);
    switch (command->command) {
        case kResume:
            camera->Resume();
            break;
        case kPause:
            camera->Pause();
            break;
        case kClose:
            // The window stopped the playback itself and is idle already: nothing is
            // posted. The cell is emptied, so a late command finds no stream to act on.
            camera->Close();
            media::CameraRegistry::Instance().RemoveIf(core::kPlaybackCellKey, camera.get());
            break;
        case kSeek:
            camera->Seek(command->timeText);
            break;
        default:
            break;  // not a command of the playback
    }
}

PlaybackTaskEnvironment ApplicationPlaybackTaskEnvironment(session::CAppInteance& application) {
    PlaybackTaskEnvironment environment;
    environment.requestPlayback = [](const std::string& cameraId, const std::string& startTime,
                                     const std::string& endTime) {
        const auto client = control::ControlClient::Current();  // held while the request waits
        return client ? client->RequestRemotePlayback(cameraId, startTime, endTime) : control::RemotePlaybackReply{};
    };
    environment.postToWindow = [](platform::WindowHandle window, platform::Message m) {
        return platform::PostWindowMessage(window, std::move(m));
    };
    environment.notifyWindow = [&application] { return application.NotifyWindow(); };
    environment.password = [] { return std::string(); };
    return environment;
}

void RegisterPlaybackTasks(session::CAppInteance& application) {
    const PlaybackTaskEnvironment environment = ApplicationPlaybackTaskEnvironment(application);
    core::TaskDispatcher& dispatcher = application.Dispatcher();
    dispatcher.Register(core::kTaskRemoteSearch, [environment](platform::Message& m) { HandleRemoteSearch(m, environment); });
    dispatcher.Register(core::kTaskRemotePlaybackStart,
                        [environment](platform::Message& m) { HandleRemotePlaybackStart(m, environment); });
    dispatcher.Register(core::kTaskRemotePlaybackCommand,
                        [environment](platform::Message& m) { HandleRemotePlaybackCommand(m, environment); });
    // A stop or seek posted after a start must not overtake it on another worker; the
    // cell's close (no picture for ten seconds) shares the key.
    const core::TaskDispatcher::OrderKey playbackCell = [](const platform::Message&) -> std::optional<std::int64_t> {
        return core::kPlaybackCellKey;
    };
    dispatcher.SetOrderKey(core::kTaskRemotePlaybackStart, playbackCell);
    dispatcher.SetOrderKey(core::kTaskRemotePlaybackCommand, playbackCell);
}

}  // namespace tasks
