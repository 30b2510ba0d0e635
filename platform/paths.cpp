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
std::string g_settings;
std::string g_state;
std::string g_cache;

std::string Trimmed(std::string directory) {
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    return directory;
}

// The variable's value when it is an absolute path (relative ones are invalid and
// ignored), else $HOME followed by `fallback`.
std::string XdgBase(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return Trimmed(value);
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return (std::filesystem::path(home) / fallback).string();
    return {};
}

std::string WritableOr(const std::string& chosen) { return chosen.empty() ? ProgramDirectory() : chosen; }
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
    directory = Trimmed(std::move(directory));
    std::lock_guard lock(g_mutex);
    g_override = std::move(directory);
}

std::string SettingsDirectory() {
    std::unique_lock lock(g_mutex);
    const std::string chosen = g_settings;
    lock.unlock();
    return WritableOr(chosen);
}

std::string StateDirectory() {
    std::unique_lock lock(g_mutex);
    const std::string chosen = g_state;
    lock.unlock();
    return WritableOr(chosen);
}

std::string CacheDirectory() {
    std::unique_lock lock(g_mutex);
    const std::string chosen = g_cache;
    lock.unlock();
    return WritableOr(chosen);
}

void SetWritableDirectories(std::string settings, std::string state, std::string cache) {
    std::lock_guard lock(g_mutex);
    g_settings = settings.empty() ? settings : Trimmed(std::move(settings));
    g_state = state.empty() ? state : Trimmed(std::move(state));
    g_cache = cache.empty() ? cache : Trimmed(std::move(cache));
}

bool CanCreateFilesIn(const std::string& directory) {
    std::string probe = JoinPath(directory, ".larkview-write-test.XXXXXX");
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string XdgConfigHome() { return XdgBase("XDG_CONFIG_HOME", ".config"); }
std::string XdgStateHome() { return XdgBase("XDG_STATE_HOME", ".local/state"); }
std::string XdgCacheHome() { return XdgBase("XDG_CACHE_HOME", ".cache"); }

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
    return JoinPath(StateDirectory(), "RecordFile");
}

}  // namespace platform
