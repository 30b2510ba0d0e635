#include "tasks/media_tasks.h"

#include <memory>
#include <mutex>

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "media/camera.h"
#include "media/camera_registry.h"
#include "record/sweeper.h"

namespace tasks {
namespace {

std::string IdOf(const platform::Message& message) {
    const auto* id = platform::PayloadAs<std::string>(message);
    return id ? *id : std::string();
}

std::shared_ptr<media::CCamera> OpenCamera(const std::string& cameraId) {
    if (cameraId.empty()) return nullptr;
    auto camera = media::CameraRegistry::Instance().FindById(cameraId);
    return camera && camera->IsOpen() ? camera : nullptr;
}

void Post(const MediaTaskEnvironment& environment, std::uint32_t id, const std::string& cameraId, std::intptr_t lParam) {
    if (environment.postNotify) environment.postNotify(platform::Message(id, 0, lParam, platform::MakePayload(cameraId)));
}

std::mutex sweeperMutex;
std::unique_ptr<record::RecordSweeper> sweeper;

// What the window hears of a refusal: the missing devices are named, the user is told.
std::intptr_t RefusalCode(media::AudioRefusal why) {
    switch (why) {
        case media::AudioRefusal::kNoOutputDevice: return core::kNoAudioOutput;
        case media::AudioRefusal::kNoMicrophone: return core::kNoMicrophone;
        default: return 0;
    }
}

}  // namespace

void HandleStartListen(platform::Message& message, const MediaTaskEnvironment& environment) {
    const std::string cameraId = IdOf(message);
    auto camera = OpenCamera(cameraId);
    media::AudioRefusal why = media::AudioRefusal::kNotPlaying;
    const bool started = camera && camera->StartListen(&why);
    if (started) camera->SetListening(true);
    Post(environment, core::kListenStarted, cameraId, started ? 1 : RefusalCode(why));
}

void HandleStopListen(platform::Message& message, const MediaTaskEnvironment& environment) {
    const std::string cameraId = IdOf(message);
    auto camera = OpenCamera(cameraId);
    const bool stopped = camera && camera->StopListen();
    if (camera) camera->SetListening(false);
    Post(environment, core::kListenStopped, cameraId, stopped ? 1 : 0);
}

void HandleStopListenCell(platform::Message& message, const MediaTaskEnvironment& environment) {
    const int cell = static_cast<int>(message.wParam);
    if (media::CameraRegistry::Exists()) {
        auto camera = media::CameraRegistry::Instance().GetOrCreate(cell);
        camera->StopListen();
        camera->SetListening(false);
    }
    if (environment.postNotify)
        environment.postNotify(platform::Message(core::kListenStoppedCell, static_cast<std::uintptr_t>(cell), 1));
}

void HandleStartRecord(platform::Message& message, const MediaTaskEnvironment& environment) {
    const std::string cameraId = IdOf(message);
    auto camera = OpenCamera(cameraId);
    const bool started = camera && camera->StartRecord(cameraId);
    // The flag turns on the recorder hand-off and the recording mark.
    if (started) camera->SetRecording(true);
    Post(environment, core::kRecordStarted, cameraId, started ? 1 : 0);
}

void HandleStopRecord(platform::Message& message, const MediaTaskEnvironment& environment) {
    const std::string cameraId = IdOf(message);
    auto camera = OpenCamera(cameraId);
    const bool stopped = camera && camera->StopRecord();
    if (camera) camera->SetRecording(false);
    Post(environment, core::kRecordStopped, cameraId, stopped ? 1 : 0);
}

void HandleStopTalk(platform::Message& message, const MediaTaskEnvironment& environment) {
    const std::string cameraId = IdOf(message);
    if (auto camera = OpenCamera(cameraId)) {
        camera->StopTalk();
        camera->CloseTalkLink();
        camera->SetTalking(false);
    }
    Post(environment, core::kTalkStateChanged, cameraId, 0);
}

void HandleStartTalk(platform::Message& message, const MediaTaskEnvironment& environment) {
    const auto* request = platform::PayloadAs<core::TalkRequest>(message);
    if (!request) return;
    auto camera = OpenCamera(request->cameraId);
    bool started = false;
    media::AudioRefusal why = media::AudioRefusal::kNotPlaying;
    if (camera) {
        camera->CreateTalkLink();
        started = camera->StartTalk(request->cameraId, request->ip, request->port, request->keyword, &why);
        camera->SetTalking(started);
    }
    Post(environment, started ? core::kTalkStateChanged : core::kTalkRefused, request->cameraId, started ? 1 : RefusalCode(why));
}

void RegisterMediaTasks(session::CAppInteance& application) {
    MediaTaskEnvironment environment;
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    auto add = [&](std::uint32_t id, void (*handler)(platform::Message&, const MediaTaskEnvironment&)) {
        application.Dispatcher().Register(id, [handler, environment](platform::Message& m) { handler(m, environment); });
    };
    add(core::kTaskStartListen, HandleStartListen);
    add(core::kTaskStopListen, HandleStopListen);
    add(core::kTaskStopListenCell, HandleStopListenCell);
    add(core::kTaskStartRecord, HandleStartRecord);
    add(core::kTaskStopRecord, HandleStopRecord);
    add(core::kTaskStopTalk, HandleStopTalk);
    add(core::kTaskStartTalk, HandleStartTalk);
}

void StartRecordSweeper(const record::RecordingSettings& settings) {
    record::SetRecordingSettings(settings);
    const record::RecordingSettings current = record::CurrentRecordingSettings();
    std::lock_guard lock(sweeperMutex);
    if (sweeper) sweeper->Stop();
    sweeper = std::make_unique<record::RecordSweeper>(current.root, current.keepDays);
    sweeper->Start();
}

void StopRecordSweeper() {
    std::lock_guard lock(sweeperMutex);
    if (sweeper) sweeper->Stop();
    sweeper.reset();
}

void ApplyRecordingSettings(const record::RecordingSettings& settings) {
    record::SetRecordingSettings(settings);
    const record::RecordingSettings current = record::CurrentRecordingSettings();
    if (media::CameraRegistry::Exists())
        for (const auto& camera : media::CameraRegistry::Instance().All())
            camera->Recorder().SetFileMinutes(current.fileMinutes);
    std::lock_guard lock(sweeperMutex);
    if (sweeper) sweeper->Reconfigure(current.root, current.keepDays);
}

}  // namespace tasks
