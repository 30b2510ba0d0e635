#pragma once
// The program directory, the folders the program writes to, and file names. Names
// inside the program use `\` as their separator, as the stored settings and logs
// always have; NativePath maps them to this platform's separator.

#include <string>
#include <string_view>

namespace platform {

// The directory of the running executable, without a trailing separator.
std::string ProgramDirectory();

// Makes ProgramDirectory answer `directory` (tests and embedded runs); an empty text
// goes back to the executable's directory.
void SetProgramDirectory(std::string directory);

// Where the program writes. A portable copy keeps everything beside the program; an
// installed copy writes to the user's folders. Start-up decides once (core/user_folders.h)
// and calls SetWritableDirectories; until then, and for an empty text, each answers
// ProgramDirectory(). Read-only data (skins, waiting picture, vdec) stays beside the program.
std::string SettingsDirectory();  // appConfig.ini, appSavePath.ini, appUser.ini
std::string StateDirectory();     // appLogs, the crash dump
std::string CacheDirectory();     // downloaded alarm pictures
void SetWritableDirectories(std::string settings, std::string state, std::string cache);

// True when a file can be created in `directory`: a real attempt, since permission
// bits do not tell for root or on a read-only mount.
bool CanCreateFilesIn(const std::string& directory);

// The XDG base folders: the variable when it holds an absolute path, else the default
// under $HOME (~/.config, ~/.local/state, ~/.cache); empty when neither is known.
std::string XdgConfigHome();
std::string XdgStateHome();
std::string XdgCacheHome();

std::string NativePath(std::string_view name);

// directory + separator + name, with `name` mapped by NativePath.
std::string JoinPath(std::string_view directory, std::string_view name);

// Creates the directory and every missing parent; true when it exists afterwards.
bool CreateDirectories(const std::string& path);

bool IsRegularFile(const std::string& path);

// For files that hold secrets (remembered passwords, logs, crash dumps): creates the
// file when it is missing and makes it readable and writable by its owner only (0600).
bool MakeOwnerOnlyFile(const std::string& path);
// Creates the directory and its missing parents; the directory itself gets mode 0700.
bool CreateOwnerOnlyDirectory(const std::string& path);

// Where recordings go when the settings name no folder: "Larkview" in the user's
// videos folder ($XDG_VIDEOS_DIR, else ~/Videos), or in the state folder without a home.
std::string DefaultRecordRoot();

}  // namespace platform
