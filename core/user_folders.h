#pragma once
// Where this copy of the program keeps what it writes: settings (the three ini
// files), state (logs, crash dump) and cache (downloaded alarm pictures).
//
// A portable copy (the build's bin folder, a copied folder, the demo) keeps them
// beside the program, as always. An installed copy cannot or must not write there:
// its program directory carries the installed marker, or no file can be created in
// it. It then uses the user's XDG folders, $XDG_CONFIG_HOME/larkview,
// $XDG_STATE_HOME/larkview and $XDG_CACHE_HOME/larkview, the settings first seeded
// with the default ini files installed beside the program.

#include <functional>
#include <string>

namespace core {

// The file an installed copy ships beside the program: even a program directory its
// user could write to (root's) then stays untouched.
inline constexpr const char* kInstalledMarker = "larkview-installed";

struct UserFolders {
    bool installed = false;  // false: everything beside the program
    std::string settings;
    std::string state;
    std::string cache;
};

// Decides for the program directory. `canWrite` tells whether files can be created
// there (platform::CanCreateFilesIn; tests answer for a root user, who can write into
// a read-only folder). An installed copy without any home folder gets empty texts.
UserFolders ChooseUserFolders(const std::string& programDirectory,
                              const std::function<bool(const std::string&)>& canWrite);

// Creates the chosen folders (the user's alone: 0700, they hold passwords and logs),
// copies each default ini file of the program directory that the settings folder
// lacks, and routes platform::SettingsDirectory/StateDirectory/CacheDirectory there.
// False with a reason when an installed copy has nowhere to write: the program then
// still reads its defaults beside itself, and keeps nothing.
bool UseUserFolders(const UserFolders& folders, const std::string& programDirectory, std::string* problem);

// Both steps for the running program; false with a reason as above.
bool SetUpUserFolders(std::string* problem);

}  // namespace core
