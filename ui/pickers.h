#pragma once
// The two small picker windows: the calendar with time of day CCalWnd ("cal.xml", for
// the playback search fields) and the date picker CDateWnd ("date.xml", for account
// expiry edits). Both are tool windows placed with their bottom-left corner at an
// anchor point, write their value into their target after every change, and close
// when the focus goes to another window. Opened with OpenFor, they delete themselves
// once closed.

#include <QPoint>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "ui/date_fields.h"
#include "ui/toolkit/window.h"

namespace ui {

class COptionUI;
class CEditUI;

// What differs between the two pickers: the names of their controls.
struct PickerNames {
    const char* month;
    const char* year;
    const char* monthUp;
    const char* monthDown;
    const char* yearUp;
    const char* yearDown;
    const char* dayGrid;
};

class CPickerWnd : public WindowImplBase {
public:
    static constexpr int kGridCells = 42;  // six weeks

    Qt::WindowFlags GetWindowFlags(bool owned) const override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnClose() override;

    // Creates the window over the main window and shows it at its anchor.
    bool Open(platform::WindowHandle mainWindow);
    const DateTimeFields& Fields() const { return fields_; }
    QPoint Anchor() const { return anchor_; }
    // The day option showing `day` of the shown month, or nullptr.
    COptionUI* DayOption(int day) const;

protected:
    CPickerWnd(const PickerNames& names, QPoint anchor);
    // Writes the value into the target.
    virtual void WriteTarget() = 0;
    // Extra controls (the calendar's time of day); true when the notification was used.
    virtual bool NotifyMore(TNotifyUI& msg) { return false; }
    virtual void ShowMore() {}
    void Changed();

    DateTimeFields fields_ = DateTimeFields::Now();
    bool deleteOnClose_ = false;

private:
    void BuildDayGrid();
    void ShowMonth();

    PickerNames names_;
    QPoint anchor_;
    std::vector<COptionUI*> days_;
};

class CCalWnd final : public CPickerWnd {
public:
    static constexpr const char* kSkin = "cal.xml";
    // The target check box receives "%04d-%02d-%02d %02d:%02d:%02d"; the picker starts
    // from its text.
    CCalWnd(COptionUI* target, QPoint anchor);
    std::string GetWindowClassName() const override { return "CalWnd"; }
    std::string GetSkinFile() override { return kSkin; }
    void OnClose() override;

    // Anchor for a field of the main window: (window left + field left - 45,
    // window top + field top + 290); positions in screen and window coordinates.
    static QPoint AnchorFor(const QPoint& windowTopLeft, const QPoint& fieldInWindow);
    // Opens a self-deleting calendar for the field; nullptr when it cannot be shown.
    static CCalWnd* OpenFor(COptionUI* field, platform::WindowHandle mainWindow, QPoint anchor);

protected:
    void WriteTarget() override;
    bool NotifyMore(TNotifyUI& msg) override;
    void ShowMore() override;

private:
    QPointer<QWidget> target_;
};

class CDateWnd final : public CPickerWnd {
public:
    static constexpr const char* kSkin = "date.xml";
    // The target edit receives "%04d/%02d/%02d"; a non-empty text is the start value.
    CDateWnd(CEditUI* target, QPoint anchor);
    std::string GetWindowClassName() const override { return "DateWnd"; }
    std::string GetSkinFile() override { return kSkin; }

    // Anchor under an edit of the main window: (window left + edit left - 20,
    // window top + edit top).
    static QPoint AnchorFor(const QPoint& windowTopLeft, const QPoint& editInWindow);
    static CDateWnd* OpenFor(CEditUI* edit, platform::WindowHandle mainWindow, QPoint anchor);

protected:
    void WriteTarget() override;

private:
    QPointer<QWidget> target_;
};

// An edit sends no "click": calls `open` when the edit is clicked with the left button
// (the press and release both inside it). The filter lives as long as the edit.
void OpenOnClick(CEditUI* edit, std::function<void()> open);

}  // namespace ui
