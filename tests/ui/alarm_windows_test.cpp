// The alarm search window (search texts, pages of fifty, the next page, pictures), the
// picture worker's cache, and the alarm tab with pushed alarms and their notice.
#include "support/pump_events.h"
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <gtest/gtest.h>

#include "tasks/alarm_tasks.h"
#include "core/message_ids.h"
#include "support/temp_dir.h"
#include "support/tiny_http_server.h"
#include "ui/alarm_panel.h"
#include "ui/alarm_picture_worker.h"
#include "ui/alarm_search_wnd.h"
#include "ui/control_factory.h"
#include "ui/toolkit/list.h"

using testing_support::PumpUntil;

namespace {

std::string JpegBytes() {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes.toStdString();
}

control::AlarmRecord Alarm(int i, const std::string& time) {
    return {"5", "文三路门店", "31000001", "大门", "移动侦测", "第" + std::to_string(i) + "次报警",
            "http://127.0.0.1:1/upload/10001/alarm_" + std::to_string(i) + ".jpg", time};
}

std::string TimeOf(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-12-08 %02d:%02d:13", 6 + i * 7 / 60, i * 7 % 60);
    return text;
}

control::AlarmSearchResult Batch(int first, int count) {
    control::AlarmSearchResult batch;
    for (int i = first; i < first + count; ++i) batch.Append(Alarm(i, TimeOf(i)));
    return batch;
}

TEST(HttpStatus, ReadsOnlyAWellFormedStatusLine) {
    EXPECT_EQ(ui::HttpStatusOf("HTTP/1.0 200 OK\r\n"), 200);
    EXPECT_EQ(ui::HttpStatusOf("HTTP/1.1 404 Not Found\r\n"), 404);
    EXPECT_EQ(ui::HttpStatusOf("HTTP/1.0 200\r\n"), 200);
    for (const char* bad : {"", "HTTP/", "HTTP/1.0 2x0 OK", "HTTP/1.0 2000 OK", "FTP/1.0 200 OK", "HTTP/1.0  200",
                            "HTTP/1.0 20"})
        EXPECT_EQ(ui::HttpStatusOf(bad), 0) << bad;
}

TEST(AlarmPictureCacheFiles, FetchedOnceCheckedAndKept) {
    testing_support::TempDir dir;
    const std::string folder = dir.File("pictures");
    int fetches = 0;
    const std::string jpeg = JpegBytes();
    ui::AlarmPictureWorker::Fetch fetch = [&](const std::string&, std::string& body) {
        ++fetches;
        body = jpeg;
        return true;
    };
    const auto path = ui::AlarmPictureWorker::CacheOrFetch(folder, "http://h/a_1.jpg", fetch);
    ASSERT_TRUE(path);
    EXPECT_TRUE(std::filesystem::is_regular_file(*path));
    EXPECT_EQ(std::filesystem::file_size(*path), jpeg.size());
    EXPECT_EQ(ui::AlarmPictureWorker::CacheOrFetch(folder, "http://h/a_1.jpg", fetch), path);
    EXPECT_EQ(fetches, 1) << "the second request is served from the cache";

    // An error page or a failed download is not kept as the picture.
    ui::AlarmPictureWorker::Fetch html = [](const std::string&, std::string& body) {
        body = "<html>404</html>";
        return true;
    };
    EXPECT_FALSE(ui::AlarmPictureWorker::CacheOrFetch(folder, "http://h/a_2.jpg", html));
    EXPECT_FALSE(ui::AlarmPictureWorker::CacheOrFetch(folder, "http://h/a_3.jpg",
                                                     [](const std::string&, std::string&) { return false; }));
    EXPECT_FALSE(ui::AlarmPictureWorker::CacheOrFetch(folder, "", fetch));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1) << "no partial or bad files left behind";
}

// Answers every request with a status line and then one byte every 20 ms: never done.
class TrickleServer {
public:
    TrickleServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            pollfd fd{listener_, POLLIN, 0};
            while (!stop_ && ::poll(&fd, 1, 20) <= 0) {}
            if (stop_) return;
            const int connection = ::accept(listener_, nullptr, nullptr);
            const std::string header = "HTTP/1.0 200 OK\r\n\r\n";
            ::send(connection, header.data(), header.size(), MSG_NOSIGNAL);
            while (!stop_ && ::send(connection, "x", 1, MSG_NOSIGNAL) == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::close(connection);
        });
    }
    ~TrickleServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/upload/alarm.jpg"; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class AlarmSearchWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ui::CAlarmSearchWnd::Environment environment;
        environment.postTask = [this](platform::Message m) {
            if (auto* request = platform::PayloadAs<tasks::AlarmSearchRequest>(m)) requests.push_back(*request);
            return true;
        };
        environment.setNotifyWindow = [this](platform::WindowHandle w) { notifyWindow = w; };
        environment.pictureFolder = dir.File("pictures");
        environment.fetchPicture = [this](const std::string& url, std::string& body) {
            std::lock_guard lock(fetchedMutex);  // the picture worker's thread
            fetched.push_back(url);
            body = jpeg;
            return true;
        };
        window = std::make_unique<ui::CAlarmSearchWnd>("31000001", 77, environment);
        ASSERT_TRUE(window->Create(0, ui::CAlarmSearchWnd::kCaption));
        list = window->m_PaintManager.FindControl<ui::CListUI>("AlarmList");
        ASSERT_NE(list, nullptr);
    }
    void Deliver(control::AlarmSearchResult batch, int flag = 1) {
        platform::SendWindowMessage(window->GetHWND(), platform::Message(core::kAlarmBatch, 0, flag,
                                                                         platform::MakePayload(std::move(batch))));
    }
    void Click(const char* name) {
        auto* button = dynamic_cast<QPushButton*>(window->m_PaintManager.FindControl(name));
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }
    std::string Cell(int row, int column) const {
        ui::CListCellUI* cell = list->GetItemAt(row)->FindCell("col" + std::to_string(column));
        return cell ? cell->GetText() : "<none>";
    }
    std::vector<std::string> Fetched() {
        std::lock_guard lock(fetchedMutex);
        return fetched;
    }

    testing_support::TempDir dir;
    std::string jpeg = JpegBytes();
    std::vector<tasks::AlarmSearchRequest> requests;
    std::mutex fetchedMutex;
    std::vector<std::string> fetched;
    platform::WindowHandle notifyWindow = 0;
    std::unique_ptr<ui::CAlarmSearchWnd> window;
    ui::CListUI* list = nullptr;
};

TEST_F(AlarmSearchWindow, UnchangedControlsSearchFromOneToElevenPmOfToday) {
    EXPECT_EQ(window->GetWidget()->windowTitle(), "报警查询");
    Click("BtnSearch");
    ASSERT_EQ(requests.size(), 1u);
    const std::string today = QDate::currentDate().toString("yyyy-MM-dd").toStdString();
    EXPECT_EQ(requests[0].startTime, today + " 01:00:00");
    EXPECT_EQ(requests[0].endTime, today + " 23:00:00");
    EXPECT_EQ(requests[0].cameraId, "31000001");
    EXPECT_EQ(requests[0].nodeId, "");
    EXPECT_EQ(notifyWindow, window->GetHWND()) << "every notification makes it the notify window again";
    auto* hours = window->m_PaintManager.FindControl<ui::CComboUI>("BeginH");
    ASSERT_NE(hours, nullptr);
    EXPECT_EQ(hours->GetCount(), 24);
    EXPECT_EQ(hours->GetText(), " 1");
    EXPECT_EQ(window->m_PaintManager.FindControl<ui::CComboUI>("EndS")->GetCount(), 60);
}

TEST_F(AlarmSearchWindow, HundredTwentyAlarmsShowFiftyFiftyTwentyThenAskForTheNextPage) {
    Click("BtnSearch");
    Deliver(Batch(0, 120));
    EXPECT_EQ(list->GetCount(), 50);
    EXPECT_EQ(Cell(0, 0), "1") << "rows are counted from one";
    EXPECT_EQ(Cell(49, 0), "50");
    EXPECT_EQ(Cell(0, 1), "文三路门店");
    EXPECT_EQ(Cell(0, 2), "大门");
    EXPECT_EQ(Cell(0, 3), "移动侦测");
    EXPECT_EQ(Cell(0, 4), TimeOf(0));
    EXPECT_EQ(Cell(49, 5), "第49次报警");
    // At the window's size the message column holds a usual message; a longer one is
    // cut to fit and shown whole in its tooltip.
    window->GetWidget()->resize(ui::CAlarmSearchWnd::kWidth, ui::CAlarmSearchWnd::kHeight);
    window->ShowWindow();
    QApplication::processEvents();
    auto messageCell = [&](int row) {
        return list->CellRect(*list->GetItemAt(row), *list->GetItemAt(row)->FindCell("col5"));
    };
    EXPECT_GE(messageCell(0).width(), list->viewport()->fontMetrics().horizontalAdvance("区域入侵：检测到人员进入"));
    const std::string longMessage = "区域入侵：检测到人员进入禁区并停留超过三十秒，请尽快核实现场情况";
    list->GetItemAt(1)->FindCell("col5")->SetText(longMessage);
    EXPECT_EQ(list->ToolTipAt(messageCell(1).center()).toStdString(), longMessage);
    EXPECT_TRUE(list->ToolTipAt(messageCell(0).center()).isEmpty()) << "a text shown whole needs no tooltip";
    EXPECT_EQ(window->GetItemText(500, 1), "") << "rows beyond the columns are empty";
    Click("BtnLoad");
    EXPECT_EQ(list->GetCount(), 100);
    Click("BtnLoad");
    EXPECT_EQ(list->GetCount(), 120);
    EXPECT_EQ(requests.size(), 1u);
    Click("BtnLoad");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].startTime, TimeOf(119)) << "from the time of row 120";
    EXPECT_EQ(requests[1].endTime, requests[0].endTime);
    EXPECT_EQ(requests[1].cameraId, "31000001");

    // The next page starts with row 120 again; it is not listed twice.
    Deliver(Batch(119, 4));
    EXPECT_EQ(window->Rows().Size(), 123u);
    EXPECT_EQ(list->GetCount(), 123);
    EXPECT_EQ(Cell(120, 5), "第120次报警");

    // A failed search and a new search.
    Deliver(Batch(0, 3), 0);
    EXPECT_EQ(window->Rows().Size(), 123u) << "a batch without the success flag is ignored";
    Click("BtnSearch");
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_EQ(window->Pager().ReceivedRows(), 0u);
}

TEST_F(AlarmSearchWindow, TheChosenRowsPictureIsFetchedAndShown) {
    Click("BtnSearch");
    Deliver(Batch(0, 5));
    window->ShowPicture(3);
    ASSERT_TRUE(PumpUntil([&] { return !window->PictureFile().empty(); }));
    EXPECT_EQ(Fetched(), std::vector<std::string>{Alarm(3, "").pictureUrl});
    ui::CControlUI* picture = window->m_PaintManager.FindControl("ShowPic");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->GetBkImage(), "file='" + window->PictureFile() + "' scale='fit'") << "its shape kept";
    EXPECT_FALSE(ui::LoadSkinImage(window->PictureFile()).isNull());

    // A row arriving alone is listed and, being the first, shows its picture.
    Click("BtnSearch");
    platform::SendWindowMessage(window->GetHWND(), platform::Message(core::kAlarmRow, 0, 0,
                                                                     platform::MakePayload(Alarm(9, TimeOf(9)))));
    EXPECT_EQ(list->GetCount(), 1);
    ASSERT_TRUE(PumpUntil([&] { return window->PictureUrl() == Alarm(9, "").pictureUrl && Fetched().size() == 2; }));
}

TEST(AlarmPictureDownload, EndsAtItsDeadlineAndClosingTheWindowNeverWaitsForIt) {
    using std::chrono::milliseconds;
    using Clock = std::chrono::steady_clock;
    std::string body;
    {
        TrickleServer slow;
        const auto start = Clock::now();
        EXPECT_FALSE(ui::AlarmPictureWorker::HttpFetchWithin(slow.Url(), body, milliseconds(300)));
        EXPECT_LT(Clock::now() - start, milliseconds(1500)) << "a byte now and then does not hold it";
    }
    const std::string jpeg = JpegBytes();
    testing_support::TinyHttpServer good([&](const std::string&) { return jpeg; });
    const std::string goodUrl = "http://127.0.0.1:" + std::to_string(good.Port()) + "/a.jpg";
    ASSERT_TRUE(ui::AlarmPictureWorker::HttpFetchWithin(goodUrl, body, milliseconds(3000)));
    EXPECT_EQ(body, jpeg);
    // An address from the service cannot add a header of its own to the request.
    ASSERT_TRUE(ui::AlarmPictureWorker::HttpFetchWithin(goodUrl + " x\r\nX-Injected: 1", body, milliseconds(3000)));
    EXPECT_EQ(good.Paths().back(), "/a.jpg%20x%0D%0AX-Injected:%201");

    // The window closes while its picture is still coming: it does not wait.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false, closed = false, released = false, finished = false;
    };
    auto gate = std::make_shared<Gate>();
    testing_support::TempDir dir;
    ui::CAlarmSearchWnd::Environment environment;
    environment.postTask = [](platform::Message) { return true; };
    environment.pictureFolder = dir.File("pictures");
    environment.fetchPicture = [gate](const std::string&, std::string&) {
        std::unique_lock lock(gate->mutex);
        gate->entered = true;
        gate->changed.notify_all();
        gate->changed.wait(lock, [&] { return gate->released; });
        gate->finished = true;
        gate->changed.notify_all();
        return false;
    };
    auto window = std::make_unique<ui::CAlarmSearchWnd>("31000001", 0, environment);
    ASSERT_TRUE(window->Create(0, ui::CAlarmSearchWnd::kCaption));
    auto* search = dynamic_cast<QPushButton*>(window->m_PaintManager.FindControl("BtnSearch"));
    ASSERT_NE(search, nullptr);
    search->click();
    platform::SendWindowMessage(window->GetHWND(), platform::Message(core::kAlarmBatch, 0, 1,
                                                                     platform::MakePayload(Batch(0, 2))));
    window->ShowPicture(1);
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(3), [&] { return gate->entered; }));
    }
    // The download goes on until the window has closed (a close that waited for it
    // would wait out the 1.5 s here).
    std::thread releaser([gate] {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait_for(lock, milliseconds(1500), [&] { return gate->closed; });
        gate->released = true;
        gate->changed.notify_all();
    });
    const auto closing = Clock::now();
    window.reset();
    EXPECT_LT(Clock::now() - closing, milliseconds(500)) << "closing never waits for the download";
    {
        std::lock_guard lock(gate->mutex);
        gate->closed = true;
        gate->changed.notify_all();
    }
    releaser.join();
    std::unique_lock lock(gate->mutex);
    EXPECT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(3), [&] { return gate->finished; }))
        << "the download ends on its own";
}

TEST(AlarmTab, PushedAlarmsAreListedNewestFirstAndNoticed) {
    std::function<void(const control::AlarmRecord&)> listener;
    ui::AlarmPanelEnvironment environment;
    environment.listenForPushes = [&](std::function<void(const control::AlarmRecord&)> l) { listener = std::move(l); };
    std::vector<std::pair<std::string, std::string>> picks;
    environment.menuPicked = [&](const std::string& item, const std::string& id) { picks.emplace_back(item, id); };
    environment.noticeMs = 50;

    ui::CAlarmCtrl* control = nullptr;
    {
        QWidget host;
        host.resize(800, 500);
        struct Stub final : ui::WindowImplBase {
            std::string GetWindowClassName() const override { return "Stub"; }
            std::string GetSkinFile() override { return "none.xml"; }
        } stubWindow;
        ui::CControlFactory factory(stubWindow);
        ui::RegisterAlarmPanel(factory, environment);
        control = dynamic_cast<ui::CAlarmCtrl*>(factory.Create("alarmpanel", &host));
        ASSERT_NE(control, nullptr);
        ASSERT_NE(control->Panel(), nullptr);
        EXPECT_EQ(control->Panel()->GetWidget()->parentWidget(), control) << "the window lies over its container";
        ASSERT_TRUE(listener);

        // Without an alarm the menu's camera items cannot act.
        auto openMenu = [&] {
            control->Panel()->m_PaintManager.SendNotify(control->Panel()->m_PaintManager.FindControl("btnAP"),
                                                        ui::notify::kClick);
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->isVisible() && top->findChild<QWidget*>("CameraPopMenu")) return top;
            return static_cast<QWidget*>(nullptr);
        };
        auto enabled = [](QWidget* menu, const char* item) { return menu->findChild<QWidget*>(item)->isEnabled(); };
        QWidget* menu = openMenu();
        ASSERT_NE(menu, nullptr);
        EXPECT_FALSE(enabled(menu, "menu_AlarmSearch"));
        EXPECT_FALSE(enabled(menu, "menu_Close"));
        EXPECT_TRUE(enabled(menu, "menu_Update"));
        menu->close();

        // Pushes come on the control channel's thread.
        std::thread channel([&] {
            listener(Alarm(1, TimeOf(1)));
            listener(Alarm(2, TimeOf(2)));
        });
        channel.join();
        ui::CAlarmPanel* panel = control->Panel();
        ASSERT_TRUE(PumpUntil([&] { return panel->PushedAlarms().size() == 2; }));
        EXPECT_EQ(panel->PushedAlarms().front().message, "第2次报警");
        auto* list = panel->m_PaintManager.FindControl<ui::CListUI>("lstPushedAlarms");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetCount(), 2);
        EXPECT_EQ(list->GetItemAt(0)->FindCell("pa_msg")->GetText(), "第2次报警");
        ASSERT_NE(panel->Notice(), nullptr);
        EXPECT_TRUE(panel->Notice()->IsShown());
        EXPECT_EQ(panel->Notice()->m_PaintManager.FindControl("lbNoticeMsg")->GetText(), "第2次报警");
        EXPECT_FALSE(QApplication::activeModalWidget()) << "the notice does not block";
        EXPECT_TRUE(PumpUntil([&] { return !panel->Notice()->IsShown(); })) << "it closes by itself";

        menu = openMenu();
        ASSERT_NE(menu, nullptr);
        EXPECT_TRUE(enabled(menu, "menu_AlarmSearch")) << "the newest alarm's camera";
        menu->close();

        // Menu picks carry the camera of the chosen alarm.
        panel->m_PaintManager.SendNotify(panel->m_PaintManager.FindControl("btnAP"), "menu_AlarmSearch");
        ASSERT_EQ(picks.size(), 1u);
        EXPECT_EQ(picks[0], std::make_pair(std::string("menu_AlarmSearch"), std::string("31000001")));
        delete control;
    }
    EXPECT_FALSE(listener) << "the panel stops listening when it goes";
}

}  // namespace
