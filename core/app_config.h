#pragma once
// The process-wide settings and the data of the current login. Only this class
// touches the three ini files next to the program.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/locked.h"
#include "core/secret_store.h"

namespace core {

struct SavedUser {
    std::string name;
    std::string password;  // plain; empty when not remembered
    bool autoLogin = false;
    bool remember = false;
    bool deleted = false;  // dropped at the next save
};

// Password text of appUser.ini: every byte as a signed decimal followed by '@' (the
// last '@' may be missing). A text with any other piece decodes to no password.
std::string EncodePassword(const std::string& password);
std::string DecodePassword(const std::string& encoded);

// "User%2d": a blank before one-digit indices.
std::string UserSectionName(int index);

// What the last accepted login reply told, with the name and password it was made
// with. The keep-alive thread's re-login replaces it while other threads read it, so
// it is only ever handed out as a whole copy.
struct LoginSession {
    std::string loginUserName;
    std::string loginPassword;
    std::string userId;
    std::string updateUrl;
    std::string uploadUrl;  // prefix of every alarm picture address
    std::string noticeText;
    std::array<std::uint8_t, 4> featureSwitches{};
    int accountKind = 1;
};

class AppConfig {
public:
    // The login window keeps this many remembered users, the most recent first.
    static constexpr int kMaxSavedUsers = 10;

    static AppConfig& Instance();

    AppConfig();

    // Where remembered passwords go when a store answers: appUser.ini then keeps an
    // empty password field. Without one (or when it stops answering, said once in the
    // log) they are kept in appUser.ini's own encoding, as before. Existing files with
    // encoded passwords are read as they are, and move to the store at the next save.
    void SetSecretStore(std::shared_ptr<SecretStore> store);

    // Reads appConfig.ini, the saved users and appSavePath.ini. False when the
    // master-server settings are missing or name no server, or the port is none.
    bool LoadConfiguration();
    // At most kMaxSavedUsers, whatever UserNumber claims; sections that are missing
    // (or name nobody) are skipped.
    void LoadSavedUsers();
    void SaveSavedUsers();
    // Remembers the current user at the front of the saved users (the oldest beyond
    // kMaxSavedUsers is forgotten) and saves them.
    void StoreCurrentUser();
    // Copies the first saved user with auto-login into the current-user fields.
    bool FindAutoLoginUser();
    // The server took a new password for the logged-in user: it becomes the current
    // and login password, and a remembered entry of the user keeps it (saved).
    void ChangeCurrentUserPassword(const std::string& password);
    // The name and password the next login (the keep-alive's re-login too) sends. The
    // login window sets the fields before any login runs; during a session only a
    // password change writes them, under the same lock this read takes.
    std::pair<std::string, std::string> CurrentCredentials() const;
    // Stores the recording settings (texts as typed) in appSavePath.ini.
    void SaveRecordingSettings(const std::string& diskReserveText, const std::string& fileSizeText);
    // Remembers the width the user gave the camera-tree column of the main window
    // (appSavePath.ini, [MainWin] TreeWidth).
    void SaveTreeColumnWidth(int pixels);
    // Switching account: the user just left must not be logged in again automatically.
    void ResetFirstUserAutoLogin();

    std::string ConfigFilePath() const;
    std::string SavePathFilePath() const;

    // Login data, safe from any thread.
    LoginSession Session() const { return session_.Get(); }
    void SetSession(LoginSession session) { session_.Set(std::move(session)); }
    std::string LoginUserName() const { return session_.With([](const LoginSession& s) { return s.loginUserName; }); }
    std::string LoginPassword() const { return session_.With([](const LoginSession& s) { return s.loginPassword; }); }
    std::string UserId() const { return session_.With([](const LoginSession& s) { return s.userId; }); }
    std::string UploadUrl() const { return session_.With([](const LoginSession& s) { return s.uploadUrl; }); }
    std::string NoticeText() const { return session_.With([](const LoginSession& s) { return s.noticeText; }); }
    bool FeatureSwitch(int k) const {
        return k >= 0 && k < 4 && session_.With([k](const LoginSession& s) { return s.featureSwitches[k] != 0; });
    }
    int AccountKind() const { return session_.With([](const LoginSession& s) { return s.accountKind; }); }

    std::vector<std::string> serverList;
    std::string serverPath;
    int serverPort = 0;
    std::string programDirectory;   // the program and its read-only data
    std::string settingsDirectory;  // the three ini files (platform::SettingsDirectory)
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
    // Width of the main window's camera-tree column; 0: the window's default.
    int treeColumnWidth = 0;

private:
    void FindFolders();
    // True when the password went to the store (the ini's field stays empty).
    bool KeepSecret(const std::string& user, const std::string& password);
    void ForgetSecret(const std::string& user);
    void StoreStoppedAnswering();

    std::shared_ptr<SecretStore> secretStore_;
    bool storeUnavailable_ = false;

    Locked<LoginSession> session_;
    // A copy of the configuration (tests keep one to restore) gets a lock of its own.
    struct CopyableMutex {
        CopyableMutex() = default;
        CopyableMutex(const CopyableMutex&) {}
        CopyableMutex& operator=(const CopyableMutex&) { return *this; }
        std::mutex mutex;
    };
    mutable CopyableMutex credentialsLock_;
};

}  // namespace core
