#include "media/camera_environment.h"

#include "app/app_instance.h"
#include "control/control_client.h"
#include "record/recording_settings.h"

namespace media {

CameraEnvironment CameraEnvironment::Application() {
    CameraEnvironment environment;
    environment.postToMainWindow = [](platform::Message message) {
        return app::CAppInteance::PostNotifyIfAlive(std::move(message));
    };
    environment.postToTaskThread = [](platform::Message message) {
        return app::CAppInteance::PostTaskIfAlive(std::move(message));
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

}  // namespace media
