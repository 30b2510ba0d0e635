#include "media/camera_environment.h"

#include "core/locked.h"
#include "record/recording_settings.h"

namespace media {
namespace {

CameraEnvironment Inert() {
    CameraEnvironment inert;
    inert.postToMainWindow = [](platform::Message) { return false; };
    inert.postToTaskThread = [](platform::Message) { return false; };
    inert.addresses = [](const std::string&) { return control::TransportAddress{}; };
    inert.talkAddresses = [](const std::string&) { return control::TransportAddress{}; };
    inert.recordRoot = [] { return std::string(); };
    inert.recordMinutes = [] { return record::kDefaultFileMinutes; };
    return inert;
}

core::Locked<CameraEnvironment>& Installed() {
    static core::Locked<CameraEnvironment> installed{Inert()};
    return installed;
}

}  // namespace

CameraEnvironment CameraEnvironment::Application() { return Installed().Get(); }

void CameraEnvironment::InstallApplication(CameraEnvironment environment) { Installed().Set(std::move(environment)); }

}  // namespace media
