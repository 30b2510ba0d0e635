#pragma once
// A main window built from the real skin with a recording environment: tasks,
// control requests and the notify window are captured, the rights and rows are given
// by the test, and the walls see a 1920 × 1080 screen and no camera registry.

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "core/app_config.h"
#include "core/log_file.h"
#include "tasks/media_tasks.h"
#include "mainwin/main_win.h"
#include "platform/paths.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"
#include "ui/tree_fixture.h"

namespace testing_support {

class MainWinTest : public ::testing::Test {
protected:
    using Params = std::map<std::string, std::string>;

    void SetUp() override {
        core::LogFile::Destroy();
        platform::SetProgramDirectory(dir.Path());
        core::AppConfig& config = core::AppConfig::Instance();
        config.programDirectory = dir.Path();
        config.settingsDirectory = dir.Path();
        config.userFilePath = dir.File("appUser.ini");
        config.currentUserName = "demo";
        config.currentUserPassword = "larkview";
        core::LoginSession session;
        session.userId = "1";
        session.accountKind = 1;
        config.SetSession(session);
        config.recordSavePath = "/tmp/records";
        config.recordDiskReserve = 20;
        config.recordFileSize = 50;
        config.treeColumnWidth = 0;
        config.managementAddress.clear();
        rows = ThreeLevelRows();
        rows[6]->live = false;
    }
    void TearDown() override {
        window.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    mainwin::MainWinEnvironment Environment() {
        mainwin::MainWinEnvironment env;
        env.postTask = [this](platform::Message m) {
            if (refusePosts) return false;
            tasks.push_back(std::move(m));
            return true;
        };
        env.sendRequest = [this](int type, const Params& params) {
            requests.emplace_back(type, params);
            return static_cast<std::int32_t>(requests.size());
        };
        env.requestAuthorityList = [this](std::string& out) {
            out = rights;
            return rightsAnswered;
        };
        env.installReplyQueue = [this](mainwin::ReplyQueue* queue) { installedQueue = queue; };
        env.setNotifyWindow = [this](platform::WindowHandle handle) { notifyWindow = handle; };
        env.rows = [this] { return rows; };
        env.openUrl = [this](const std::string& url) {
            openedUrls.push_back(url);
            return urlOpens;
        };
        env.wallEnvironment = [] {
            wall::WallEnvironment wallEnv;
            wallEnv.cellsSwapped = [](int, int) {};
            wallEnv.screenSize = [] { return QSize(1920, 1080); };
            wallEnv.pictureSize = [](int, const std::string&) { return QSize(); };
            return wallEnv;
        };
        env.cellSessionConnected = [this](int) { return sessionConnected; };
        env.takeReceivedBytes = [this] { return std::exchange(receivedBytes, 0); };
        env.chooseFolder = [this](const std::string&, const std::string&) { return chosenFolder; };
        env.applyRecordingSettings = [this](const record::RecordingSettings& settings) {
            appliedSettings.push_back(settings);
            if (applyForReal) tasks::ApplyRecordingSettings(settings);
        };
        return env;
    }

    mainwin::CMainWin& Open() {
        window = std::make_unique<mainwin::CMainWin>(Environment());
        EXPECT_TRUE(window->Create(0, "远程监控"));
        window->GetWidget()->resize(1280, 800);
        window->ShowWindow();
        QApplication::processEvents();
        return *window;
    }

    ui::CControlUI* Control(const std::string& name) { return window->m_PaintManager.FindControl(name); }
    template <class T>
    T* Control(const std::string& name) {
        return window->m_PaintManager.FindControl<T>(name);
    }
    bool Visible(const std::string& name) { return Control(name) && Control(name)->IsVisible(); }
    void Click(const std::string& name) {
        ui::CControlUI* control = Control(name);
        ASSERT_NE(control, nullptr) << name;
        window->m_PaintManager.SendNotify(control, ui::notify::kClick);
    }
    std::intptr_t Send(platform::Message message) {
        return platform::SendWindowMessage(window->GetHWND(), std::move(message));
    }
    static platform::Message WithId(std::uint32_t id, const std::string& cameraId, std::intptr_t lParam = 0) {
        return platform::Message(id, 0, lParam, platform::MakePayload(cameraId));
    }
    std::vector<std::uint32_t> TaskIds() const {
        std::vector<std::uint32_t> ids;
        for (const auto& m : tasks) ids.push_back(m.id);
        return ids;
    }
    control::ItemPtr Row(const std::string& id) {
        for (auto& row : rows)
            if (row->id == id) return row;
        return nullptr;
    }

    TempDir dir;
    ModalDriver boxes;
    std::unique_ptr<mainwin::CMainWin> window;
    std::vector<control::ItemPtr> rows;
    std::string rights = "CLOUD_DECK;MEDIA_PARAMS;VIDEO_PLAYBACK;";
    bool rightsAnswered = true;
    bool refusePosts = false;
    bool sessionConnected = true;
    bool urlOpens = true;
    std::uint64_t receivedBytes = 0;
    std::string chosenFolder;
    std::vector<platform::Message> tasks;
    std::vector<std::pair<int, Params>> requests;
    std::vector<std::string> openedUrls;
    std::vector<record::RecordingSettings> appliedSettings;
    bool applyForReal = false;  // the program's own: recorders, sweeper
    mainwin::ReplyQueue* installedQueue = nullptr;
    platform::WindowHandle notifyWindow = 0;
};

}  // namespace testing_support
