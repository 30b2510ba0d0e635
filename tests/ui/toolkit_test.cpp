#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "core/message_ids.h"
#include "platform/paths.h"
#include "support/modal_driver.h"
#include "support/temp_dir.h"
#include "ui/toolkit/image_attr.h"
#include "ui/toolkit/ui_executor.h"
#include "ui/toolkit/window.h"

using namespace ui;
using testing_support::ModalDriver;
using testing_support::TempDir;

namespace {

// Skins written for one test into a folder of their own.
class SkinFolder {
public:
    SkinFolder() : saved_(CPaintManagerUI::GetResourcePath()) { CPaintManagerUI::SetResourcePath(dir.Path()); }
    ~SkinFolder() { CPaintManagerUI::SetResourcePath(saved_); }
    void Form(const std::string& name, const std::string& body) {
        dir.Write(name, R"(<?xml version="1.0" encoding="UTF-8"?><ui version="4.0"><class>Form</class>)" + body + "</ui>");
    }
    TempDir dir;

private:
    std::string saved_;
};

constexpr const char* kDemoForm = R"(
<widget class="QWidget" name="Form">
 <property name="geometry"><rect><x>0</x><y>0</y><width>300</width><height>200</height></rect></property>
 <layout class="QVBoxLayout">
  <item><widget class="QPushButton" name="btnGo"><property name="text"><string>Go</string></property></widget></item>
  <item><widget class="QCheckBox" name="ckOne"/></item>
  <item><widget class="QLineEdit" name="edName"/></item>
  <item><widget class="QLabel" name="lbInfo"><property name="text"><string>info</string></property></widget></item>
  <item><widget class="CFancyUI" name="fancy"/></item>
  <item><widget class="CNobodyKnows" name="mystery"/></item>
 </layout>
</widget>)";

class DemoWindow : public WindowImplBase {
public:
    std::string skin = "Demo.ui";
    std::string fallback;
    std::vector<std::string> asked;
    std::vector<std::pair<std::string, std::string>> notes;  // type, sender name
    std::vector<platform::Message> messages;
    std::thread::id messageThread;
    bool initialised = false;

    std::string GetWindowClassName() const override { return "DemoWindow"; }
    std::string GetSkinFile() override { return skin; }
    std::string GetFallbackSkin() override { return fallback; }
    void InitWindow() override { initialised = true; }
    CControlUI* CreateControl(const std::string& className, QWidget* parent) override {
        asked.push_back(className);
        if (className == "CFancyUI") return new CLabelUI(parent);
        return nullptr;
    }
    void Notify(TNotifyUI& msg) override {
        notes.emplace_back(msg.sType, msg.pSender ? msg.pSender->GetName() : "");
    }
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override {
        messageThread = std::this_thread::get_id();
        messages.emplace_back(msg.id, msg.wParam, msg.lParam);
        handled = true;
        return static_cast<std::intptr_t>(msg.wParam) * 2;
    }
    bool Noted(const std::string& type, const std::string& sender) const {
        for (const auto& [t, s] : notes)
            if (t == type && s == sender) return true;
        return false;
    }
};

void Pump(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

TEST(ImageAttr, ParsesKeysQuotesAndBareNames) {
    ImageAttr a = ParseImageAttr("file='Image\\cctv_line.png' source='0,0,16,8' corner='2, 2, 2, 2' fade='128'");
    EXPECT_EQ(a.file, "Image\\cctv_line.png");
    ASSERT_TRUE(a.source.has_value());
    EXPECT_EQ(*a.source, QRect(0, 0, 16, 8));
    EXPECT_EQ(a.corner, QMargins(2, 2, 2, 2));
    EXPECT_EQ(a.fade, 128);

    EXPECT_EQ(ParseImageAttr("Image\\lg1.png").file, "Image\\lg1.png") << "a bare name is the file";
    EXPECT_EQ(ParseImageAttr("file=\"a.png\"").file, "a.png");
    EXPECT_TRUE(ParseImageAttr("").empty());
}

TEST(ImageAttr, MalformedValuesAreDroppedNotTrusted) {
    ImageAttr a = ParseImageAttr("file='x.png' source='5,5,1,1' fade='999' corner='-1,0,0,0'");
    EXPECT_EQ(a.file, "x.png");
    EXPECT_FALSE(a.source.has_value()) << "a rectangle whose right is left of its left";
    EXPECT_EQ(a.fade, 255);
    EXPECT_TRUE(a.corner.isNull());
    EXPECT_EQ(ParseImageAttr("file='unterminated").file, "unterminated");
    EXPECT_FALSE(ParseImageAttr("source='1,2,3'").source.has_value());
    EXPECT_FALSE(ParseImageAttr("source='1,2,3,4,5'").source.has_value());
}

TEST(ImageAttr, AFittedPictureKeepsItsShapeInTheMiddle) {
    testing_support::TempDir dir;
    QImage wide(40, 20, QImage::Format_RGB32);
    wide.fill(Qt::red);
    const std::string file = dir.File("wide.png");
    ASSERT_TRUE(wide.save(QString::fromStdString(file)));
    auto paint = [&](const std::string& attr) {
        QImage canvas(100, 100, QImage::Format_ARGB32);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        PaintImage(painter, canvas.rect(), ParseImageAttr(attr));
        painter.end();
        QRect painted;
        for (int y = 0; y < canvas.height(); ++y)
            for (int x = 0; x < canvas.width(); ++x)
                if (qAlpha(canvas.pixel(x, y)) > 0) painted |= QRect(x, y, 1, 1);
        return painted;
    };
    EXPECT_EQ(paint("file='" + file + "' scale='fit'"), QRect(0, 25, 100, 50)) << "2:1, centred";
    EXPECT_EQ(paint("file='" + file + "'"), QRect(0, 0, 100, 100)) << "stretched without it";
}

TEST(ImageAttr, MissingPictureIsLoadedAsNothing) {
    ClearImageCache();
    EXPECT_TRUE(LoadSkinImage("Image\\does_not_exist.png").isNull());
    EXPECT_FALSE(LoadSkinImage("Image\\lg1.png").isNull()) << "the built skin has the login button";
}

TEST(SkinnedWindow, BuildsControlsFromTheFormAndAsksForUnknownClasses) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    EXPECT_TRUE(window.initialised);
    EXPECT_TRUE(window.Noted(notify::kWindowInit, ""));
    EXPECT_NE(window.GetHWND(), 0u);
    EXPECT_EQ(WindowFromHandle(window.GetHWND()), &window);

    auto& pm = window.m_PaintManager;
    EXPECT_NE(pm.FindControl<CButtonUI>("btnGo"), nullptr);
    EXPECT_NE(pm.FindControl<COptionUI>("ckOne"), nullptr);
    EXPECT_NE(pm.FindControl<CEditUI>("edName"), nullptr);
    EXPECT_EQ(pm.FindControl("lbInfo")->GetText(), "info");
    EXPECT_NE(pm.FindControl<CLabelUI>("fancy"), nullptr) << "made by the window's CreateControl";
    EXPECT_NE(pm.FindControl<CContainerUI>("mystery"), nullptr) << "an unknown class keeps its place as a container";
    EXPECT_EQ(pm.FindControl("noSuchControl"), nullptr);
    EXPECT_EQ(pm.FindControl<CButtonUI>("lbInfo"), nullptr) << "wrong kind is absent, not a bad cast";
    EXPECT_EQ(window.asked, (std::vector<std::string>{"CFancyUI", "CNobodyKnows"}));
}

TEST(SkinnedWindow, ControlsCarryTextVisibilityStateUserDataAndTag) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    CControlUI* go = window.m_PaintManager.FindControl("btnGo");
    go->SetText("开始");
    EXPECT_EQ(go->GetText(), "开始");
    go->SetVisible(false);
    EXPECT_FALSE(go->IsVisible());
    go->SetEnabled(false);
    EXPECT_FALSE(go->IsEnabled());
    go->SetUserData("camera-7");
    go->SetTag(42);
    EXPECT_EQ(go->GetUserData(), "camera-7");
    EXPECT_EQ(go->GetTag(), 42);
    EXPECT_EQ(go->GetClass(), "Button");
    EXPECT_EQ(window.m_PaintManager.FindSubControlByName(go, "lbInfo"), nullptr);
}

TEST(SkinnedWindow, MissingSkinIsLoggedAndReportedAndNeverShown) {
    SkinFolder skins;
    std::vector<std::string> reports;
    SetSkinErrorReporter([&](const std::string& text) { reports.push_back(text); });
    DemoWindow window;
    window.skin = "Nowhere.xml";
    EXPECT_FALSE(window.Create(0, "demo"));
    EXPECT_EQ(window.ShowModal(), -1);
    EXPECT_EQ(window.m_PaintManager.FindControl("btnGo"), nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Nowhere.xml"), std::string::npos);

    skins.dir.Write("Broken.xml", "<ui><widget class=");
    DemoWindow broken;
    broken.skin = "Broken.xml";
    EXPECT_FALSE(broken.Create(0, "demo")) << "a malformed form is refused, not half-built";
    EXPECT_EQ(reports.size(), 2u);
    SetSkinErrorReporter(nullptr);
}

TEST(SkinnedWindow, FallbackFormStandsInForAMissingSkin) {
    SkinFolder skins;
    DemoWindow window;
    window.skin = "Nowhere.xml";
    window.fallback = R"(<?xml version="1.0"?><ui version="4.0"><widget class="QWidget" name="F"><layout class="QVBoxLayout">
        <item><widget class="QPushButton" name="btnGo"/></item></layout></widget></ui>)";
    ASSERT_TRUE(window.Create(0, "demo"));
    EXPECT_NE(window.m_PaintManager.FindControl<CButtonUI>("btnGo"), nullptr);
}

TEST(SkinnedWindow, ShowModalReturnsTheCloseCodeAndEscapeClosesWithTheDefault) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    ModalDriver driver;
    driver.Then([](WindowImplBase& w) { w.Close(17); });
    driver.Then([](WindowImplBase& w) { QTest::keyClick(w.GetWidget(), Qt::Key_Escape); });
    DemoWindow first;
    ASSERT_TRUE(first.Create(0, "demo"));
    EXPECT_EQ(first.ShowModal(), 17);
    DemoWindow second;
    ASSERT_TRUE(second.Create(0, "demo"));
    EXPECT_EQ(second.ShowModal(), 1);
    DemoWindow closedEarly;
    ASSERT_TRUE(closedEarly.Create(0, "demo"));
    closedEarly.Close(34);
    EXPECT_EQ(closedEarly.ShowModal(), 34) << "a window closed before its modal run returns at once";

    // Quitting (a termination signal) ends every modal run, innermost first, each with
    // the code it is given, and a run that starts afterwards as soon as it is shown.
    DemoWindow outer, inner, later;
    ASSERT_TRUE(outer.Create(0, "outer") && inner.Create(0, "inner") && later.Create(0, "later"));
    std::vector<WindowImplBase*> ended;
    const auto quitCode = [&](WindowImplBase& w) {
        ended.push_back(&w);
        return &w == &outer ? 17 : w.EscapeResult();
    };
    int innerResult = 0;
    driver.Then([&](WindowImplBase&) { QTimer::singleShot(0, [&] { innerResult = inner.ShowModal(); }); });
    driver.Then([&](WindowImplBase&) { QTimer::singleShot(0, [&] { EndModalRuns(quitCode); }); });
    // Without the quit this run would end only by this timer's -3.
    driver.Then([](WindowImplBase& w) { QTimer::singleShot(5000, w.GetWidget(), [&w] { w.Close(-3); }); });
    EXPECT_EQ(outer.ShowModal(), 17);
    EXPECT_EQ(innerResult, 1);
    EXPECT_EQ(later.ShowModal(), 1);
    EXPECT_EQ(ended, (std::vector<WindowImplBase*>{&inner, &outer, &later}));
    EndModalRuns(nullptr);
}

TEST(SkinnedWindow, InputBecomesNotifications) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    window.ShowWindow();
    auto& pm = window.m_PaintManager;
    QTest::mouseClick(pm.FindControl<CButtonUI>("btnGo"), Qt::LeftButton);
    EXPECT_TRUE(window.Noted(notify::kButtonDown, "btnGo"));
    EXPECT_TRUE(window.Noted(notify::kClick, "btnGo"));

    auto* option = pm.FindControl<COptionUI>("ckOne");
    option->Selected(true, false);
    EXPECT_FALSE(window.Noted(notify::kSelectChanged, "ckOne")) << "a quiet change sends nothing";
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
    EXPECT_FALSE(option->IsSelected());
    EXPECT_TRUE(window.Noted(notify::kSelectChanged, "ckOne"));
    EXPECT_TRUE(window.Noted(notify::kClick, "ckOne"));

    auto* edit = pm.FindControl<CEditUI>("edName");
    edit->SetText("set by code");
    EXPECT_FALSE(window.Noted(notify::kTextChanged, "edName"));
    QTest::keyClicks(edit, "ab");
    EXPECT_TRUE(window.Noted(notify::kTextChanged, "edName"));

    pm.SendNotify(edit, "custom", 1, 2);
    EXPECT_TRUE(window.Noted("custom", "edName")) << "SendNotify delivers synchronously";
}

// Whoever starts something on a press (a camera's head moving) hears of its end
// however it ends: released off the button, the window deactivated, the button
// hidden, or clicked from code. Once per press.
TEST(SkinnedWindow, EveryPressOfAButtonEndsWithOneButtonUp) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    window.ShowWindow();
    auto* button = window.m_PaintManager.FindControl<CButtonUI>("btnGo");
    ASSERT_NE(button, nullptr);
    auto count = [&](const char* type) {
        int n = 0;
        for (const auto& [t, s] : window.notes) n += t == type && s == "btnGo";
        return n;
    };

    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_TRUE(button->IsHeld());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-40, -40));
    EXPECT_EQ(count(notify::kButtonUp), 1) << "released off the button";
    EXPECT_EQ(count(notify::kClick), 0);
    EXPECT_FALSE(button->IsHeld());

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(count(notify::kButtonUp), 2);
    EXPECT_EQ(count(notify::kClick), 1);

    button->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(button->window()));
    QTest::mousePress(button, Qt::LeftButton);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(count(notify::kButtonUp), 3) << "the window lost the activation";
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(count(notify::kButtonUp), 3) << "the late release adds nothing";

    QTest::mousePress(button, Qt::LeftButton);
    button->hide();
    EXPECT_EQ(count(notify::kButtonUp), 4) << "hidden while held";
    button->show();

    button->click();
    EXPECT_EQ(count(notify::kButtonUp), 5) << "a click from code";
    EXPECT_EQ(count(notify::kButtonDown), 5);
}

TEST(SkinnedWindow, TimersArriveAsMessage275) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    CControlUI* go = window.m_PaintManager.FindControl("btnGo");
    ASSERT_TRUE(window.m_PaintManager.SetTimer(go, 9, 5));
    (void)QTest::qWaitFor([&] { return window.messages.size() >= 2; }, 2000);
    ASSERT_GE(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].id, core::kWmTimer);
    EXPECT_EQ(window.messages[0].wParam, 9u);
    EXPECT_TRUE(window.m_PaintManager.KillTimer(go, 9));
    EXPECT_FALSE(window.m_PaintManager.KillTimer(go, 9));
    const std::size_t seen = window.messages.size();
    QTest::qWait(30);
    EXPECT_EQ(window.messages.size(), seen) << "no tick after KillTimer";
}

TEST(WindowHandles, OtherThreadsPostAndSendToTheUserInterfaceThread) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    const platform::WindowHandle handle = window.GetHWND();
    std::atomic<std::intptr_t> sent{-1};
    std::thread worker([&] {
        platform::PostWindowMessage(handle, platform::Message(1030, 3, -4));
        sent = platform::SendWindowMessage(handle, platform::Message(1042, 21));
    });
    (void)QTest::qWaitFor([&] { return sent.load() != -1; }, 5000);
    worker.join();
    EXPECT_EQ(sent.load(), 42);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].id, 1030u) << "a post before a send arrives first";
    EXPECT_EQ(window.messages[1].id, 1042u);
    EXPECT_EQ(window.messageThread, std::this_thread::get_id());
}

TEST(WindowHandles, SendToAWindowThatGoesAwayReturnsZero) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    auto window = std::make_unique<DemoWindow>();
    ASSERT_TRUE(window->Create(0, "demo"));
    const platform::WindowHandle handle = window->GetHWND();
    std::atomic<std::intptr_t> sent{-1};
    std::thread worker([&] { sent = platform::SendWindowMessage(handle, platform::Message(1042, 5)); });
    // Let the send get queued (without running the queue), then destroy the window.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    window.reset();
    (void)QTest::qWaitFor([&] { return sent.load() != -1; }, 5000);
    worker.join();
    EXPECT_EQ(sent.load(), 0);
    EXPECT_FALSE(platform::IsWindowHandle(handle));
    EXPECT_FALSE(platform::PostWindowMessage(handle, platform::Message(1, 0, 0, platform::MakePayload(1))));
}

TEST(WindowHandles, ClosureDroppedByTheExecutorIsDestroyedUnrun) {
    struct Tracker {
        std::shared_ptr<int> alive = std::make_shared<int>(0);
    };
    std::weak_ptr<int> watch;
    bool ran = false;
    {
        auto executor = UiExecutor();
        auto token = std::make_shared<int>(1);
        watch = token;
        executor->Post([token, &ran] { ran = true; });
        EXPECT_TRUE(executor->InOwnThread());
    }  // the last reference goes: the receiver is deleted with its queue
    Pump();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watch.expired()) << "the closure's captured state must be freed";
    EXPECT_FALSE(ran);
}

TEST(ComboItems, PickingAnItemNotifiesAndItsButtonsDoNot) {
    SkinFolder skins;
    skins.Form("Demo.ui", R"(<widget class="QWidget" name="Form"><layout class="QVBoxLayout">
      <item><widget class="QComboBox" name="cbList"/></item></layout></widget>)");
    skins.Form("Item.ui", R"(<widget class="QFrame" name="Item"><layout class="QHBoxLayout">
      <item><widget class="QLabel" name="user_text"/></item><item><widget class="QPushButton" name="delbtn"/></item>
      </layout></widget>)");
    DemoWindow window;
    ASSERT_TRUE(window.Create(0, "demo"));
    window.ShowWindow();
    auto* combo = window.m_PaintManager.FindControl<CComboUI>("cbList");
    ASSERT_NE(combo, nullptr);
    CDialogBuilder builder;
    for (const char* name : {"alice", "bob"}) {
        QWidget* item = builder.Create("Item.ui", window.m_PaintManager);
        ASSERT_NE(item, nullptr);
        window.m_PaintManager.FindSubControlByName(dynamic_cast<CControlUI*>(item), "user_text")->SetText(name);
        combo->AddItem(item, name);
    }
    EXPECT_EQ(builder.Create("Missing.ui", window.m_PaintManager), nullptr);
    ASSERT_EQ(combo->GetCount(), 2);
    combo->showPopup();
    ASSERT_TRUE(combo->IsPopupShown());
    CControlUI* second = combo->GetItemAt(1);
    QTest::mouseClick(window.m_PaintManager.FindSubControlByName(second, "delbtn")->GetWidget(), Qt::LeftButton);
    EXPECT_TRUE(window.Noted(notify::kClick, "delbtn"));
    EXPECT_FALSE(window.Noted(notify::kItemSelect, "cbList")) << "a button inside an item is not a pick";
    QTest::mouseClick(window.m_PaintManager.FindSubControlByName(second, "user_text")->GetWidget(), Qt::LeftButton);
    EXPECT_TRUE(window.Noted(notify::kItemSelect, "cbList"));
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_FALSE(combo->IsPopupShown());
    // The list opens with the chosen item marked for the skin.
    combo->showPopup();
    EXPECT_TRUE(second->GetWidget()->property("current").toBool());
    EXPECT_FALSE(combo->GetItemAt(0)->GetWidget()->property("current").toBool());
    combo->hidePopup();
    EXPECT_EQ(combo->GetItemIndex(second), 1);
    EXPECT_FALSE(combo->SelectItem(5));
}

TEST(SkinnedWindow, EnterReachesTheWindowEachTimeFromAnEditOrTheWindow) {
    SkinFolder skins;
    skins.Form("Demo.ui", kDemoForm);
    struct EnterCounter : DemoWindow {
        int enters = 0;
        bool ResponseDefaultKeyEvent(int key) override {
            if (key == Qt::Key_Return) {
                ++enters;
                return true;
            }
            return WindowImplBase::ResponseDefaultKeyEvent(key);
        }
    } window;
    ASSERT_TRUE(window.Create(0, "demo"));
    window.ShowWindow();
    QWidget* edit = window.m_PaintManager.FindControl("edName")->GetWidget();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(window.GetWidget(), Qt::Key_Enter);
    EXPECT_EQ(window.enters, 3) << "every press counts, not only the first";
    EXPECT_TRUE(window.Noted(notify::kReturn, "edName")) << "the edit still reports its own return";
    EXPECT_FALSE(window.IsClosed());
}
