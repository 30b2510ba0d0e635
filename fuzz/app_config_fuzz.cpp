// The configuration layer above the ini reader: arbitrary bytes as appConfig.ini,
// appSavePath.ini and appUser.ini at once (each file reads its own sections), loaded
// the way start-up loads them. Checked: numbers read as atoi reads them but never
// wrapped round (against strtoll), a port is a port, the server list holds no empty
// item, the remembered users are at most ten and survive a save and a reload
// unchanged, and every password the decoder accepts re-encodes to its own text.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/app_config.h"
#include "platform/ini_file.h"
#include "platform/numbers.h"
#include "platform/paths.h"

namespace {

// An independent reading of a number: strtoll saturates at the long long range, which
// is then clamped to int.
int ReferenceNumber(std::string_view text) {
    const std::string copy(text);  // strtoll stops at a NUL, as ParseInt stops at any non-digit
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

void CheckNumber(std::string_view text) {
    const int value = platform::ParseInt(text);
    if (value != ReferenceNumber(text)) std::abort();
    const int port = platform::ParsePort(text);
    if (port != (value >= 1 && value <= 65535 ? value : 0)) std::abort();
}

// A password the decoder accepts is one EncodePassword wrote (its last '@' may be
// missing), and the encoding of any password decodes to it.
void CheckPassword(const std::string& encoded) {
    const std::string password = core::DecodePassword(encoded);
    if (password.empty()) return;
    const std::string again = core::EncodePassword(password);
    if (again != encoded && again != encoded + "@") std::abort();
    if (core::DecodePassword(again) != password) std::abort();
}

bool SameUsers(const std::vector<core::SavedUser>& a, const std::vector<core::SavedUser>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const core::SavedUser& x, const core::SavedUser& y) {
        return x.name == y.name && x.password == y.password && x.autoLogin == y.autoLogin && x.remember == y.remember;
    });
}

const std::string& Folder() {
    static const std::string folder = [] {
        // In memory where there is /dev/shm: every input writes and renames the files.
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        pattern += "/larkview-fuzz-config-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        std::string path = made;
        platform::SetProgramDirectory(path);
        return path;
    }();
    // Registered after the folder's text exists, so it runs before that text is gone.
    static const bool removedAtExit = std::atexit([] {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }) == 0;
    (void)removedAtExit;
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string& folder = Folder();
    for (const char* name : {"appConfig.ini", "appSavePath.ini", "appUser.ini"}) {
        std::ofstream file(folder + "/" + name, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
    }

    // Every value of the input as a number and as a password.
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(begin, end - begin);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            CheckNumber(line.substr(equals + 1));
            CheckPassword(line.substr(equals + 1));
        }
        begin = end + 1;
    }

    core::AppConfig config;
    const bool loaded = config.LoadConfiguration();
    const std::string configFile = config.ConfigFilePath();
    const std::string portText = platform::ReadProfileString("ServerInfo", "ServerProt", "", configFile);
    if (loaded) {
        if (config.serverPort < 1 || config.serverPort > 65535 || config.serverPort != ReferenceNumber(portText))
            std::abort();
        if (config.serverList.empty() || config.serverPath.empty()) std::abort();
        for (const std::string& server : config.serverList)
            if (server.empty() || server.find(';') != std::string::npos) std::abort();
        if (config.recordDiskReserve <= 0 || config.recordFileSize <= 0 || config.treeColumnWidth < 0) std::abort();
    } else {
        config.LoadSavedUsers();  // what the login window would still show
    }

    const int claimed = ReferenceNumber(platform::ReadProfileString("UserInfo", "UserNumber", "", config.userFilePath));
    if (config.savedUsers.size() > static_cast<std::size_t>(std::clamp(claimed, 0, core::AppConfig::kMaxSavedUsers)))
        std::abort();
    for (const core::SavedUser& user : config.savedUsers)
        if (user.name.empty() || user.remember != !user.password.empty() || user.deleted) std::abort();

    // Saved and read again, the remembered users are the same.
    config.SaveSavedUsers();
    core::AppConfig reloaded;
    reloaded.LoadSavedUsers();
    if (!SameUsers(config.savedUsers, reloaded.savedUsers)) std::abort();
    return 0;
}
