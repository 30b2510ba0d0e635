#pragma once
// The process-wide settings and the data of the current login. Only this class
// touches the three ini files next to the program.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace app {

struct SavedUser {
    std::string name;
    std::string password;  // plain; empty when not remembered
    bool autoLogin = false;
    bool remember = false;
    bool deleted = false;  // dropped at the next save
};

// Password text of appUser.ini: every byte as a signed decimal followed by '@'.
std::string EncodePassword(const std::string& password);
std::string DecodePassword(const std::string& encoded);

// "User%2d": a blank before one-digit indices.
std::string UserSectionName(int index);

class AppConfig {
public:
    static AppConfig& Instance();

    AppConfig();

    // Reads appConfig.ini, the saved users and appSavePath.ini. False when the
    // master-server settings are missing.
    bool LoadConfiguration();
    void LoadSavedUsers();
    void SaveSavedUsers();
    // Remembers the current user at the front of the saved users and saves them.
    void StoreCurrentUser();
    // Copies the first saved user with auto-login into the current-user fields.
    bool FindAutoLoginUser();
    // The server took a new password for the logged-in user: it becomes the current
    // and login password, and a remembered entry of the user keeps it (saved).
    void ChangeCurrentUserPassword(const std::string& password);
    // Stores the recording settings (texts as typed) in appSavePath.ini.
    void SaveRecordingSettings(const std::string& diskReserveText, const std::string& fileSizeText);
    // Switching account: the user just left must not be logged in again automatically.
    void ResetFirstUserAutoLogin();

    std::string ConfigFilePath() const;
    std::string SavePathFilePath() const;

    // Login data.
    std::string loginUserName;
    std::string loginPassword;
    std::string userId;
    std::string updateUrl;
    std::string uploadUrl;
    std::string noticeText;
    std::vector<std::string> serverList;
    std::string serverPath;
    int serverPort = 0;
    std::array<std::uint8_t, 4> featureSwitches{};
    std::string programDirectory;
    std::string userFilePath;

    // What the login window holds.
    std::string currentUserName;
    std::string currentUserPassword;
    bool currentUserAutoLogin = false;
    bool currentUserRemember = false;
    bool currentUserDeleted = false;
    std::vector<SavedUser> savedUsers;

    // Recording and display settings.
    int recordFileSize = 0;
    int recordDiskReserve = 15;
    std::string recordSavePath;
    std::string managementAddress;
    int showResolution = 0;
    int accountKind = 1;

private:
    void SetProgramDirectory();
};

}  // namespace app
