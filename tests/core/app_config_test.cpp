#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "core/app_config.h"
#include "core/log_file.h"
#include "core/user_folders.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

using core::AppConfig;
using core::SavedUser;
using testing_support::TempDir;

namespace {

// The permission bits of a file or folder.
unsigned ModeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A secret store in memory that can be switched off.
class TestSecretStore : public core::SecretStore {
public:
    std::map<std::string, std::string> secrets;
    bool answering = true;
    Result Read(const std::string& account, std::string& password) override {
        if (!answering) return Result::kUnavailable;
        auto it = secrets.find(account);
        if (it == secrets.end()) return Result::kNotFound;
        password = it->second;
        return Result::kDone;
    }
    Result Write(const std::string& account, const std::string& password) override {
        if (!answering) return Result::kUnavailable;
        secrets[account] = password;
        return Result::kDone;
    }
    Result Remove(const std::string& account) override {
        if (!answering) return Result::kUnavailable;
        return secrets.erase(account) ? Result::kDone : Result::kNotFound;
    }
};

class AppConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::LogFile::Destroy();
        platform::SetProgramDirectory(dir.Path());
    }
    void TearDown() override {
        core::LogFile::Destroy();
        platform::SetWritableDirectories("", "", "");
        platform::SetProgramDirectory("");
    }

    void WriteServerInfo(const std::string& body) { dir.Write("appConfig.ini", "[ServerInfo]\n" + body); }

    TempDir dir;
};

}  // namespace

TEST(PasswordEncoding, BytesAreSignedDecimalsEachFollowedByAtSign) {
    EXPECT_EQ(core::EncodePassword("ab"), "97@98@");
    EXPECT_EQ(core::EncodePassword(""), "");
    EXPECT_EQ(core::EncodePassword("\xC3\xA9"), "-61@-87@") << "bytes above 127 are negative";
    EXPECT_EQ(core::DecodePassword("-61@-87@"), "\xC3\xA9");
    EXPECT_EQ(core::DecodePassword("97@98"), "ab") << "a trailing piece without '@' still counts";
    EXPECT_EQ(core::DecodePassword(""), "");
    // A damaged file gives no password rather than a wrong one (an empty piece was a NUL
    // byte, 300 became 44).
    for (const char* damaged : {"97@@98@", "300@", "097@", "+97@", "97x@", "@"})
        EXPECT_EQ(core::DecodePassword(damaged), "") << damaged;
    for (std::string password : {"p@ss;word", "中文密码", "x"}) EXPECT_EQ(core::DecodePassword(core::EncodePassword(password)), password);
}

TEST(UserSections, IndexIsPaddedToWidthTwo) {
    EXPECT_EQ(core::UserSectionName(0), "User 0");
    EXPECT_EQ(core::UserSectionName(9), "User 9");
    EXPECT_EQ(core::UserSectionName(10), "User10");
}

TEST_F(AppConfigTest, LoadsServersSkippingEmptyItemsAndDefaults) {
    WriteServerInfo("ServerIp=10.1.1.1;;10.1.1.2;\nServerProt=8000\nServerPath=/master/lookup\n");
    dir.Write("appSavePath.ini", "[VideoSavePath]\nRecRemain=0\nFileSize=-5\npath=/rec\n[ManagerSys]\nmngAddr=http://m\n");
    AppConfig config;
    ASSERT_TRUE(config.LoadConfiguration());
    EXPECT_EQ(config.serverList, (std::vector<std::string>{"10.1.1.1", "10.1.1.2"}));
    EXPECT_EQ(config.serverPort, 8000);
    EXPECT_EQ(config.serverPath, "/master/lookup");
    EXPECT_EQ(config.recordDiskReserve, 15);
    EXPECT_EQ(config.recordFileSize, 30);
    EXPECT_EQ(config.recordSavePath, "/rec");
    EXPECT_EQ(config.managementAddress, "http://m");
    EXPECT_EQ(config.showResolution, 0);
    EXPECT_TRUE(config.savedUsers.empty());
}

TEST_F(AppConfigTest, EmptyRecordPathBecomesTheUsersVideosFolder) {
    WriteServerInfo("ServerIp=10.1.1.1\nServerProt=8000\nServerPath=/m\n");
    dir.Write("appSavePath.ini", "[VideoSavePath]\npath=\n");
    const char* videos = std::getenv("XDG_VIDEOS_DIR");
    const std::string saved = videos ? videos : "";
    setenv("XDG_VIDEOS_DIR", "/home/someone/Movies", 1);
    AppConfig config;
    ASSERT_TRUE(config.LoadConfiguration());
    EXPECT_EQ(config.recordSavePath, "/home/someone/Movies/Larkview");
    unsetenv("XDG_VIDEOS_DIR");
    const char* home = std::getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(platform::DefaultRecordRoot(), std::string(home) + "/Videos/Larkview");
    }
    if (videos) setenv("XDG_VIDEOS_DIR", saved.c_str(), 1);
}

TEST_F(AppConfigTest, LoadingFailsWithoutServerSettings) {
    AppConfig config;
    EXPECT_FALSE(config.LoadConfiguration()) << "no appConfig.ini at all";
    WriteServerInfo("ServerIp=10.1.1.1\nServerPath=/p\n");
    EXPECT_FALSE(config.LoadConfiguration()) << "missing port reads as 0";
    WriteServerInfo("ServerIp=10.1.1.1\nServerProt=abc\nServerPath=/p\n");
    EXPECT_FALSE(config.LoadConfiguration()) << "non-numeric port reads as 0";
    WriteServerInfo("ServerIp=10.1.1.1\nServerProt=4294967376\nServerPath=/p\n");
    EXPECT_FALSE(config.LoadConfiguration()) << "no port, although atoi wraps it round to 80";
    WriteServerInfo("ServerIp=10.1.1.1\nServerProt=65536\nServerPath=/p\n");
    EXPECT_FALSE(config.LoadConfiguration()) << "beyond the port range";
    WriteServerInfo("ServerIp=;;\nServerProt=80\nServerPath=/p\n");
    EXPECT_FALSE(config.LoadConfiguration()) << "no server among the items";
    WriteServerInfo("ServerProt=80\nServerPath=/p\n");
    EXPECT_FALSE(config.LoadConfiguration());
    WriteServerInfo("ServerIp=h\nServerProt=80\n");
    EXPECT_FALSE(config.LoadConfiguration());
}

TEST_F(AppConfigTest, ShowResolutionIsReadOnlyWhenPresent) {
    WriteServerInfo("ServerIp=h\nServerProt=80\nServerPath=/p\n");
    dir.Write("appSavePath.ini", "[AdminConfig]\nShowRsl=1\n");
    AppConfig config;
    ASSERT_TRUE(config.LoadConfiguration());
    EXPECT_EQ(config.showResolution, 1);
}

TEST_F(AppConfigTest, SavingSkipsDeletedAndForgetsUnrememberedPasswords) {
    AppConfig config;
    config.savedUsers = {SavedUser{"one", "pw1", true, true, false}, SavedUser{"two", "pw2", false, true, true},
                         SavedUser{"three", "pw3", false, false, false}};
    config.SaveSavedUsers();
    const std::string file = dir.File("appUser.ini");
    EXPECT_EQ(ModeOf(file), 0600u) << "passwords in the file are its owner's alone";
    EXPECT_EQ(platform::ReadProfileString("UserInfo", "UserNumber", "", file), "2");
    EXPECT_EQ(platform::ReadProfileString("User 1", "UserName", "", file), "three");
    EXPECT_EQ(platform::ReadProfileString("User 1", "PassWord", "x", file), "");
    EXPECT_EQ(platform::ReadProfileString("User 2", "UserName", "none", file), "none");

    AppConfig reloaded;
    reloaded.LoadSavedUsers();
    ASSERT_EQ(reloaded.savedUsers.size(), 2u);
    EXPECT_EQ(reloaded.savedUsers[0].name, "one");
    EXPECT_EQ(reloaded.savedUsers[0].password, "pw1");
    EXPECT_TRUE(reloaded.savedUsers[0].autoLogin);
    EXPECT_TRUE(reloaded.savedUsers[0].remember);
    EXPECT_FALSE(reloaded.savedUsers[1].remember);
    EXPECT_TRUE(reloaded.savedUsers[1].password.empty());
}

TEST_F(AppConfigTest, RememberedPasswordsLiveInTheSecretStoreWhileItAnswers) {
    // A file of an earlier version: encoded password, world-readable.
    dir.Write("appUser.ini", "[UserInfo]\nUserNumber=1\n[User 0]\nUserName=old\nPassWord=" +
                                 core::EncodePassword("old-pw") + "\nAutoLogin=0\n");
    ::chmod(dir.File("appUser.ini").c_str(), 0644);
    auto store = std::make_shared<TestSecretStore>();
    AppConfig config;
    config.SetSecretStore(store);
    config.LoadSavedUsers();
    ASSERT_EQ(config.savedUsers.size(), 1u);
    EXPECT_EQ(config.savedUsers[0].password, "old-pw") << "existing files still log in";

    // A login with "remember password" moves both passwords into the store.
    config.currentUserName = "demo";
    config.currentUserPassword = "demo-pw";
    config.currentUserRemember = true;
    config.StoreCurrentUser();
    const std::string file = dir.File("appUser.ini");
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(platform::ReadProfileString("User 0", "PassWord", "x", file), "");
    EXPECT_EQ(platform::ReadProfileString("User 1", "PassWord", "x", file), "");
    EXPECT_EQ((std::map<std::string, std::string>{{"demo", "demo-pw"}, {"old", "old-pw"}}), store->secrets);

    AppConfig reloaded;
    reloaded.SetSecretStore(store);
    reloaded.LoadSavedUsers();
    ASSERT_EQ(reloaded.savedUsers.size(), 2u);
    EXPECT_EQ(reloaded.savedUsers[0].password, "demo-pw");
    EXPECT_TRUE(reloaded.savedUsers[0].remember);

    // Not remembered any more: gone from the store too.
    reloaded.savedUsers[1].remember = false;
    reloaded.SaveSavedUsers();
    EXPECT_EQ(store->secrets.count("old"), 0u);

    // A store that stops answering: the file's own encoding, said once in the log.
    store->answering = false;
    reloaded.savedUsers[1].remember = true;
    reloaded.SaveSavedUsers();
    reloaded.SaveSavedUsers();
    EXPECT_EQ(core::DecodePassword(platform::ReadProfileString("User 0", "PassWord", "", file)), "demo-pw");
    EXPECT_EQ(core::DecodePassword(platform::ReadProfileString("User 1", "PassWord", "", file)), "old-pw");
    EXPECT_EQ(ModeOf(file), 0600u) << "rewritten files keep the owner-only mode";
    core::LogFile::Destroy();
    const std::string log = Slurp(dir.File("appLogs/Manage.log"));
    std::size_t said = 0;
    for (std::size_t at = log.find("no secret store answered"); at != std::string::npos;
         at = log.find("no secret store answered", at + 1))
        ++said;
    EXPECT_EQ(said, 1u) << log;
    EXPECT_EQ(ModeOf(dir.File("appLogs")), 0700u);
    EXPECT_EQ(ModeOf(dir.File("appLogs/Manage.log")), 0600u);
}

TEST_F(AppConfigTest, StoringUserMatchesCaseInsensitivelyAndSwapsToFront) {
    AppConfig config;
    config.savedUsers = {SavedUser{"first", "a", true, true, false}, SavedUser{"second", "b", false, true, false},
                         SavedUser{"Third", "c", false, true, false}};
    config.currentUserName = "tHIRD";
    config.currentUserPassword = "new";
    config.currentUserRemember = true;
    config.StoreCurrentUser();
    ASSERT_EQ(config.savedUsers.size(), 3u);
    EXPECT_EQ(config.savedUsers[0].name, "Third");
    EXPECT_EQ(config.savedUsers[0].password, "new");
    EXPECT_EQ(config.savedUsers[1].name, "second");
    EXPECT_EQ(config.savedUsers[2].name, "first") << "the former first entry takes the matched entry's place";

    config.currentUserName = "fourth";
    config.StoreCurrentUser();
    EXPECT_EQ(config.savedUsers[0].name, "fourth");
    EXPECT_EQ(config.savedUsers.size(), 4u);

    AppConfig reloaded;
    reloaded.LoadSavedUsers();
    ASSERT_EQ(reloaded.savedUsers.size(), 4u);
    EXPECT_EQ(reloaded.savedUsers[1].name, "Third");
}

// The login window keeps ten users; the file's count is only a claim.
TEST_F(AppConfigTest, UserFileKeepsTenUsersWhateverItsCountClaims) {
    AppConfig config;
    for (int i = 0; i < 12; ++i) config.savedUsers.push_back(SavedUser{"u" + std::to_string(i), "p", false, true, false});
    config.SaveSavedUsers();
    const std::string file = dir.File("appUser.ini");
    EXPECT_EQ(platform::ReadProfileString("UserInfo", "UserNumber", "", file), "10");
    EXPECT_EQ(platform::ReadProfileString("User 9", "UserName", "", file), "u9");
    EXPECT_EQ(platform::ReadProfileString("User10", "UserName", "", file), "");
    AppConfig reloaded;
    reloaded.LoadSavedUsers();
    ASSERT_EQ(reloaded.savedUsers.size(), 10u);
    EXPECT_EQ(reloaded.savedUsers[9].name, "u9");

    // A new user goes to the front and the oldest is forgotten.
    reloaded.currentUserName = "new";
    reloaded.StoreCurrentUser();
    ASSERT_EQ(reloaded.savedUsers.size(), 10u);
    EXPECT_EQ(reloaded.savedUsers.front().name, "new");
    EXPECT_EQ(reloaded.savedUsers.back().name, "u8");

    // A huge count with sections missing: start-up neither hangs nor shows empty users.
    dir.Write("appUser.ini", "[UserInfo]\nUserNumber=2000000000\n[User 1]\nUserName=b\n[User 3]\nUserName=d\n");
    AppConfig huge;
    huge.LoadSavedUsers();
    ASSERT_EQ(huge.savedUsers.size(), 2u);
    EXPECT_EQ(huge.savedUsers[0].name, "b");
    EXPECT_EQ(huge.savedUsers[1].name, "d");
}

TEST_F(AppConfigTest, AutoLoginUserAndItsReset) {
    AppConfig config;
    config.savedUsers = {SavedUser{"a", "pa", false, true, false}, SavedUser{"b", "pb", true, true, false}};
    ASSERT_TRUE(config.FindAutoLoginUser());
    EXPECT_EQ(config.currentUserName, "b");
    EXPECT_EQ(config.currentUserPassword, "pb");
    EXPECT_TRUE(config.currentUserAutoLogin);

    config.currentUserName = "b";
    config.StoreCurrentUser();  // b moves to "User 0" with auto-login
    config.ResetFirstUserAutoLogin();
    AppConfig reloaded;
    reloaded.LoadSavedUsers();
    EXPECT_FALSE(reloaded.FindAutoLoginUser());
}

TEST_F(AppConfigTest, RecordingSettingsAreStoredAsTyped) {
    WriteServerInfo("ServerIp=h\nServerProt=80\nServerPath=/p\n");
    dir.Write("appSavePath.ini", "[ManagerSys]\nmngAddr=keep\n");
    AppConfig config;
    config.recordSavePath = "/videos";
    config.SaveRecordingSettings("20", "abc");
    EXPECT_EQ(config.recordDiskReserve, 20);
    EXPECT_EQ(config.recordFileSize, 0);
    const std::string file = dir.File("appSavePath.ini");
    EXPECT_EQ(platform::ReadProfileString("VideoSavePath", "FileSize", "", file), "abc");
    EXPECT_EQ(platform::ReadProfileString("ManagerSys", "mngAddr", "", file), "keep");
    ASSERT_TRUE(config.LoadConfiguration());
    EXPECT_EQ(config.recordFileSize, 30) << "an unusable stored size loads as the default";
    EXPECT_EQ(config.recordSavePath, "/videos");
}

TEST_F(AppConfigTest, MalformedUserFileDoesNotCrash) {
    dir.Write("appUser.ini", "[UserInfo]\nUserNumber=3\n[User 0]\nUserName\nPassWord=@@@x@\n[User 2]\nUserName=z\n");
    AppConfig config;
    config.LoadSavedUsers();
    ASSERT_EQ(config.savedUsers.size(), 1u) << "a section without a name and a missing one are skipped";
    EXPECT_EQ(config.savedUsers[0].name, "z");
}

namespace {

// Sets environment variables for one scenario and puts the old values back.
class ScopedEnvironment {
public:
    void Set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

bool NeverWritable(const std::string&) { return false; }

}  // namespace

// A portable copy keeps writing beside the program. An installed one (read-only
// program folder, or the installed marker) reads its defaults from there once and
// then keeps settings, saved users and logs in the user's own XDG folders.
TEST_F(AppConfigTest, InstalledCopyKeepsItsFilesInTheUsersFoldersAPortableOneBesideItself) {
    EXPECT_TRUE(platform::CanCreateFilesIn(dir.Path()));
    EXPECT_FALSE(platform::CanCreateFilesIn("/proc")) << "the probe really tries: not even root creates files there";
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "the probe leaves nothing behind";

    // Portable: everything stays where it was.
    core::UserFolders portable = core::ChooseUserFolders(dir.Path(), platform::CanCreateFilesIn);
    EXPECT_FALSE(portable.installed);
    EXPECT_EQ(portable.settings, dir.Path());
    EXPECT_EQ(portable.state, dir.Path());
    ASSERT_TRUE(core::UseUserFolders(portable, dir.Path(), nullptr));
    EXPECT_EQ(platform::SettingsDirectory(), dir.Path());

    // Installed: a read-only program folder with the default ini files.
    TempDir home;
    ScopedEnvironment environment;
    environment.Set("HOME", home.Path().c_str());
    environment.Set("XDG_CONFIG_HOME", nullptr);
    environment.Set("XDG_STATE_HOME", "relative/state");  // not absolute: ignored
    environment.Set("XDG_CACHE_HOME", home.File("cache").c_str());
    WriteServerInfo("ServerIp=10.9.9.9\nServerProt=8000\nServerPath=/m\n");
    dir.Write("appSavePath.ini", "[ManagerSys]\nmngAddr=http://m\n");
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    // Root writes into a 0555 folder all the same: the hook answers as for any other user.
    const auto canWrite = geteuid() == 0 ? std::function<bool(const std::string&)>(NeverWritable)
                                         : std::function<bool(const std::string&)>(platform::CanCreateFilesIn);
    const core::UserFolders folders = core::ChooseUserFolders(dir.Path(), canWrite);
    EXPECT_TRUE(folders.installed);
    const std::string settings = home.File(".config/larkview");
    const std::string state = home.File(".local/state/larkview");
    EXPECT_EQ(folders.settings, settings);
    EXPECT_EQ(folders.state, state);
    EXPECT_EQ(folders.cache, home.File("cache/larkview"));
    std::string problem;
    ASSERT_TRUE(core::UseUserFolders(folders, dir.Path(), &problem)) << problem;
    EXPECT_EQ(platform::SettingsDirectory(), settings);
    EXPECT_EQ(platform::StateDirectory(), state);
    EXPECT_EQ(ModeOf(settings), 0700u);
    EXPECT_EQ(ModeOf(state), 0700u);
    EXPECT_EQ(Slurp(settings + "/appConfig.ini"), dir.Read("appConfig.ini")) << "the defaults are copied";
    EXPECT_FALSE(platform::IsRegularFile(settings + "/appUser.ini")) << "no default users, none made up";

    // The configuration reads the copy; saved users and the log land there too.
    platform::WriteProfileString("ServerInfo", "ServerIp", "127.0.0.1", settings + "/appConfig.ini");
    AppConfig config;
    ASSERT_TRUE(config.LoadConfiguration());
    EXPECT_EQ(config.serverList, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(config.managementAddress, "http://m");
    EXPECT_EQ(config.programDirectory, dir.Path());
    config.currentUserName = "demo";
    config.StoreCurrentUser();
    EXPECT_EQ(ModeOf(settings + "/appUser.ini"), 0600u);
    core::LogWrite("written to the user's state folder");
    EXPECT_NE(Slurp(state + "/appLogs/Manage.log").find("written to the user's state folder"), std::string::npos);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_FALSE(platform::IsRegularFile(dir.File("appUser.ini")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("appLogs"))) << "nothing is written beside an installed program";

    // The next start keeps the user's own settings; the marker alone also makes a copy installed.
    dir.Write(core::kInstalledMarker, "");
    const core::UserFolders marked = core::ChooseUserFolders(dir.Path(), platform::CanCreateFilesIn);
    EXPECT_TRUE(marked.installed) << "root's installed copy stays untouched too";
    ASSERT_TRUE(core::UseUserFolders(marked, dir.Path(), nullptr));
    EXPECT_EQ(platform::ReadProfileString("ServerInfo", "ServerIp", "", settings + "/appConfig.ini"), "127.0.0.1");

    // Without any home the installed copy has nowhere to write, and says so.
    environment.Set("HOME", nullptr);
    environment.Set("XDG_CACHE_HOME", nullptr);
    const core::UserFolders homeless = core::ChooseUserFolders(dir.Path(), NeverWritable);
    EXPECT_FALSE(core::UseUserFolders(homeless, dir.Path(), &problem));
    EXPECT_NE(problem.find("no home folder"), std::string::npos) << problem;
    platform::SetWritableDirectories("", "", "");
}
