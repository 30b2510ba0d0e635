// The real programs end to end, looked at only from outside:
//  - the program as `cmake --install` lays it out (a broken layout fails here), logged
//    into larkview-sim running as a process of its own, with a remembered auto-login
//    user and a saved wall holding one camera; its log, the service's log and a
//    picture the window writes of itself tell that it logged in, built the tree and
//    showed that camera's pictures; SIGTERM, as a desktop session ends programs, ends
//    it like the exit dialog's "shut_down": exit code 0, the wall written, no dump;
//  - tools/demo.sh's hand-off: it starts the service, points the program directory's
//    appConfig.ini at it, the client logs in, and ending the client stops the service.
// Every wait is for an event (a log line, a file, a process ending), with deadlines
// long enough for a loaded two-core machine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/cell_picture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A camera of the demo tree that is online, in service and always in its viewing plan.
constexpr const char* kCamera = "31000001";
constexpr const char* kOtherCamera = "31000002";
// "larkview" in appUser.ini's encoding: each byte's number followed by an at-sign.
constexpr const char* kEncodedPassword = "108@97@114@107@118@105@101@119@";
constexpr auto kStartLimit = 60s;  // a login, a tree and a camera's first clip encoded
constexpr auto kEndLimit = 30s;

QString Text(const QString& file) {
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
}

void Write(const QString& file, const QString& text, QFileDevice::Permissions permissions = {}) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate)) << file.toStdString();
    out.write(text.toUtf8());
    if (permissions) out.setPermissions(permissions);
}

// Polls `done` until it holds; false after `limit` or once `process` (if any) ended.
bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit, QProcess* process = nullptr) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        if (!process) {
            std::this_thread::sleep_for(100ms);
        } else if (process->waitForFinished(100) || process->state() == QProcess::NotRunning) {
            return done();  // (without an event loop only a wait notices the end)
        }
    }
    return done();
}

QString IniValue(const QString& file, const QString& key) { return QSettings(file, QSettings::IniFormat).value(key).toString(); }

// A child process with its output and errors in one file; killed if still running at the end.
class Child {
public:
    Child(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
          const QString& directory, const QString& output)
        : output_(output) {
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(directory);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(output);
        process_.start(program, arguments);
        process_.waitForStarted(10000);
    }
    ~Child() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(10000);
    }
    QProcess& Process() { return process_; }
    qint64 Pid() const { return process_.processId(); }
    // Waits for the process to end by itself; true when it did within `limit`.
    bool Ended(std::chrono::seconds limit) {
        return process_.waitForFinished(static_cast<int>(std::chrono::milliseconds(limit).count()));
    }
    QString Output() const { return Text(output_); }

private:
    QProcess process_;
    QString output_;
};

// The environment of a user without a desktop session: no display, no keyring (the
// remembered password stays in appUser.ini), every XDG folder under `home`.
QProcessEnvironment UserEnvironment(const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "LARKVIEW_DISPLAY"})
        environment.remove(name);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("XDG_STATE_HOME", home + "/state");
    environment.insert("XDG_CACHE_HOME", home + "/cache");
    environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
    QDir().mkpath(home + "/runtime");
    QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return environment;
}

QString AutoLoginUsers() {
    return QString("[UserInfo]\nUserNumber=1\n[User 0]\nUserName=demo\nPassWord=%1\nAutoLogin=1\n").arg(kEncodedPassword);
}

// The installed tree, made once for both scenarios: `cmake --install` of this build.
struct Install {
    testing_support::TempDir dir;
    QString prefix = QString::fromStdString(dir.File("prefix"));
    QString log;
    bool ok = false;
};
const Install& Installed() {
    static Install install = [] {
        Install made;
        QProcess cmake;
        cmake.setProcessChannelMode(QProcess::MergedChannels);
        cmake.start(LARKVIEW_CMAKE, {"--install", LARKVIEW_BUILD_DIR, "--prefix", made.prefix});
        made.ok = cmake.waitForFinished(120000) && cmake.exitStatus() == QProcess::NormalExit && cmake.exitCode() == 0;
        made.log = QString::fromUtf8(cmake.readAll());
        return made;
    }();
    return install;
}

// ---- the simulated service as its own process ----

struct Service {
    std::unique_ptr<Child> child;
    QString state, log;
    int masterPort = 0;
    QString serverPath;
};

Service StartService(const QString& dir, const QProcessEnvironment& environment) {
    Service service;
    service.state = dir + "/sim-state.ini";
    service.log = dir + "/sim.log";
    // As tools/demo.sh starts it (free ports, a state file naming them), logging each
    // request; small, short clips keep the encoding cheap.
    service.child = std::make_unique<Child>(
        LARKVIEW_SIM_PROGRAM,
        QStringList{"--listen=127.0.0.1", "--master-port=0", "--proxy-port=0", "--db=" + dir + "/sim.db",
                    "--state=" + service.state, "--verbose", "--camera-video=352x288@25", "--clip-seconds=2"},
        environment, dir, service.log);
    WaitFor([&] { return IniValue(service.state, "Ports/Master").toInt() > 0; }, kStartLimit, &service.child->Process());
    service.masterPort = IniValue(service.state, "Ports/Master").toInt();
    service.serverPath = IniValue(service.state, "Service/ServerPath");
    return service;
}

std::string Diagnosis(const QStringList& files) {
    std::string text;
    for (const QString& file : files) text += "\n--- " + file.toStdString() + "\n" + Text(file).right(4000).toStdString();
    return text;
}

TEST(InstalledProgram, LogsInShowsTheSavedCameraAndQuitsCleanlyOnSigterm) {
    const Install& install = Installed();
    ASSERT_TRUE(install.ok) << "cmake --install failed:\n" << install.log.toStdString();

    // The installed layout: the program, its decoding library and skins beside it, the
    // default settings, the installed marker, and the link on the PATH.
    const QString lib = install.prefix + "/lib/larkview";
    for (const char* file : {"larkview", "libvdec.so", "skinFiles/LoginWin.xml", "skinFiles/MainFrameWnd/MainWin.xml",
                             "waiting.bmp", "appConfig.ini", "appSavePath.ini", "larkview-installed"})
        EXPECT_TRUE(QFileInfo(lib + "/" + file).isFile()) << "not installed: lib/larkview/" << file;
    EXPECT_EQ(QFileInfo(install.prefix + "/bin/larkview").canonicalFilePath(), QFileInfo(lib + "/larkview").canonicalFilePath());

    testing_support::TempDir dir;
    const QString home = QString::fromStdString(dir.Path());
    const QProcessEnvironment environment = UserEnvironment(home);
    Service service = StartService(home, environment);
    ASSERT_GT(service.masterPort, 0) << "the simulated service did not start" << Diagnosis({service.log});

    // The user's settings: the service, demo remembered for auto-login, and a wall of
    // one cell holding the camera (a line the program does not write marks the file),
    // named by the upper-case MD5 digest of the lower-case user name.
    const QString settings = home + "/config/larkview";
    QDir().mkpath(settings);
    QFile::setPermissions(settings, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    Write(settings + "/appConfig.ini", QString("[ServerInfo]\nServerIp=127.0.0.1\nServerProt=%1\nServerPath=%2\n")
                                           .arg(service.masterPort)
                                           .arg(service.serverPath));
    Write(settings + "/appUser.ini", AutoLoginUsers(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString wallFile =
        settings + "/wallLayouts/" + QCryptographicHash::hash("demo", QCryptographicHash::Md5).toHex().toUpper() + ".ini";
    Write(wallFile, QString("[Wall]\nLayout=1\nSelected=0\nCell0=%1\nWrittenBy=test\n").arg(kCamera));

    const QString picture = home + "/window.png";
    QProcessEnvironment clientEnvironment = environment;
    clientEnvironment.insert("LARKVIEW_WINDOW_PICTURE", picture);
    const QString log = home + "/state/larkview/appLogs/Manage.log";
    Child client(install.prefix + "/bin/larkview", {}, clientEnvironment, home, home + "/larkview.out");
    const auto diagnosis = [&] { return Diagnosis({home + "/larkview.out", log, service.log}); };

    ASSERT_TRUE(WaitFor([&] { return Text(log).contains("window picture "); }, kStartLimit, &client.Process()))
        << "the program did not show the saved camera" << diagnosis();

    // Its log: logged in, the tree built, the camera's forwarding link up.
    const QString clientLog = Text(log);
    EXPECT_TRUE(clientLog.contains("tree loaded")) << diagnosis();
    EXPECT_TRUE(clientLog.contains("main window init complete")) << diagnosis();
    EXPECT_TRUE(clientLog.contains("连接转发成功")) << diagnosis();
    // The service's own record: the login, the list and the camera's link.
    const QString serviceLog = Text(service.log);
    EXPECT_TRUE(serviceLog.contains("login demo -> 1")) << diagnosis();
    EXPECT_TRUE(QRegularExpression("camera list demo -> [1-9][0-9]* rows").match(serviceLog).hasMatch()) << diagnosis();
    EXPECT_TRUE(QRegularExpression(QString("link open %1\\S* accepted").arg(kCamera)).match(serviceLog).hasMatch())
        << diagnosis();
    // The settings folder got the default it lacked from beside the program.
    EXPECT_TRUE(QFileInfo(settings + "/appSavePath.ini").isFile());

    // The picture: the cell shows this camera, not an empty cell and not another camera.
    const QRegularExpressionMatch place =
        QRegularExpression("window picture written to .*: cell 0 at (\\d+),(\\d+) size (\\d+)x(\\d+)").match(clientLog);
    ASSERT_TRUE(place.hasMatch()) << diagnosis();
    const QImage window(picture);
    ASSERT_FALSE(window.isNull()) << "no picture in " << picture.toStdString();
    const QImage cell = window.copy(place.captured(1).toInt(), place.captured(2).toInt(), place.captured(3).toInt(),
                                    place.captured(4).toInt()).convertToFormat(QImage::Format_RGB32);
    ASSERT_GT(cell.width(), 100);
    ASSERT_GT(cell.height(), 80);
    const double own = testing_support::CameraLikeness(cell, kCamera);
    const double other = testing_support::CameraLikeness(cell, kOtherCamera);
    std::printf("cell %dx%d; blocks like camera %s: %.2f, like camera %s: %.2f\n", cell.width(), cell.height(), kCamera,
                own, kOtherCamera, other);
    EXPECT_GT(own, 0.75) << "the cell does not show camera " << kCamera << " (other camera " << other << ")";
    EXPECT_LT(other, 0.5);
    if (HasFailure()) cell.save(QString::fromStdString(LARKVIEW_BUILD_DIR) + "/installed_program_cell.png");

    // Ended as a desktop session ends it: a normal quit.
    ASSERT_EQ(kill(static_cast<pid_t>(client.Pid()), SIGTERM), 0);
    ASSERT_TRUE(client.Ended(kEndLimit)) << "SIGTERM did not end the program" << diagnosis();
    EXPECT_EQ(client.Process().exitStatus(), QProcess::NormalExit) << diagnosis();
    EXPECT_EQ(client.Process().exitCode(), 0) << diagnosis();
    EXPECT_TRUE(Text(log).contains("signal 15: the program quits")) << diagnosis();
    const QString wall = Text(wallFile);
    EXPECT_FALSE(wall.contains("WrittenBy")) << "the wall layout was not written at the end:\n" << wall.toStdString();
    EXPECT_TRUE(wall.contains(QString("Cell0=%1").arg(kCamera))) << wall.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home + "/state/larkview/Larkview.dmp")) << "a crash dump was written";
    for (const char* written : {"appUser.ini", "appLogs", "wallLayouts"})
        EXPECT_FALSE(QFileInfo::exists(lib + "/" + written)) << "the installed copy wrote beside itself: " << written;
}

// The id of a running child of `parent` whose command is `name`, or 0.
pid_t ChildNamed(qint64 parent, const std::string& name) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        // "pid (comm) state ppid ..."; the command may hold spaces but not ") ".
        const QString stat = Text(QString::fromStdString(entry.path().string() + "/stat"));
        const int close = stat.lastIndexOf(')');
        const QStringList rest = stat.mid(close + 2).split(' ');
        if (close < 0 || rest.size() < 2 || rest[1].toLongLong() != parent) continue;
        if (stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1).toStdString() == name) return std::stoi(pid);
    }
    return 0;
}

TEST(DemoScript, StartsTheServiceAndHandsItsPortToTheClient) {
    const Install& install = Installed();
    ASSERT_TRUE(install.ok) << "cmake --install failed:\n" << install.log.toStdString();

    // A build folder of its own for the script (it writes into bin/): a portable copy
    // of the installed files (linked, without the marker), the service beside them.
    testing_support::TempDir dir;
    const QString root = QString::fromStdString(dir.Path());
    const fs::path bin = dir.File("demo/bin");
    const fs::path lib = install.prefix.toStdString() + "/lib/larkview";
    std::error_code error;
    fs::create_directories(bin.parent_path(), error);
    fs::copy(lib, bin, fs::copy_options::recursive | fs::copy_options::create_hard_links, error);
    ASSERT_FALSE(error) << error.message();
    // The files the script and the client write are the copy's own, not links into the install.
    fs::remove(bin / "larkview-installed");
    for (const char* ini : {"appConfig.ini", "appSavePath.ini"}) {
        fs::remove(bin / ini);
        fs::copy_file(lib / ini, bin / ini, error);
        ASSERT_FALSE(error) << ini << ": " << error.message();
    }
    fs::create_symlink(LARKVIEW_SIM_PROGRAM, bin / "larkview-sim", error);
    ASSERT_FALSE(error) << error.message();
    const QString binDir = QString::fromStdString(bin.string());
    Write(binDir + "/appUser.ini", AutoLoginUsers(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    Child demo("bash", {LARKVIEW_SOURCE_DIR "/tools/demo.sh", root + "/demo"}, UserEnvironment(root), root,
               root + "/demo.out");
    const QString log = binDir + "/appLogs/Manage.log";
    const auto diagnosis = [&] { return Diagnosis({root + "/demo.out", log, binDir + "/larkview-sim.log"}); };
    ASSERT_TRUE(WaitFor([&] { return Text(log).contains("main window init complete"); }, kStartLimit, &demo.Process()))
        << "the demo's client did not log in" << diagnosis();

    // The script's hand-off: the port it announced is the service's and the config's.
    const QRegularExpressionMatch announced =
        QRegularExpression("master port (\\d+); log in as demo / larkview").match(demo.Output());
    ASSERT_TRUE(announced.hasMatch()) << diagnosis();
    const QString port = announced.captured(1);
    EXPECT_EQ(IniValue(binDir + "/appConfig.ini", "ServerInfo/ServerProt"), port) << diagnosis();
    EXPECT_TRUE(Text(binDir + "/larkview-sim.log").contains("master 127.0.0.1:" + port)) << diagnosis();

    // The client ends as a session ends it; the script then ends and stops the service.
    const pid_t client = ChildNamed(demo.Pid(), "larkview");
    ASSERT_NE(client, 0) << "no client process under the demo script";
    ASSERT_EQ(kill(client, SIGTERM), 0);
    ASSERT_TRUE(demo.Ended(kEndLimit)) << "the demo script did not end with its client" << diagnosis();
    EXPECT_EQ(demo.Process().exitCode(), 0) << diagnosis();
    EXPECT_TRUE(Text(binDir + "/larkview-sim.log").contains("larkview-sim: stopped")) << diagnosis();
}

}  // namespace

int main(int argc, char** argv) {
    // The reference pictures draw their text as the service does, through Qt's fonts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
