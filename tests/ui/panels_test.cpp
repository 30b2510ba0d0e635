// The control factory and its panels, the pop-up menu, and the two date pickers.
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "core/log_file.h"
#include "platform/paths.h"
#include "support/temp_dir.h"
#include "tree_fixture.h"
#include "ui/control_factory.h"
#include "ui/date_fields.h"
#include "ui/panels.h"
#include "ui/pickers.h"
#include "ui/pop_menu.h"
#include "ui/popup_support.h"

using namespace ui;
using testing_support::NotifyLog;
using testing_support::TempDir;

namespace {

// A window that is only a factory's host (never created); it answers custom tags
// through the factory as the main window does.
class HostWindow final : public WindowImplBase {
public:
    std::string GetWindowClassName() const override { return "HostWindow"; }
    std::string GetSkinFile() override { return "none.xml"; }
    CControlUI* CreateControl(const std::string& tag, QWidget* parent) override { return factory.Create(tag, parent); }
    CControlFactory factory{*this};
};

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) QTest::qWait(5);
    return done();
}

}  // namespace

TEST(ControlFactory, TagsAreFoundWhateverTheirCase) {
    HostWindow window;
    CControlFactory factory(window);
    QWidget parent;
    for (const char* tag : {"FriendList", "friendlist", "FRIENDLIST", "fRiEnDlIsT"}) {
        CControlUI* made = factory.Create(tag, &parent);
        ASSERT_NE(made, nullptr) << tag;
        EXPECT_NE(dynamic_cast<CTreeList*>(made), nullptr) << tag;
        EXPECT_EQ(made->GetManager(), &window.m_PaintManager) << "the tree reports through the window";
    }
    EXPECT_EQ(factory.Create("NoSuchPanel", &parent), nullptr);
    EXPECT_EQ(factory.Create("", &parent), nullptr);
    for (const std::string& tag : CControlFactory::DefaultTags()) {
        EXPECT_TRUE(factory.Knows(tag)) << tag;
        EXPECT_NE(factory.Create(tag, &parent), nullptr) << tag;
    }
    factory.SetMaker("alarmpanel", [](QWidget* p) {
        auto* panel = new CContainerUI(p);
        panel->SetText("alarms");
        return panel;
    });
    EXPECT_EQ(factory.Create("AlarmPanel", &parent)->GetText(), "alarms") << "the alarm panel's maker replaces the default";
}

TEST(ControlFactory, PanelsBuildTheirSkinsWithTheirCustomTags) {
    TempDir dir;
    core::LogFile::Destroy();
    platform::SetProgramDirectory(dir.Path());
    HostWindow window;
    CControlFactory& factory = window.factory;
    QWidget parent;
    auto* preview = dynamic_cast<CPreviewPannel*>(factory.Create("previewpannel", &parent));
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->GetClass(), "PreviewPannel");
    ASSERT_NE(preview->Content(), nullptr);
    EXPECT_NE(dynamic_cast<CTreeList*>(FindControlIn(preview, "friends")), nullptr) << "FriendList inside a panel";
    EXPECT_NE(FindControlIn(preview, "search_edit"), nullptr);
    EXPECT_EQ(FindControlIn(preview, "search_edit")->GetManager(), &window.m_PaintManager);

    auto* settings = factory.Create("SettingPanel", &parent);
    ASSERT_NE(settings, nullptr);
    for (const char* tree : {"flCGPGroupTreeList", "flPPTreeList", "flSDTreeList"})
        EXPECT_NE(dynamic_cast<CTreeList*>(FindControlIn(settings->GetWidget(), tree)), nullptr) << tree;
    auto* permission = factory.Create("PermissionPanel", &parent);
    EXPECT_NE(dynamic_cast<CTreeViewUI*>(FindControlIn(permission->GetWidget(), "flPermiTreeList")), nullptr);
    factory.Create("SubAccActionPanel", &parent);
    factory.Create("SubAccBatchActionPanel", &parent);

    // A panel whose skin is missing stays empty.
    CSkinPanelUI missing("Missing", "Missing.xml", window, &parent);
    EXPECT_EQ(missing.Content(), nullptr);

    core::LogFile::Destroy();
    const std::string log = dir.Read("appLogs/Manage.log");
    EXPECT_NE(log.find(" Permission PaintManagerUI"), std::string::npos);
    EXPECT_NE(log.find(" Permission Batch PaintManagerUI"), std::string::npos);
    platform::SetProgramDirectory("");
}

TEST(PopMenu, PlacedInsideTheWorkArea) {
    const QRect area(0, 0, 1920, 1040);
    EXPECT_EQ(PlaceInWorkArea({100, 100}, {176, 238}, area), QPoint(100, 100));
    EXPECT_EQ(PlaceInWorkArea({100, 900}, {176, 238}, area), QPoint(100, 1040 - 238)) << "bottoms coincide";
    EXPECT_EQ(PlaceInWorkArea({1850, 100}, {176, 238}, area), QPoint(1920 - 176, 100)) << "right edges coincide";
    EXPECT_EQ(PlaceInWorkArea({1850, 900}, {176, 2000}, area), QPoint(1920 - 176, 0)) << "taller than the area: top";
    const QRect second(1920, 200, 1280, 800);
    EXPECT_EQ(PlaceInWorkArea({3000, 900}, {300, 900}, second), QPoint(3200 - 300, 200)) << "the area's own top";
}

TEST(PopMenu, OpensUnderItsButtonInsideItsWindow) {
    const QRect area(0, 0, 1920, 1040);
    const QRect window(100, 100, 1280, 800);
    const QSize size(176, 234);
    auto shown = [&](const QRect& button) {
        return QRect(PlaceUnder(button, size, 8, window, area) + QPoint(8, 8), size - QSize(16, 16));
    };
    // Near the window's right edge (the alarm tab's "摄像头操作"): under the button, not
    // over it, and not past the window.
    const QRect right(1270, 150, 96, 28);
    EXPECT_GT(shown(right).top(), right.bottom());
    EXPECT_LE(shown(right).right(), window.right());
    EXPECT_FALSE(shown(right).intersects(right));
    // Elsewhere the left edges meet.
    const QRect left(300, 150, 96, 28);
    EXPECT_EQ(shown(left).left(), 300);
    EXPECT_EQ(shown(left).top(), left.bottom() + 3);
    // No room below on the screen: above the button.
    const QRect low(300, 1000, 96, 28);
    EXPECT_LT(shown(low).bottom(), low.top());
    EXPECT_TRUE(area.contains(shown(low)));
}

TEST(PopMenu, ItemsGoThroughTheOwnerAndNeedOneToCloseCameras) {
    NotifyLog fallbackLog;
    QWidget fallbackRoot;
    CPaintManagerUI fallback;
    fallback.Init(&fallbackRoot, &fallbackLog, nullptr);

    auto pick = [&](CControlUI* owner, const char* item) {
        CPopMenu menu("CameraPopMenu.xml", &fallback);
        EXPECT_TRUE(menu.Show(owner, 40, 40));
        auto* button = menu.m_PaintManager.FindControl<CButtonUI>(item);
        EXPECT_NE(button, nullptr) << item;
        if (button) button->click();
        EXPECT_TRUE(menu.IsClosed()) << "a pick closes the menu";
    };
    pick(nullptr, "menu_Close");
    EXPECT_TRUE(fallbackLog.notes.empty()) << "menu_Close without an owner sends nothing";
    pick(nullptr, "menu_Update");
    ASSERT_EQ(fallbackLog.Count("menu_Update"), 1) << "menu_Update is still sent";
    EXPECT_EQ(fallbackLog.Last("menu_Update")->pSender, nullptr);

    // With an owner every item goes from the owner through its paint manager.
    NotifyLog ownerLog;
    QWidget ownerRoot;
    auto* owner = new CButtonUI(&ownerRoot);
    owner->setObjectName("btnAP");
    CPaintManagerUI ownerManager;
    ownerManager.Init(&ownerRoot, &ownerLog, nullptr);
    for (const char* item : {"menu_Close", "menu_Update", "menu_PlayBack", "menu_OpenNode", "menu_CloseNode",
                             "menu_AlarmSearch", "menu_CloseAll"}) {
        pick(owner, item);
        ASSERT_EQ(ownerLog.Count(item), 1) << item;
        EXPECT_EQ(ownerLog.Last(item)->pSender, owner);
    }
    EXPECT_EQ(fallbackLog.notes.size(), 1u);
    ownerManager.Shutdown();
    fallback.Shutdown();
}

TEST(PopMenu, ShadowFollowsAndTheMenuClosesOnSelectionEscapeOrFocusLoss) {
    CPopMenu menu("CameraPopMenu.xml");
    ASSERT_TRUE(menu.Show(nullptr, 60, 80));
    QWidget* window = menu.GetWidget();
    QWidget* shadow = menu.Shadow();
    ASSERT_TRUE(window && shadow);
    EXPECT_EQ(shadow->objectName(), "UIShadow");
    EXPECT_EQ(window->pos(), QPoint(60, 80));
    EXPECT_EQ(shadow->geometry(), window->geometry());
    EXPECT_EQ(window->mask().boundingRect(), window->rect().adjusted(8, 8, -8, -8));
    window->move(100, 120);
    EXPECT_EQ(shadow->pos(), QPoint(100, 120));
    menu.OnSize(200, 260);
    EXPECT_EQ(shadow->size(), QSize(200, 260));

    QWheelEvent wheel(QPointF(20, 20), QPointF(120, 140), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    EXPECT_TRUE(QApplication::sendEvent(window, &wheel) || true);
    EXPECT_FALSE(menu.IsClosed()) << "wheel turns change nothing";

    TNotifyUI select{notify::kItemSelect, nullptr};
    menu.Notify(select);
    EXPECT_TRUE(menu.IsClosed());
    EXPECT_FALSE(shadow->isVisible()) << "the shadow goes with the menu";

    CPopMenu escaped("CameraPopMenu.xml");
    ASSERT_TRUE(escaped.Show(nullptr, 10, 10));
    QTest::keyClick(escaped.GetWidget(), Qt::Key_Escape);
    EXPECT_TRUE(escaped.IsClosed());

    CPopMenu left("CameraPopMenu.xml");
    ASSERT_TRUE(left.Show(nullptr, 10, 10));
    ASSERT_TRUE(WaitFor([&] { return QGuiApplication::focusWindow() == left.GetWidget()->windowHandle(); }));
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    EXPECT_TRUE(WaitFor([&] { return left.IsClosed(); })) << "focus went to another window";

    QPointer<QWidget> self;
    {
        CPopMenu* owned = CPopMenu::Open("CameraPopMenu.xml", nullptr, 5, 5);
        ASSERT_NE(owned, nullptr);
        self = owned->GetWidget();
        owned->Close();
    }
    EXPECT_TRUE(WaitFor([&] { return self.isNull(); })) << "an opened menu frees itself";
    EXPECT_EQ(CPopMenu::Open("NoSuchMenu.xml", nullptr, 5, 5), nullptr);
}

TEST(DateRules, MonthsYearsAndTimesWrap) {
    DateTimeFields f{2015, 1, 31, 23, 59, 59};
    date_rules::StepMonth(f, -1);
    EXPECT_EQ(f.year, 2014);
    EXPECT_EQ(f.month, 12);
    date_rules::StepMonth(f, 1);
    EXPECT_EQ(f.year, 2015);
    EXPECT_EQ(f.month, 1);
    date_rules::StepMonth(f, 1);
    EXPECT_EQ(f.month, 2);
    EXPECT_EQ(f.day, 28) << "31 January, one month on, is the last day of February";
    date_rules::StepYear(f, 1);
    EXPECT_EQ(f.year, 2016);
    EXPECT_EQ(date_rules::DaysInMonth(2016, 2), 29);
    EXPECT_EQ(date_rules::FirstWeekday(2015, 7), 3) << "1 July 2015 was a Wednesday";

    EXPECT_EQ(date_rules::WrapStep(23, 1, 23), 0);
    EXPECT_EQ(date_rules::WrapStep(0, -1, 23), 23);
    EXPECT_EQ(date_rules::WrapStep(59, 1, 59), 0);
    EXPECT_EQ(date_rules::WrapStep(0, -1, 59), 59);
    EXPECT_EQ(date_rules::TypedValue("75", 59), 0);
    EXPECT_EQ(date_rules::TypedValue("24", 23), 0);
    EXPECT_EQ(date_rules::TypedValue("07", 59), 7);
    EXPECT_EQ(date_rules::TypedValue("-3", 59), 0);
    EXPECT_EQ(date_rules::TypedValue("x", 59), 0);

    EXPECT_EQ(date_rules::FormatDateTime({2015, 7, 1, 0, 0, 0}), "2015-07-01 00:00:00");
    EXPECT_EQ(date_rules::FormatDate({2015, 7, 31}), "2015/07/31");
    DateTimeFields read{2000, 1, 1, 1, 1, 1};
    EXPECT_TRUE(date_rules::ReadDateTime("2015-07-31 23:09:05", read));
    EXPECT_EQ(read, (DateTimeFields{2015, 7, 31, 23, 9, 5}));
    DateTimeFields partial{2000, 1, 1, 1, 1, 1};
    EXPECT_FALSE(date_rules::ReadDateTime("2015-13-4", partial)) << "short and out of range";
    EXPECT_EQ(partial, (DateTimeFields{2015, 1, 1, 1, 1, 1}));
    EXPECT_FALSE(date_rules::ReadDate("", partial));
    EXPECT_FALSE(date_rules::ReadDate("2015-02-30", partial));
    EXPECT_EQ(partial.day, 1) << "30 February is not taken";
}

TEST(Calendar, ButtonsAndTypedTimesWriteTheField) {
    QWidget host;
    auto* field = new COptionUI(&host);
    field->SetText("2015-01-15 23:10:05");
    field->Selected(true, false);
    auto* calendar = CCalWnd::OpenFor(field, 0, QPoint(200, 500));
    ASSERT_NE(calendar, nullptr);
    QPointer<QWidget> window = calendar->GetWidget();
    EXPECT_EQ(window->geometry().bottomLeft(), QPoint(200, 499)) << "bottom-left corner at the anchor";
    auto control = [&](const char* name) { return calendar->m_PaintManager.FindControl(name); };
    auto click = [&](const char* name) {
        auto* button = calendar->m_PaintManager.FindControl<CButtonUI>(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
    };
    EXPECT_EQ(control("TXT_MONTH")->GetText(), "1");
    EXPECT_EQ(control("TXT_YEAR")->GetText(), "2015");
    EXPECT_EQ(control("reHour")->GetText(), "23");
    EXPECT_EQ(field->GetText(), "2015-01-15 23:10:05") << "opening changes nothing";
    ASSERT_NE(calendar->DayOption(15), nullptr);
    EXPECT_TRUE(calendar->DayOption(15)->IsSelected());
    EXPECT_EQ(calendar->DayOption(32), nullptr);

    click("BTN_DOWN_MONTH");
    EXPECT_EQ(control("TXT_MONTH")->GetText(), "12");
    EXPECT_EQ(control("TXT_YEAR")->GetText(), "2014");
    EXPECT_EQ(field->GetText(), "2014-12-15 23:10:05");
    click("HourbtnPlus");
    EXPECT_EQ(control("reHour")->GetText(), "00");
    EXPECT_EQ(field->GetText(), "2014-12-15 00:10:05");
    click("SecondbtnLess");
    click("MinutebtnPlus");
    EXPECT_EQ(field->GetText(), "2014-12-15 00:11:04");

    control("reMinute")->SetText("75");
    TNotifyUI left{notify::kKillFocus, control("reMinute")};
    calendar->Notify(left);
    EXPECT_EQ(control("reMinute")->GetText(), "00");
    EXPECT_EQ(field->GetText(), "2014-12-15 00:00:04");

    calendar->DayOption(31)->click();
    EXPECT_EQ(field->GetText(), "2014-12-31 00:00:04");
    click("BTN_UP_YEAR");
    EXPECT_EQ(field->GetText(), "2015-12-31 00:00:04");

    calendar->Close();
    EXPECT_FALSE(field->IsSelected()) << "closing unchecks the field";
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); })) << "the calendar frees itself";
}

TEST(DatePicker, OpensOnAClickOnTheExpiryEditReadsItAndWritesItWithSlashes) {
    QWidget host;
    auto* edit = new CEditUI(&host);
    edit->SetText("2015-07-31");
    host.show();
    CDateWnd* picker = nullptr;
    OpenOnClick(edit, [&] { picker = CDateWnd::OpenFor(edit, 0, CDateWnd::AnchorFor({100, 50}, {300, 400})); });
    QTest::mouseClick(edit, Qt::RightButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(picker, nullptr) << "only the left button opens it";
    QTest::mouseClick(edit, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return picker != nullptr; })) << "an edit sends no click; the filter opens the picker";
    QPointer<QWidget> window = picker->GetWidget();
    EXPECT_EQ(picker->Anchor(), QPoint(380, 450));
    EXPECT_EQ(picker->Fields().year, 2015);
    EXPECT_EQ(picker->Fields().month, 7);
    EXPECT_EQ(picker->Fields().day, 31);
    EXPECT_TRUE(picker->DayOption(31)->IsSelected());
    EXPECT_EQ(picker->m_PaintManager.FindControl("DateTXT_MONTH")->GetText(), "7");
    picker->DayOption(15)->click();
    EXPECT_EQ(edit->GetText(), "2015/07/15");
    picker->m_PaintManager.FindControl<CButtonUI>("DateBTN_UP_MONTH")->click();
    EXPECT_EQ(edit->GetText(), "2015/08/15");

    ASSERT_TRUE(WaitFor([&] { return QGuiApplication::focusWindow() == window->windowHandle(); }));
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); })) << "focus loss closes and frees the picker";

    // An empty edit starts from today; a calendar anchor is computed from its field.
    CEditUI empty;
    CDateWnd today(&empty, {});
    EXPECT_EQ(today.Fields().year, DateTimeFields::Now().year);
    EXPECT_EQ(CCalWnd::AnchorFor({100, 50}, {300, 400}), QPoint(355, 740));
}
