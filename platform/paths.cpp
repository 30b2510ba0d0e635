#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace platform {
namespace {
std::mutex g_mutex;
std::string g_override;
}  // namespace

std::string ProgramDirectory() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_override.empty()) return g_override;
    }
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return ".";
    return exe.parent_path().string();
}

void SetProgramDirectory(std::string directory) {
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    std::lock_guard lock(g_mutex);
    g_override = std::move(directory);
}

std::string NativePath(std::string_view name) {
    std::string path(name);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/') path += '/';
    path += NativePath(name);
    return path;
}

bool CreateDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool MakeOwnerOnlyFile(const std::string& path) {
    // O_NOFOLLOW: a link planted in the file's place is not followed to another file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool restricted = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return restricted;
}

bool CreateOwnerOnlyDirectory(const std::string& path) {
    if (!CreateDirectories(path)) return false;
    return ::chmod(path.c_str(), 0700) == 0;
}

std::string DefaultRecordRoot() {
    if (const char* videos = std::getenv("XDG_VIDEOS_DIR"); videos && *videos)
        return (std::filesystem::path(videos) / "Larkview").string();
    if (const char* home = std::getenv("HOME"); home && *home)
        return (std::filesystem::path(home) / "Videos" / "Larkview").string();
    return JoinPath(ProgramDirectory(), "RecordFile");
}

}  // namespace platform
