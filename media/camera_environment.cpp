#include "media/camera_environment.h"

#include <mutex>

#include "record/recording_settings.h"

namespace media {
namespace {

std::mutex installedMutex;
CameraEnvironment& Installed() {
    static CameraEnvironment installed = [] {
        CameraEnvironment inert;
        inert.postToMainWindow = [](platform::Message) { return false; };
        inert.postToTaskThread = [](platform::Message) { return false; };
        inert.addresses = [](const std::string&) { return control::TransportAddress{}; };
        inert.talkAddresses = [](const std::string&) { return control::TransportAddress{}; };
        inert.recordRoot = [] { return std::string(); };
        inert.recordMinutes = [] { return record::kDefaultFileMinutes; };
        return inert;
    }();
    return installed;
}

}  // namespace

CameraEnvironment CameraEnvironment::Application() {
    std::lock_guard lock(installedMutex);
    return Installed();
}

void CameraEnvironment::InstallApplication(CameraEnvironment environment) {
    std::lock_guard lock(installedMutex);
    Installed() = std::move(environment);
}

}  // namespace media
