#include "tasks/video_param_tasks.h"

#include "core/message_ids.h"
#include "session/app_instance.h"
#include "core/log_file.h"
#include "media/camera_registry.h"

namespace tasks {

void HandleWriteVideoParameters(platform::Message& message, const VideoParamEnvironment& environment) {
    const auto* record = platform::PayloadAs<VideoParamRecord>(message);
    if (!record || !environment.write) return;
    if (!environment.write(record->cell, VideoParameterCommand(*record)))
        core::LogWrite("video parameters of cell %d not written", record->cell);
}

void HandleReadVideoParameters(platform::Message& message, const VideoParamEnvironment& environment) {
    const int cell = static_cast<int>(message.wParam);
    std::map<std::string, std::string> reply;
    if (!environment.read || !environment.read(cell, reply)) {
        core::LogWrite("video parameters of cell %d not read", cell);
        return;
    }
    auto record = ParseVideoParameters(reply, cell);
    if (!record) {
        core::LogWrite("video parameters of cell %d unusable", cell);
        return;
    }
    if (environment.postNotify)
        environment.postNotify(platform::Message(core::kVideoParametersRead, 0, 0, platform::MakePayload(*record)));
}

void RegisterVideoParamTasks(session::CAppInteance& application) {
    VideoParamEnvironment environment;
    auto openCamera = [](int cell) -> std::shared_ptr<media::CCamera> {
        if (cell < 0 || !media::CameraRegistry::Exists()) return nullptr;
        auto camera = media::CameraRegistry::Instance().GetOrCreate(cell);
        return camera && camera->IsOpen() ? camera : nullptr;
    };
    environment.write = [openCamera](int cell, const std::map<std::string, std::string>& parameters) {
        auto camera = openCamera(cell);
        return camera && camera->Link().SetParameters(parameters);
    };
    environment.read = [openCamera](int cell, std::map<std::string, std::string>& parameters) {
        auto camera = openCamera(cell);
        return camera && camera->Link().GetParameters(parameters);
    };
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    application.Dispatcher().Register(core::kTaskWriteVideoParameters,
                                      [environment](platform::Message& m) { HandleWriteVideoParameters(m, environment); });
    application.Dispatcher().Register(core::kTaskReadVideoParameters,
                                      [environment](platform::Message& m) { HandleReadVideoParameters(m, environment); });
}

}  // namespace tasks
