#pragma once
// The cameras of the video cells: one CCamera per occupied cell, found by cell index
// or camera id. One per process.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/camera.h"

namespace media {

class CameraRegistry {
public:
    static CameraRegistry& Instance();
    static bool Exists();
    // Closes every camera and empties the registry (logout and exit).
    static void DestroyAll();
    // The environment of cameras created from now on (tests); none restores the
    // application's.
    static void SetEnvironmentForNewCameras(std::optional<CameraEnvironment> environment);

    // The camera of the cell, created (with its cell index set) when there is none.
    std::shared_ptr<CCamera> GetOrCreate(int cell);
    // The camera of the cell, or nullptr when it has none (nothing is created).
    std::shared_ptr<CCamera> Find(int cell);
    // The first camera, in cell order, showing that camera id.
    std::shared_ptr<CCamera> FindById(const std::string& cameraId);
    void Remove(int cell);
    // Removes the cell only while it still holds `camera`.
    bool RemoveIf(int cell, const CCamera* camera);
    // Puts a camera under a cell (the cell swap) and gives it that cell index.
    void Assign(int cell, std::shared_ptr<CCamera> camera);
    std::size_t Count();
    // Every camera, in cell order.
    std::vector<std::shared_ptr<CCamera>> All();

private:
    CameraRegistry() = default;

    std::mutex mutex_;  // never held while a camera is closed or destroyed
    std::map<int, std::shared_ptr<CCamera>> cameras_;
};

}  // namespace media
