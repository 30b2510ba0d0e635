#include "media/application_hooks.h"

#include "app/camera_hooks.h"
#include "media/camera_registry.h"

namespace media {

void InstallApplicationHooks() {
    app::CameraHooks hooks;
    hooks.createRegistry = [] { CameraRegistry::Instance(); };
    hooks.isLive = [](const std::string& cameraId) {
        auto camera = CameraRegistry::Instance().FindById(cameraId);
        return camera && camera->IsOpen();
    };
    hooks.destroyAll = [] { CameraRegistry::DestroyAll(); };
    hooks.cellWindow = [](int cell) -> std::uint64_t {
        return CameraRegistry::Exists() ? CameraRegistry::Instance().GetOrCreate(cell)->DisplayWindow() : 0;
    };
    app::InstallCameraHooks(std::move(hooks));
}

}  // namespace media
