#include "media/application_hooks.h"

#include "app/camera_hooks.h"
#include "media/camera_registry.h"
#include "media/memory_return.h"

namespace media {

void InstallApplicationHooks() {
    // Before any camera: a stream's large buffers go back to the system when freed.
    MapLargeStreamBuffers();
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
