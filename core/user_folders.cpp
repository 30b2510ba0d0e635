#include "core/user_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/paths.h"

namespace core {
namespace {

constexpr const char* kFolderName = "larkview";

struct DefaultFile {
    const char* name;
    bool secret;  // may hold passwords: the owner's alone
};
constexpr DefaultFile kDefaultFiles[] = {{"appConfig.ini", false}, {"appSavePath.ini", false}, {"appUser.ini", true}};

std::string Under(const std::string& base) { return base.empty() ? base : platform::JoinPath(base, kFolderName); }

// Copies `from` to `to` unless `to` exists. O_EXCL: a file already there (the user's
// own settings) is never replaced; O_NOFOLLOW: nor is a link planted in its place followed.
bool CopyWhenMissing(const std::string& from, const std::string& to, bool secret) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return true;  // no such default: nothing to copy
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, secret ? 0600 : 0644);
    if (fd < 0) return errno == EEXIST;
    bool written = true;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) written = false;
    if (!written) ::unlink(to.c_str());  // a half copy would read as broken settings
    return written;
}

}  // namespace

UserFolders ChooseUserFolders(const std::string& programDirectory,
                              const std::function<bool(const std::string&)>& canWrite) {
    UserFolders folders;
    folders.installed = platform::IsRegularFile(platform::JoinPath(programDirectory, kInstalledMarker)) ||
                        !canWrite(programDirectory);
    if (!folders.installed) {
        folders.settings = folders.state = folders.cache = programDirectory;
        return folders;
    }
    folders.settings = Under(platform::XdgConfigHome());
    folders.state = Under(platform::XdgStateHome());
    folders.cache = Under(platform::XdgCacheHome());
    return folders;
}

bool UseUserFolders(const UserFolders& folders, const std::string& programDirectory, std::string* problem) {
    auto fail = [&](std::string reason) {
        if (problem) *problem = std::move(reason);
        platform::SetWritableDirectories("", "", "");
        return false;
    };
    if (!folders.installed) {
        platform::SetWritableDirectories(folders.settings, folders.state, folders.cache);
        return true;
    }
    if (folders.settings.empty() || folders.state.empty() || folders.cache.empty())
        return fail("no home folder (HOME, XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_CACHE_HOME): "
                    "settings, saved users and logs cannot be kept");
    for (const std::string* folder : {&folders.settings, &folders.state, &folders.cache})
        if (!platform::CreateOwnerOnlyDirectory(*folder)) return fail("cannot create " + *folder);
    for (const DefaultFile& file : kDefaultFiles) {
        const std::string target = platform::JoinPath(folders.settings, file.name);
        if (!CopyWhenMissing(platform::JoinPath(programDirectory, file.name), target, file.secret))
            return fail("cannot copy the default " + std::string(file.name) + " to " + target);
    }
    platform::SetWritableDirectories(folders.settings, folders.state, folders.cache);
    return true;
}

bool SetUpUserFolders(std::string* problem) {
    const std::string program = platform::ProgramDirectory();
    return UseUserFolders(ChooseUserFolders(program, platform::CanCreateFilesIn), program, problem);
}

}  // namespace core
