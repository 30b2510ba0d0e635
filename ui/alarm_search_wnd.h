#pragma once
// The alarm search window of one camera ("QueryAlarmWin.xml"). It asks the task
// threads for the camera's alarms in a time window (thread message 1036), lists them
// fifty rows at a time ("BtnLoad" shows more, and with every row shown fetches the next
// page from the time of the last row), and shows the picture of the chosen alarm.
// While it is open it is the application's notify window, so that the alarm replies
// reach it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tasks/alarm_tasks.h"
#include "control/control_types.h"
#include "ui/alarm_picture_worker.h"
#include "ui/live_rules.h"
#include "ui/toolkit/window.h"

namespace ui {

class CListUI;

// The text of each cell of a list whose rows are built on demand.
class IListTextCallback {
public:
    virtual ~IListTextCallback() = default;
    virtual std::string GetItemText(int row, int column) const = 0;
};

class CAlarmSearchWnd final : public WindowImplBase, public IListTextCallback {
public:
    static constexpr const char* kSkin = "QueryAlarmWin.xml";
    static constexpr const char* kRowSkin = "AlarmListItem.xml";
    static constexpr const char* kCaption = "报警查询";
    // Room for the six columns with the message, and for the picture beside them.
    static constexpr int kWidth = 1000;
    static constexpr int kHeight = 600;
    static constexpr int kColumns = 6;

    struct Environment {
        std::function<bool(platform::Message)> postTask;
        std::function<void(platform::WindowHandle)> setNotifyWindow;
        std::string pictureFolder;
        AlarmPictureWorker::Fetch fetchPicture = AlarmPictureWorker::HttpFetch;
        static Environment Application();
    };

    CAlarmSearchWnd(std::string cameraId, platform::WindowHandle previousNotify,
                    Environment environment = Environment::Application());
    ~CAlarmSearchWnd() override;

    // Opens the window for a camera over `mainWindow` and runs it modally; the main
    // window is the notify window again afterwards.
    static int Run(const std::string& cameraId, platform::WindowHandle mainWindow,
                   Environment environment = Environment::Application());

    std::string GetWindowClassName() const override { return "QueryAlarmWin"; }
    std::string GetSkinFile() override { return kSkin; }
    int EscapeResult() const override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override;

    // Column c of row r: 0 the row's number counted from 1, 1 node, 2 camera, 3 kind,
    // 4 time, 5 message.
    std::string GetItemText(int row, int column) const override;

    const control::AlarmSearchResult& Rows() const { return rows_; }
    const AlarmPager& Pager() const { return pager_; }
    const std::string& BeginText() const { return begin_; }
    const std::string& EndText() const { return end_; }
    // The URL of the picture shown (or being fetched) and the file shown.
    const std::string& PictureUrl() const { return pictureUrl_; }
    const std::string& PictureFile() const { return pictureFile_; }

    void Search();
    void LoadMore();
    void ShowPicture(int row);

private:
    std::string TimeText(const char* dateControl, const char* hour, const char* minute, const char* second) const;
    void AddRows(std::size_t count);
    void AppendBatch(const control::AlarmSearchResult& batch);
    void PostSearch(const std::string& begin);
    void BackToPreviousNotify();

    std::string cameraId_;
    platform::WindowHandle previousNotify_;
    Environment environment_;
    std::string begin_, end_;
    control::AlarmSearchResult rows_;
    AlarmPager pager_;
    bool nextPageRequested_ = false;
    std::string pictureUrl_, pictureFile_;
    std::unique_ptr<AlarmPictureWorker> pictures_;
    CListUI* list_ = nullptr;
};

}  // namespace ui
