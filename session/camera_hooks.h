#pragma once
// What the login cycle asks of the camera registry, which belongs to the media
// subsystem above this one. The media subsystem installs these at start-up
// (app::InstallProgramWiring); without them the steps are skipped.

#include <cstdint>
#include <functional>
#include <string>

namespace session {

struct CameraHooks {
    std::function<void()> createRegistry;                     // login step 5
    std::function<bool(const std::string& cameraId)> isLive;  // the live mark of tree rows
    std::function<void()> destroyAll;                         // the first step of every teardown
    std::function<std::uint64_t(int cell)> cellWindow;        // the display window of a cell's camera
};

void InstallCameraHooks(CameraHooks hooks);
CameraHooks InstalledCameraHooks();

}  // namespace session
