#include "ui/pickers.h"

#include <QGridLayout>
#include <QMouseEvent>
#include <QTimer>
#include <cstdio>

#include "ui/popup_support.h"
#include "ui/toolkit/control.h"

namespace ui {
namespace {

constexpr PickerNames kCalendarNames{"TXT_MONTH",      "TXT_YEAR",     "BTN_UP_MONTH", "BTN_DOWN_MONTH",
                                     "BTN_UP_YEAR",    "BTN_DOWN_YEAR", "ContainerUI3"};
constexpr PickerNames kDateNames{"DateTXT_MONTH",   "DateTXT_YEAR",      "DateBTN_UP_MONTH", "DateBTN_DOWN_MONTH",
                                 "DateBTN_UP_YEAR", "DateBTN_DOWN_YEAR", "DateContainerUI3"};

std::string Number(const char* format, int value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Deletes a picker once its window has closed, after the closing call returned.
void DeleteLater(CPickerWnd* picker) {
    QTimer::singleShot(0, [picker] { delete picker; });
}

}  // namespace

// Shared ----------------------------------------------------------------------------

CPickerWnd::CPickerWnd(const PickerNames& names, QPoint anchor) : names_(names), anchor_(anchor) {}

Qt::WindowFlags CPickerWnd::GetWindowFlags(bool) const { return Qt::Tool | Qt::FramelessWindowHint; }

bool CPickerWnd::Open(platform::WindowHandle mainWindow) {
    if (!Create(mainWindow, {})) return false;
    QWidget* window = GetWidget();
    window->move(anchor_.x(), anchor_.y() - window->height());
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void CPickerWnd::InitWindow() {
    BuildDayGrid();
    ShowMonth();
    ShowMore();
    new FocusLossWatcher(GetWidget(), {}, [this] { Close(); });
}

void CPickerWnd::BuildDayGrid() {
    CControlUI* grid = m_PaintManager.FindControl(names_.dayGrid);
    QWidget* gridWidget = grid ? grid->GetWidget() : nullptr;
    if (!gridWidget) return;
    auto* layout = new QGridLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    delete gridWidget->layout();
    gridWidget->setLayout(layout);
    for (int cell = 0; cell < kGridCells; ++cell) {
        auto* day = new COptionUI(gridWidget);
        day->setObjectName(QString("day%1").arg(cell));
        day->setProperty("dayOption", true);
        day->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(day, cell / 7, cell % 7);
        days_.push_back(day);
    }
    m_PaintManager.AttachControls(gridWidget);
}

void CPickerWnd::ShowMonth() {
    const int first = date_rules::FirstWeekday(fields_.year, fields_.month);
    const int days = date_rules::DaysInMonth(fields_.year, fields_.month);
    for (int cell = 0; cell < static_cast<int>(days_.size()); ++cell) {
        COptionUI* option = days_[cell];
        const int day = cell - first + 1;
        const bool inMonth = day >= 1 && day <= days;
        option->setProperty("day", inMonth ? day : 0);
        option->SetText(inMonth ? std::to_string(day) : std::string());
        option->setEnabled(inMonth);
        option->Selected(inMonth && day == fields_.day, false);
    }
    if (CControlUI* month = m_PaintManager.FindControl(names_.month)) month->SetText(Number("%d", fields_.month));
    if (CControlUI* year = m_PaintManager.FindControl(names_.year)) year->SetText(Number("%d", fields_.year));
}

COptionUI* CPickerWnd::DayOption(int day) const {
    for (COptionUI* option : days_)
        if (option->property("day").toInt() == day && day > 0) return option;
    return nullptr;
}

void CPickerWnd::Changed() {
    ShowMonth();
    ShowMore();
    WriteTarget();
}

void CPickerWnd::Notify(TNotifyUI& msg) {
    if (NotifyMore(msg)) return;
    if (msg.sType != notify::kClick || !msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (name == names_.monthUp) {
        date_rules::StepMonth(fields_, 1);
    } else if (name == names_.monthDown) {
        date_rules::StepMonth(fields_, -1);
    } else if (name == names_.yearUp) {
        date_rules::StepYear(fields_, 1);
    } else if (name == names_.yearDown) {
        date_rules::StepYear(fields_, -1);
    } else if (auto* widget = msg.pSender->GetWidget(); widget && widget->property("dayOption").toBool()) {
        if (!date_rules::SelectDay(fields_, widget->property("day").toInt())) return;
    } else {
        return;
    }
    Changed();
}

void CPickerWnd::OnClose() {
    if (!deleteOnClose_) return;
    deleteOnClose_ = false;
    DeleteLater(this);
}

// Calendar ---------------------------------------------------------------------------

CCalWnd::CCalWnd(COptionUI* target, QPoint anchor) : CPickerWnd(kCalendarNames, anchor), target_(target) {
    if (target) date_rules::ReadDateTime(target->GetText(), fields_);
}

QPoint CCalWnd::AnchorFor(const QPoint& windowTopLeft, const QPoint& field) {
    return {windowTopLeft.x() + field.x() - 45, windowTopLeft.y() + field.y() + 290};
}

CCalWnd* CCalWnd::OpenFor(COptionUI* field, platform::WindowHandle mainWindow, QPoint anchor) {
    auto* calendar = new CCalWnd(field, anchor);
    calendar->deleteOnClose_ = true;
    if (calendar->Open(mainWindow)) return calendar;
    delete calendar;
    return nullptr;
}

void CCalWnd::ShowMore() {
    auto set = [this](const char* name, int value) {
        if (CControlUI* edit = m_PaintManager.FindControl(name)) edit->SetText(Number("%02d", value));
    };
    set("reHour", fields_.hour);
    set("reMinute", fields_.minute);
    set("reSecond", fields_.second);
    if (!GetWidget()) return;
    for (const char* name : {"reHour", "reMinute", "reSecond"})
        if (auto* edit = m_PaintManager.FindControl<CEditUI>(name)) edit->SetMaxChar(2);
}

bool CCalWnd::NotifyMore(TNotifyUI& msg) {
    if (!msg.pSender) return false;
    const std::string name = msg.pSender->GetName();
    if (msg.sType == notify::kKillFocus) {
        int* field = name == "reHour" ? &fields_.hour
                   : name == "reMinute" ? &fields_.minute
                   : name == "reSecond" ? &fields_.second : nullptr;
        if (!field) return false;
        *field = date_rules::TypedValue(msg.pSender->GetText(), field == &fields_.hour ? 23 : 59);
        Changed();
        return true;
    }
    if (msg.sType != notify::kClick) return false;
    struct Step {
        const char* button;
        int* field;
        int delta;
        int max;
    } steps[] = {{"HourbtnLess", &fields_.hour, -1, 23},     {"HourbtnPlus", &fields_.hour, 1, 23},
                 {"MinutebtnLess", &fields_.minute, -1, 59}, {"MinutebtnPlus", &fields_.minute, 1, 59},
                 {"SecondbtnLess", &fields_.second, -1, 59}, {"SecondbtnPlus", &fields_.second, 1, 59}};
    for (const Step& step : steps) {
        if (name != step.button) continue;
        *step.field = date_rules::WrapStep(*step.field, step.delta, step.max);
        Changed();
        return true;
    }
    return false;
}

void CCalWnd::WriteTarget() {
    if (auto* target = dynamic_cast<COptionUI*>(target_.data())) target->SetText(date_rules::FormatDateTime(fields_));
}

void CCalWnd::OnClose() {
    if (auto* target = dynamic_cast<COptionUI*>(target_.data())) target->Selected(false, false);
    CPickerWnd::OnClose();
}

// Date picker -----------------------------------------------------------------------

CDateWnd::CDateWnd(CEditUI* target, QPoint anchor) : CPickerWnd(kDateNames, anchor), target_(target) {
    if (target && !target->GetText().empty()) date_rules::ReadDate(target->GetText(), fields_);
}

QPoint CDateWnd::AnchorFor(const QPoint& windowTopLeft, const QPoint& edit) {
    return {windowTopLeft.x() + edit.x() - 20, windowTopLeft.y() + edit.y()};
}

CDateWnd* CDateWnd::OpenFor(CEditUI* edit, platform::WindowHandle mainWindow, QPoint anchor) {
    auto* picker = new CDateWnd(edit, anchor);
    picker->deleteOnClose_ = true;
    if (picker->Open(mainWindow)) return picker;
    delete picker;
    return nullptr;
}

void CDateWnd::WriteTarget() {
    if (auto* target = dynamic_cast<CEditUI*>(target_.data())) target->SetText(date_rules::FormatDate(fields_));
}

namespace {

class ClickFilter final : public QObject {
public:
    ClickFilter(QWidget* edit, std::function<void()> open) : QObject(edit), edit_(edit), open_(std::move(open)) {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == edit_ && event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && edit_->rect().contains(mouse->position().toPoint()) && open_)
                // After the edit has handled the release, so the picker takes the focus last.
                QTimer::singleShot(0, this, open_);
        }
        return false;
    }

private:
    QWidget* edit_;
    std::function<void()> open_;
};

}  // namespace

void OpenOnClick(CEditUI* edit, std::function<void()> open) {
    if (edit) new ClickFilter(edit, std::move(open));
}

}  // namespace ui
