#include "session/camera_hooks.h"

#include <mutex>

namespace session {
namespace {
std::mutex g_hooksMutex;
CameraHooks g_hooks;
}  // namespace

void InstallCameraHooks(CameraHooks hooks) {
    std::lock_guard lock(g_hooksMutex);
    g_hooks = std::move(hooks);
}

CameraHooks InstalledCameraHooks() {
    std::lock_guard lock(g_hooksMutex);
    return g_hooks;
}

}  // namespace session
