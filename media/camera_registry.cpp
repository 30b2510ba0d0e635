#include "media/camera_registry.h"

#include <utility>

namespace media {
namespace {

struct Globals {
    std::mutex mutex;  // the process-wide lock around creation
    CameraRegistry* registry = nullptr;
    bool exists = false;
    std::optional<CameraEnvironment> environment;
};
Globals& TheGlobals() {
    static Globals* globals = new Globals;
    return *globals;
}

}  // namespace

CameraRegistry& CameraRegistry::Instance() {
    Globals& globals = TheGlobals();
    std::lock_guard lock(globals.mutex);
    // The object itself is made once and kept: a late caller on a link thread must
    // never reach freed memory. "Destroying" the registry empties it.
    if (!globals.registry) globals.registry = new CameraRegistry;
    globals.exists = true;
    return *globals.registry;
}

bool CameraRegistry::Exists() {
    Globals& globals = TheGlobals();
    std::lock_guard lock(globals.mutex);
    return globals.exists;
}

void CameraRegistry::DestroyAll() {
    Globals& globals = TheGlobals();
    CameraRegistry* registry = nullptr;
    {
        std::lock_guard lock(globals.mutex);
        registry = globals.registry;
        globals.exists = false;
    }
    if (!registry) return;
    std::map<int, std::shared_ptr<CCamera>> cameras;
    {
        std::lock_guard lock(registry->mutex_);
        cameras.swap(registry->cameras_);
    }
    // Closed outside the registry's lock: closing a link waits for its receive
    // callback, which may itself be looking a camera up in the registry.
    for (auto& [cell, camera] : cameras) camera->Close();
}

void CameraRegistry::SetEnvironmentForNewCameras(std::optional<CameraEnvironment> environment) {
    Globals& globals = TheGlobals();
    std::lock_guard lock(globals.mutex);
    globals.environment = std::move(environment);
}

std::shared_ptr<CCamera> CameraRegistry::GetOrCreate(int cell) {
    if (auto existing = Find(cell)) return existing;
    std::optional<CameraEnvironment> environment;
    {
        Globals& globals = TheGlobals();
        std::lock_guard globalsLock(globals.mutex);
        environment = globals.environment;
    }
    // Made outside the registry's lock: the user-interface thread looks cameras up
    // under it, and must not wait while a task thread builds one.
    auto made = std::make_shared<CCamera>(environment ? *environment : CameraEnvironment::Application());
    made->SetCellIndex(cell);
    std::shared_ptr<CCamera> kept;
    {
        std::lock_guard lock(mutex_);
        kept = cameras_.try_emplace(cell, made).first->second;
    }
    // Another caller made the cell's camera first: this one goes (outside the lock).
    return kept;
}

std::shared_ptr<CCamera> CameraRegistry::Find(int cell) {
    std::lock_guard lock(mutex_);
    auto it = cameras_.find(cell);
    return it == cameras_.end() ? nullptr : it->second;
}

std::shared_ptr<CCamera> CameraRegistry::FindById(const std::string& cameraId) {
    std::lock_guard lock(mutex_);
    for (auto& [cell, camera] : cameras_)
        if (camera->CameraId() == cameraId) return camera;
    return nullptr;
}

std::vector<std::shared_ptr<CCamera>> CameraRegistry::All() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<CCamera>> all;
    for (auto& [cell, camera] : cameras_) all.push_back(camera);
    return all;
}

void CameraRegistry::Remove(int cell) {
    std::shared_ptr<CCamera> doomed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    auto it = cameras_.find(cell);
    if (it == cameras_.end()) return;
    doomed = std::move(it->second);
    cameras_.erase(it);
}

bool CameraRegistry::RemoveIf(int cell, const CCamera* camera) {
    std::shared_ptr<CCamera> doomed;
    std::lock_guard lock(mutex_);
    auto it = cameras_.find(cell);
    if (it == cameras_.end() || it->second.get() != camera) return false;
    doomed = std::move(it->second);
    cameras_.erase(it);
    return true;
}

void CameraRegistry::Assign(int cell, std::shared_ptr<CCamera> camera) {
    std::shared_ptr<CCamera> displaced;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    if (camera) camera->SetCellIndex(cell);
    displaced = std::exchange(cameras_[cell], std::move(camera));
}

std::size_t CameraRegistry::Count() {
    std::lock_guard lock(mutex_);
    return cameras_.size();
}

}  // namespace media
