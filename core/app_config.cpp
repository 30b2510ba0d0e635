#include "core/app_config.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <strings.h>

#include "core/log_file.h"
#include "platform/ini_file.h"
#include "platform/text_split.h"
#include "platform/numbers.h"
#include "platform/paths.h"

namespace core {
namespace {

constexpr const char* kConfigFile = "appConfig.ini";
constexpr const char* kSavePathFile = "appSavePath.ini";
constexpr const char* kUserFile = "appUser.ini";

using platform::SplitKeepingEmpty;

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

std::string EncodePassword(const std::string& password) {
    std::string encoded;
    for (char c : password) {
        encoded += std::to_string(static_cast<int>(static_cast<signed char>(c)));
        encoded += '@';
    }
    return encoded;
}

std::string DecodePassword(const std::string& encoded) {
    std::string password;
    if (encoded.empty()) return password;
    std::vector<std::string> pieces = SplitKeepingEmpty(encoded, '@');
    // The text normally ends with '@', which leaves one empty piece that is no byte.
    if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
    for (const std::string& piece : pieces) {
        // Only the text EncodePassword writes for a byte counts. A damaged or edited
        // file ("@@", "300@", "97x@") gives no password rather than a wrong one that
        // the next login sends: the user types it again.
        const int value = platform::ParseInt(piece);
        if (value < -128 || value > 127 || piece != std::to_string(value)) return std::string();
        password += static_cast<char>(value);
    }
    return password;
}

std::string UserSectionName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "User%2d", index);
    return name;
}

AppConfig& AppConfig::Instance() {
    static AppConfig instance;
    return instance;
}

AppConfig::AppConfig() { FindFolders(); }

void AppConfig::FindFolders() {
    programDirectory = platform::ProgramDirectory();
    settingsDirectory = platform::SettingsDirectory();
    userFilePath = platform::JoinPath(settingsDirectory, kUserFile);
}

std::string AppConfig::ConfigFilePath() const { return platform::JoinPath(settingsDirectory, kConfigFile); }

std::string AppConfig::SavePathFilePath() const { return platform::JoinPath(settingsDirectory, kSavePathFile); }

bool AppConfig::LoadConfiguration() {
    savedUsers.clear();
    serverList.clear();
    FindFolders();

    const std::string config = ConfigFilePath();
    std::string servers = platform::ReadProfileString("ServerInfo", "ServerIp", "", config);
    // A port outside 1-65535 (or a number that wraps round in atoi) is no port.
    serverPort = platform::ParsePort(platform::ReadProfileString("ServerInfo", "ServerProt", "", config));
    serverPath = platform::ReadProfileString("ServerInfo", "ServerPath", "", config);
    if (servers.empty() || serverPort == 0 || serverPath.empty()) return false;

    for (std::string& item : SplitKeepingEmpty(servers, ';'))
        if (!item.empty()) serverList.push_back(std::move(item));
    // ";;" names no server: a configuration fault, not a network one to report later.
    if (serverList.empty()) return false;

    LoadSavedUsers();

    const std::string savePath = SavePathFilePath();
    managementAddress = platform::ReadProfileString("ManagerSys", "mngAddr", "", savePath);
    recordSavePath = platform::ReadProfileString("VideoSavePath", "path", "", savePath);
    // The classic default root is a drive letter; here the user's videos folder serves.
    if (recordSavePath.empty()) recordSavePath = platform::DefaultRecordRoot();
    recordDiskReserve = platform::ParseInt(platform::ReadProfileString("VideoSavePath", "RecRemain", "", savePath));
    if (recordDiskReserve <= 0) recordDiskReserve = 15;
    recordFileSize = platform::ParseInt(platform::ReadProfileString("VideoSavePath", "FileSize", "", savePath));
    if (recordFileSize <= 0) recordFileSize = 30;
    std::string showRsl = platform::ReadProfileString("AdminConfig", "ShowRsl", "", savePath);
    if (!showRsl.empty()) showResolution = platform::ParseInt(showRsl);
    treeColumnWidth = std::max(0, platform::ParseInt(platform::ReadProfileString("MainWin", "TreeWidth", "", savePath)));
    return true;
}

void AppConfig::LoadSavedUsers() {
    // Empty or missing reads as 0. The count is only a claim of the file: a huge one
    // must not become a loop of millions of file reads at start-up.
    const std::string countText = platform::ReadProfileString("UserInfo", "UserNumber", "", userFilePath);
    const int count = std::min(platform::ParseInt(countText), kMaxSavedUsers);
    for (int i = 0; i < count; ++i) {
        const std::string section = UserSectionName(i);
        SavedUser user;
        user.name = platform::ReadProfileString(section, "UserName", "", userFilePath);
        if (user.name.empty()) continue;  // no such section: nobody to show
        const std::string encoded = platform::ReadProfileString(section, "PassWord", "", userFilePath);
        user.password = DecodePassword(encoded);
        if (user.password.empty() && !encoded.empty())
            LogWrite("the remembered password of %s in %s is damaged: not used", user.name.c_str(), kUserFile);
        if (user.password.empty() && secretStore_ && !storeUnavailable_) {
            std::string kept;
            const SecretStore::Result result = secretStore_->Read(user.name, kept);
            if (result == SecretStore::Result::kDone) user.password = kept;
            if (result == SecretStore::Result::kUnavailable) StoreStoppedAnswering();
        }
        user.autoLogin = platform::ParseInt(platform::ReadProfileString(section, "AutoLogin", "", userFilePath)) == 1;
        user.remember = !user.password.empty();
        savedUsers.push_back(std::move(user));
    }
}

void AppConfig::SetSecretStore(std::shared_ptr<SecretStore> store) {
    secretStore_ = std::move(store);
    storeUnavailable_ = false;
}

void AppConfig::StoreStoppedAnswering() {
    if (storeUnavailable_) return;
    storeUnavailable_ = true;
    LogWrite("no secret store answered: remembered passwords are kept in %s", kUserFile);
}

bool AppConfig::KeepSecret(const std::string& user, const std::string& password) {
    if (!secretStore_ || storeUnavailable_) return false;
    if (secretStore_->Write(user, password) == SecretStore::Result::kDone) return true;
    StoreStoppedAnswering();
    return false;
}

void AppConfig::ForgetSecret(const std::string& user) {
    if (!secretStore_ || storeUnavailable_) return;
    if (secretStore_->Remove(user) == SecretStore::Result::kUnavailable) StoreStoppedAnswering();
}

void AppConfig::SaveSavedUsers() {
    // The file may hold passwords: its owner's alone, whatever the umask.
    platform::MakeOwnerOnlyFile(userFilePath);
    { std::ofstream truncate(userFilePath, std::ios::trunc); }
    int written = 0;
    for (const SavedUser& user : savedUsers) {
        if (user.deleted || written == kMaxSavedUsers) {
            ForgetSecret(user.name);
            continue;
        }
        const std::string section = UserSectionName(written);
        std::string passwordField;
        if (!user.remember || user.password.empty())
            ForgetSecret(user.name);
        else if (!KeepSecret(user.name, user.password))
            passwordField = EncodePassword(user.password);
        platform::WriteProfileString(section, "UserName", user.name, userFilePath);
        platform::WriteProfileString(section, "PassWord", passwordField, userFilePath);
        platform::WriteProfileString(section, "AutoLogin", user.autoLogin ? "1" : "0", userFilePath);
        ++written;
    }
    platform::WriteProfileString("UserInfo", "UserNumber", std::to_string(written), userFilePath);
}

void AppConfig::StoreCurrentUser() {
    auto found = savedUsers.end();
    for (auto it = savedUsers.begin(); it != savedUsers.end(); ++it) {
        if (SameNameIgnoringCase(it->name, currentUserName)) {
            found = it;
            break;
        }
    }
    if (found != savedUsers.end()) {
        found->password = currentUserPassword;
        found->autoLogin = currentUserAutoLogin;
        found->deleted = currentUserDeleted;
        found->remember = currentUserRemember;
        if (found != savedUsers.begin()) std::iter_swap(found, savedUsers.begin());
    } else {
        SavedUser user{currentUserName, currentUserPassword, currentUserAutoLogin, currentUserRemember,
                       currentUserDeleted};
        savedUsers.insert(savedUsers.begin(), std::move(user));
        while (savedUsers.size() > static_cast<std::size_t>(kMaxSavedUsers)) {
            ForgetSecret(savedUsers.back().name);
            savedUsers.pop_back();
        }
    }
    SaveSavedUsers();
}

void AppConfig::ChangeCurrentUserPassword(const std::string& password) {
    {
        std::lock_guard lock(credentialsLock_.mutex);
        currentUserPassword = password;
    }
    session_.Update([&](LoginSession& session) { session.loginPassword = password; });
    bool changed = false;
    for (SavedUser& user : savedUsers) {
        if (!SameNameIgnoringCase(user.name, currentUserName) || !user.remember) continue;
        user.password = password;
        changed = true;
    }
    if (changed) SaveSavedUsers();
}

std::pair<std::string, std::string> AppConfig::CurrentCredentials() const {
    std::lock_guard lock(credentialsLock_.mutex);
    return {currentUserName, currentUserPassword};
}

bool AppConfig::FindAutoLoginUser() {
    for (const SavedUser& user : savedUsers) {
        if (!user.autoLogin) continue;
        currentUserName = user.name;
        currentUserPassword = user.password;
        currentUserAutoLogin = user.autoLogin;
        currentUserRemember = user.remember;
        currentUserDeleted = user.deleted;
        return true;
    }
    return false;
}

void AppConfig::SaveRecordingSettings(const std::string& diskReserveText, const std::string& fileSizeText) {
    recordDiskReserve = platform::ParseInt(diskReserveText);
    recordFileSize = platform::ParseInt(fileSizeText);
    const std::string savePath = SavePathFilePath();
    platform::WriteProfileString("VideoSavePath", "path", recordSavePath, savePath);
    platform::WriteProfileString("VideoSavePath", "RecRemain", diskReserveText, savePath);
    platform::WriteProfileString("VideoSavePath", "FileSize", fileSizeText, savePath);
}

void AppConfig::SaveTreeColumnWidth(int pixels) {
    treeColumnWidth = std::max(0, pixels);
    platform::WriteProfileString("MainWin", "TreeWidth", std::to_string(treeColumnWidth), SavePathFilePath());
}

void AppConfig::ResetFirstUserAutoLogin() {
    platform::WriteProfileString(UserSectionName(0), "AutoLogin", "0", userFilePath);
}

}  // namespace core
