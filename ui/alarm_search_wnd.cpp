#include "ui/alarm_search_wnd.h"

#include <QCalendarWidget>
#include <QDate>
#include <QLocale>
#include <QDateTimeEdit>
#include <set>
#include <tuple>

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "platform/paths.h"
#include "ui/toolkit/list.h"

namespace ui {
namespace {

using RowKey = std::tuple<std::string, std::string, std::string, std::string, std::string>;

RowKey KeyOf(const control::AlarmRecord& r) { return {r.time, r.cameraId, r.kindName, r.message, r.pictureUrl}; }

void FillCombo(CComboUI* combo, int count, int selected) {
    if (!combo) return;
    combo->RemoveAll();
    for (int i = 0; i < count; ++i) {
        const std::string text = " " + std::to_string(i);
        auto* item = new CLabelUI;
        item->setText(QString::fromStdString(text));
        combo->AddItem(item, text);
    }
    combo->SelectItem(selected);
}

}  // namespace

CAlarmSearchWnd::Environment CAlarmSearchWnd::Environment::Application() {
    Environment environment;
    environment.postTask = [](platform::Message m) { return session::CAppInteance::PostTaskIfAlive(std::move(m)); };
    environment.setNotifyWindow = [](platform::WindowHandle window) {
        if (session::CAppInteance::Exists()) session::CAppInteance::Instance().SetNotifyWindow(window);
    };
    environment.pictureFolder = platform::JoinPath(platform::CacheDirectory(), "alarmPictures");
    return environment;
}

CAlarmSearchWnd::CAlarmSearchWnd(std::string cameraId, platform::WindowHandle previousNotify, Environment environment)
    : cameraId_(std::move(cameraId)), previousNotify_(previousNotify), environment_(std::move(environment)) {}

CAlarmSearchWnd::~CAlarmSearchWnd() {
    pictures_.reset();  // no picture is posted after this; a download in progress is not waited for
    DestroyHandle();
}

int CAlarmSearchWnd::Run(const std::string& cameraId, platform::WindowHandle mainWindow, Environment environment) {
    auto setNotify = environment.setNotifyWindow;
    int result = -1;
    {
        CAlarmSearchWnd window(cameraId, mainWindow, std::move(environment));
        if (window.Create(mainWindow, kCaption)) {
            window.GetWidget()->resize(kWidth, kHeight);
            if (setNotify) setNotify(window.GetHWND());
            window.CenterWindow();
            result = window.ShowModal();
        }
    }
    if (setNotify) setNotify(mainWindow);
    return result;
}

int CAlarmSearchWnd::EscapeResult() const { return 1; }

void CAlarmSearchWnd::InitWindow() {
    FillCombo(m_PaintManager.FindControl<CComboUI>("BeginH"), 24, 1);
    FillCombo(m_PaintManager.FindControl<CComboUI>("EndH"), 24, 23);
    for (const char* name : {"BeginM", "BeginS", "EndM", "EndS"})
        FillCombo(m_PaintManager.FindControl<CComboUI>(name), 60, 0);
    for (const char* name : {"BeginDateTime", "EndDateTime"})
        if (auto* date = m_PaintManager.FindControl<CDateTimeUI>(name)) {
            date->setDate(QDate::currentDate());
            // The month opens in the user's language: months and weekdays in Chinese.
            date->setLocale(QLocale(QLocale::Chinese, QLocale::China));
            if (QCalendarWidget* month = date->calendarWidget()) month->setLocale(date->locale());
        }
    list_ = m_PaintManager.FindControl<CListUI>("AlarmList");
    if (list_) list_->SetRowTemplate(kRowSkin);
    pictures_ = std::make_unique<AlarmPictureWorker>(environment_.pictureFolder, GetHWND(), core::kAlarmPictureReady,
                                                     environment_.fetchPicture);
}

std::string CAlarmSearchWnd::TimeText(const char* dateControl, const char* hour, const char* minute,
                                      const char* second) const {
    QDate date = QDate::currentDate();
    if (auto* edit = m_PaintManager.FindControl<CDateTimeUI>(dateControl)) date = edit->date();
    auto index = [this](const char* name) {
        auto* combo = m_PaintManager.FindControl<CComboUI>(name);
        return combo ? std::max(0, combo->GetCurSel()) : 0;
    };
    return FormatSearchTime(date.year(), date.month(), date.day(), index(hour), index(minute), index(second));
}

void CAlarmSearchWnd::BackToPreviousNotify() {
    if (environment_.setNotifyWindow) environment_.setNotifyWindow(previousNotify_);
}

void CAlarmSearchWnd::Notify(TNotifyUI& msg) {
    // The main window may have taken the replies back meanwhile.
    if (environment_.setNotifyWindow && !IsClosed()) environment_.setNotifyWindow(GetHWND());
    const std::string name = msg.pSender ? msg.pSender->GetName() : std::string();
    if (msg.sType == notify::kClick) {
        if (name == "SysCloseBtn") {
            BackToPreviousNotify();
            Close(1);
        } else if (name == "SysMinBtn") {
            if (QWidget* widget = GetWidget()) widget->showMinimized();
        } else if (name == "BtnSearch") {
            Search();
        } else if (name == "BtnLoad") {
            LoadMore();
        }
    } else if (msg.sType == notify::kItemActivate && list_ && msg.pSender) {
        if (auto* row = dynamic_cast<CListElementUI*>(msg.pSender); row && row->GetOwner() == list_)
            ShowPicture(row->GetIndex());
    }
}

void CAlarmSearchWnd::Search() {
    if (list_) list_->RemoveAll();
    rows_ = {};
    pager_.Reset();
    nextPageRequested_ = false;
    begin_ = TimeText("BeginDateTime", "BeginH", "BeginM", "BeginS");
    end_ = TimeText("EndDateTime", "EndH", "EndM", "EndS");
    PostSearch(begin_);
}

void CAlarmSearchWnd::PostSearch(const std::string& begin) {
    if (!environment_.postTask) return;
    environment_.postTask(platform::Message(core::kTaskAlarmSearch, 0, 0,
                                            platform::MakePayload(tasks::AlarmSearchRequest{begin, end_, "", cameraId_})));
}

void CAlarmSearchWnd::LoadMore() {
    if (pager_.NextLoadStep() == AlarmPager::LoadStep::kShowMore) {
        AddRows(pager_.ShowPage());
        return;
    }
    if (pager_.ShownRows() == 0) return;  // nothing searched yet, or nothing found
    nextPageRequested_ = true;
    PostSearch(rows_.times[pager_.ShownRows() - 1]);
}

void CAlarmSearchWnd::AddRows(std::size_t count) {
    if (!list_ || count == 0) return;
    std::vector<std::unique_ptr<CListElementUI>> added;
    const int first = list_->GetCount();
    for (int r = first; r < first + static_cast<int>(count); ++r) {
        std::unique_ptr<CListElementUI> row = list_->CreateElement();
        if (!row) return;
        row->SetName("alarm" + std::to_string(r));
        for (int c = 0; c < kColumns; ++c) row->Cell("col" + std::to_string(c))->SetText(GetItemText(r, c));
        added.push_back(std::move(row));
    }
    list_->AddRange(std::move(added));
}

std::string CAlarmSearchWnd::GetItemText(int row, int column) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.Size()) return {};
    const auto r = static_cast<std::size_t>(row);
    switch (column) {
        case 0: return std::to_string(row + 1);  // people count from one
        case 1: return rows_.nodeNames[r];
        case 2: return rows_.cameraNames[r];
        case 3: return rows_.kindNames[r];
        case 4: return rows_.times[r];
        case 5: return rows_.messages[r];
        default: return {};
    }
}

void CAlarmSearchWnd::AppendBatch(const control::AlarmSearchResult& batch) {
    // The next page starts at the time of the last row, so it begins with rows already
    // listed; they are not listed twice.
    std::set<RowKey> boundary;
    if (nextPageRequested_ && rows_.Size() > 0) {
        const std::string& last = rows_.times.back();
        for (std::size_t i = rows_.Size(); i-- > 0 && rows_.times[i] == last;) boundary.insert(KeyOf(rows_.Row(i)));
    }
    std::size_t added = 0;
    for (std::size_t i = 0; i < batch.Size(); ++i) {
        control::AlarmRecord record = batch.Row(i);
        if (!boundary.empty() && boundary.count(KeyOf(record))) continue;
        rows_.Append(record);
        ++added;
    }
    pager_.Received(added);
}

std::intptr_t CAlarmSearchWnd::HandleMessage(platform::Message& msg, bool& handled) {
    handled = false;
    if (msg.id == core::kAlarmRow) {
        handled = true;
        if (const auto* record = platform::PayloadAs<control::AlarmRecord>(msg)) {
            const bool first = rows_.Size() == 0;
            rows_.Append(*record);
            pager_.Received(1);
            pager_.ShowPage();
            AddRows(1);
            if (first) ShowPicture(0);
        }
        return 0;
    }
    if (msg.id == core::kAlarmBatch) {
        handled = true;
        const auto* batch = platform::PayloadAs<control::AlarmSearchResult>(msg);
        if (msg.lParam != 1 || !batch) return 0;
        const bool wasEmpty = list_ ? list_->GetCount() == 0 : pager_.ShownRows() == 0;
        const bool askedForMore = nextPageRequested_;
        AppendBatch(*batch);
        nextPageRequested_ = false;
        // The first page shows at once, and so does a page the user asked for.
        if (wasEmpty || askedForMore) AddRows(pager_.ShowPage());
        return 0;
    }
    if (msg.id == core::kAlarmPictureReady) {
        handled = true;
        const auto* ready = platform::PayloadAs<AlarmPictureReady>(msg);
        // A picture of an alarm chosen before the current one is not shown.
        if (!ready || ready->url != pictureUrl_) return 0;
        pictureFile_ = ready->path;
        if (CControlUI* picture = m_PaintManager.FindControl("ShowPic"))
            picture->SetBkImage("file='" + ready->path + "' scale='fit'");
        return 0;
    }
    return 0;
}

void CAlarmSearchWnd::ShowPicture(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.Size()) return;
    pictureUrl_ = rows_.pictureUrls[static_cast<std::size_t>(row)];
    if (pictureUrl_.empty() || !pictures_) return;
    pictures_->Request(pictureUrl_);
}

}  // namespace ui
