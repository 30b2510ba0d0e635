// The video wall and its cell toolbar as widgets, headless: layouts, selection, drag
// swap, full screen, free-cell search, hover and the toolbar's requests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <algorithm>
#include <mutex>
#include <vector>

#include "core/message_ids.h"
#include "media/ddraw_show.h"
#include "support/rendered_text.h"
#include "ui/toolkit/ui_executor.h"
#include "wall/video_panel_mng.h"
#include "wall/win_sub.h"

using namespace wall;

namespace {

struct Received {
    std::uint32_t id;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::string text;
};

class WallTest : public ::testing::Test {
protected:
    void SetUp() override {
        mainWindow = platform::CreateWindowHandle(
            [this](platform::Message& m) -> std::intptr_t {
                Received r{m.id, m.wParam, m.lParam, {}};
                if (auto* text = platform::PayloadAs<std::string>(m)) r.text = *text;
                received.push_back(r);
                return 0;
            },
            ui::UiExecutor());
        WallEnvironment environment;
        environment.cellsSwapped = [this](int from, int to) { swaps.emplace_back(from, to); };
        environment.screenSize = [] { return QSize(1920, 1080); };
        environment.pictureSize = [](int, const std::string&) { return QSize(704, 576); };
        wall = std::make_unique<CVideoPanelMng>(mainWindow, nullptr, environment);
        wall->resize(806, 407);
        wall->show();
        Pump();
    }
    void TearDown() override {
        wall.reset();
        platform::DestroyWindowHandle(mainWindow);
    }
    static void Pump(int ms = 20) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QRect Geometry(int index) { return wall->Cell(index)->geometry(); }
    static control::ItemPtr Row(const std::string& id, bool live) {
        auto row = std::make_shared<control::ITEMINFO>();
        row->kind = control::ITEMINFO::kCamera;
        row->id = id;
        row->name = "camera " + id;
        row->live = live;
        return row;
    }
    int Count(std::uint32_t id) {
        int n = 0;
        for (const auto& r : received) n += r.id == id;
        return n;
    }

    platform::WindowHandle mainWindow = 0;
    std::vector<Received> received;
    std::vector<std::pair<int, int>> swaps;
    std::unique_ptr<CVideoPanelMng> wall;
};

}  // namespace

TEST_F(WallTest, CreatedWithLayoutFourAndTheCellsInPlace) {
    EXPECT_EQ(wall->Layout(), 4);
    EXPECT_EQ(Geometry(0), QRect(1, 1, 400, 200));
    EXPECT_EQ(Geometry(1), QRect(405, 1, 400, 200));
    EXPECT_EQ(Geometry(2), QRect(1, 205, 400, 200));
    EXPECT_EQ(Geometry(3), QRect(405, 205, 400, 200));
    EXPECT_TRUE(wall->Cell(3)->isVisible());
    EXPECT_FALSE(wall->Cell(4)->isVisible());
    EXPECT_EQ(wall->Cell(7)->ControlId(), 3007);
    EXPECT_EQ(wall->SelectionFrame().value(), (CellBox{0, 0, 402, 202}));

    wall->SetLayout(6, false);
    EXPECT_EQ(Geometry(0), QRect(QPoint(1, 1), QPoint(534, 268)));
    EXPECT_EQ(Geometry(5), QRect(QPoint(539, 273), QPoint(803, 404)));
    wall->SetLayout(7, false);  // ignored
    EXPECT_EQ(wall->Layout(), 6);

    // The usable size follows the window.
    wall->resize(1606, 807);
    Pump();
    EXPECT_EQ(Geometry(0), QRect(QPoint(1, 1), QPoint(1068, 534)));
}

TEST_F(WallTest, LayoutOneShowsTheSelectedCellAndSelectionFollowsTheLayout) {
    wall->SetLayout(9, false);
    wall->Select(7);
    wall->SetLayout(1, false);
    EXPECT_TRUE(wall->Cell(7)->isVisible());
    EXPECT_FALSE(wall->Cell(0)->isVisible());
    EXPECT_EQ(Geometry(7), QRect(1, 1, 804, 405));
    wall->SetLayout(4, false);
    EXPECT_EQ(wall->Selected(), 0) << "a selection outside the layout goes back to cell 0";
    EXPECT_EQ(wall->CellRect(70).value(), (CellBox{1, 1, 401, 201})) << "above 63: the selected cell";
}

TEST_F(WallTest, FindFreeCellGrowsTheLayoutAndUsesTheNextCell) {
    for (int i = 0; i < 4; ++i) wall->SetCellEntry(i, Row(std::to_string(1000 + i), true));
    int index = 0;
    platform::WindowHandle window = 0;
    ASSERT_TRUE(wall->FindFreeCell(index, window));
    EXPECT_EQ(index, 4);
    EXPECT_EQ(window, wall->Cell(4)->Handle());
    EXPECT_EQ(wall->Layout(), 9);
    EXPECT_TRUE(wall->Cell(4)->isVisible());

    // A row that is no longer live frees its cell.
    wall->CellEntry(1)->live = false;
    index = -1;
    ASSERT_TRUE(wall->FindFreeCell(index, window));
    EXPECT_EQ(index, 1);

    // An explicit cell: its window only when it holds a row.
    index = 5;
    window = 0;
    EXPECT_TRUE(wall->FindFreeCell(index, window));
    EXPECT_EQ(window, 0u);
    index = 64;
    EXPECT_FALSE(wall->FindFreeCell(index, window));

    for (int i = 0; i < kCellCount; ++i) wall->SetCellEntry(i, Row(std::to_string(2000 + i), true));
    index = 0;
    EXPECT_FALSE(wall->FindFreeCell(index, window));
    EXPECT_EQ(wall->FindCellByCameraId("2033"), 33);
    EXPECT_EQ(wall->FindCellByCameraId("none"), -1);
}

// White caption pixels near the middle of a cell.
int BrightPixelsInTheMiddle(const QImage& image) {
    int bright = 0;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y)
        for (int x = image.width() / 4; x < image.width() * 3 / 4; ++x)
            bright += qGray(image.pixel(x, y)) > 200;
    return bright;
}

// The caption ("重连中" and the other cell texts) shows over the camera's picture on
// whichever display path the cell uses (under Xvfb this runs again with the GPU path
// forced, where the OpenGL presenter covers the cell), and ClearCell removes it.
TEST_F(WallTest, CaptionShowsOverThePictureAndClearCellDropsIt) {
    MyVideoPanel* cell = wall->Cell(2);
    // A black picture: Y 16, chroma 128.
    std::vector<std::uint8_t> picture(352 * 288 * 3 / 2, 128);
    std::fill(picture.begin(), picture.begin() + 352 * 288, std::uint8_t{16});
    media::CDDrawShow show;
    ASSERT_TRUE(show.CreateAny(cell->Handle(), 352, 288));
    EXPECT_EQ(show.Type() != media::kSurfacePlain, cell->UsesGpu());
    const std::uint8_t* y = picture.data();
    ASSERT_EQ(show.Draw(352, 288, y, y + 352 * 288, y + 352 * 288 * 5 / 4), 1);
    QElapsedTimer timer;
    timer.start();
    while (cell->Presents() == 0 && timer.elapsed() < 3000) Pump(10);
    ASSERT_GT(cell->Presents(), 0);
    Pump();
    EXPECT_EQ(BrightPixelsInTheMiddle(cell->grab().toImage()), 0) << "the picture alone is black";

    wall->SetCellEntry(2, Row("7", true));
    wall->SetCaption(2, "重连中", true);
    EXPECT_EQ(cell->Caption(), QString("重连中"));
    Pump();
    EXPECT_GT(BrightPixelsInTheMiddle(cell->grab().toImage()), 8) << "the caption is hidden behind the picture";
    // A new picture keeps the caption on top.
    ASSERT_EQ(show.Draw(352, 288, y, y + 352 * 288, y + 352 * 288 * 5 / 4), 1);
    Pump(50);
    EXPECT_GT(BrightPixelsInTheMiddle(cell->grab().toImage()), 8);

    wall->ClearCell(2);
    EXPECT_FALSE(wall->CellEntry(2)->live);
    EXPECT_TRUE(cell->Caption().isEmpty());
    Pump();
    EXPECT_EQ(BrightPixelsInTheMiddle(cell->grab().toImage()), 0);
    wall->SetCellEntry(90, Row("8", true));  // ignored
    EXPECT_EQ(wall->CellEntry(90), nullptr);
}

// A status text reads on a sixteen-cell wall of a 1920 x 1080 screen (it was drawn at
// a quarter of the cell's width in tenths of a point: about six pixels tall), and on
// a 64-cell wall it is still not below the minimum and fits its cell.
TEST_F(WallTest, CaptionsAreReadableOnAFullWall) {
    wall->resize(1638, 870);  // the live wall of a maximised main window on a 1080p screen
    wall->SetLayout(16, true);
    wall->SetCaption(5, "不在开放时间段内", true);
    Pump();
    QImage picture = wall->Cell(5)->grab().toImage();
    EXPECT_GE(testing_support::InkHeight(picture), 16);
    EXPECT_LE(testing_support::InkHeight(picture), wall->Cell(5)->height() / 3);

    wall->SetLayout(64, true);
    wall->SetCaption(63, "连接转发服务器失败", true);
    Pump();
    MyVideoPanel* small = wall->Cell(63);
    picture = small->grab().toImage();
    EXPECT_GE(testing_support::InkHeight(picture), 10) << "twelve-pixel characters";
    EXPECT_LT(testing_support::InkWidth(picture), small->width()) << "within the cell";
}

TEST_F(WallTest, DragSwapsCellsAndTellsTheApplication) {
    wall->SetCellEntry(0, Row("A", true));
    wall->SetCellEntry(3, Row("B", true));
    MyVideoPanel* first = wall->Cell(0);
    MyVideoPanel* fourth = wall->Cell(3);
    QTest::mousePress(first, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(wall->DragSource(), 0);
    QTest::mouseRelease(first, Qt::LeftButton, {}, first->mapFromGlobal(fourth->mapToGlobal(QPoint(20, 20))));
    ASSERT_EQ(swaps.size(), 1u);
    EXPECT_EQ(swaps[0], std::make_pair(0, 3));
    EXPECT_EQ(wall->Cell(3), first);
    EXPECT_EQ(first->Index(), 3);
    EXPECT_EQ(wall->Cell(0), fourth);
    EXPECT_EQ(Geometry(3), QRect(405, 205, 400, 200)) << "the moved window takes its new place";
    EXPECT_EQ(wall->FindCellByCameraId("A"), 3);
    EXPECT_EQ(wall->FindCellByCameraId("B"), 0);

    // Onto itself: nothing.
    QTest::mousePress(first, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(first, Qt::LeftButton, {}, QPoint(12, 12));
    EXPECT_EQ(swaps.size(), 1u);

    // In full screen: nothing.
    wall->FullScreen(true);
    QTest::mousePress(first, Qt::LeftButton, {}, QPoint(10, 10));
    wall->SwapCells(1);
    EXPECT_EQ(swaps.size(), 1u);
    EXPECT_EQ(wall->Cell(3), first);
}

TEST_F(WallTest, FullScreenLaysOutOverTheScreenAndRestores) {
    wall->SetLayout(8, false);
    wall->FullScreen(true);
    Pump();
    EXPECT_TRUE(wall->IsFullScreen());
    EXPECT_EQ(wall->geometry(), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(Geometry(0), QRect(3, 3, 3 * 476 + 8, 3 * 266 + 8));
    EXPECT_EQ(Geometry(7), QRect(3 * 479 + 3, 3 * 269 + 3, 476, 266));
    EXPECT_FALSE(wall->SelectionFrame());
    wall->FullScreen(false);
    Pump();
    EXPECT_FALSE(wall->IsFullScreen());
    EXPECT_EQ(wall->size(), QSize(806, 407));
    EXPECT_EQ(Geometry(1), QRect(607, 1, 198, 98));

    wall->SetLayout(6, false);
    wall->FullScreen(true);
    EXPECT_EQ(Geometry(0), QRect(3, 3, 2 * 636 + 4, 2 * 356 + 4));
    EXPECT_EQ(Geometry(1), QRect(2 * 639 + 3, 3, 636, 356));
    wall->FullScreen(false);

    wall->FullScreenCell(true, 2);
    EXPECT_EQ(Geometry(2), QRect(3, 3, 1914, 1074));
    EXPECT_FALSE(wall->Cell(0)->isVisible());
    wall->FullScreenCell(false, 2);
    EXPECT_TRUE(wall->Cell(0)->isVisible());
}

// A double-click leaves full screen on its second press; the release that follows
// lands on whatever cell the normal layout puts under the pointer and must not be
// taken for a drag. A maximised main window comes back maximised.
TEST_F(WallTest, LeavingFullScreenByDoubleClickSwapsNothingAndRestoresAMaximisedWindow) {
    wall->SetCellEntry(0, Row("A", true));
    wall->SetCellEntry(3, Row("B", true));
    MyVideoPanel* first = wall->Cell(0);
    auto doubleClick = [](QWidget* cell, QPoint at) {
        QTest::mousePress(cell, Qt::LeftButton, {}, at);
        QTest::mouseRelease(cell, Qt::LeftButton, {}, at);
        QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(at), QPointF(cell->mapToGlobal(at)), Qt::LeftButton,
                           Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(cell, &second);
    };
    doubleClick(first, QPoint(10, 10));
    ASSERT_TRUE(wall->IsFullScreen());
    QTest::mouseRelease(first, Qt::LeftButton, {}, QPoint(10, 10));

    // The second double-click leaves full screen; its release comes over cell 3.
    const QPoint deep(500, 300);
    doubleClick(first, deep);
    ASSERT_FALSE(wall->IsFullScreen());
    const QPoint overFourth = first->mapFromGlobal(wall->Cell(3)->mapToGlobal(QPoint(20, 20)));
    ASSERT_EQ(wall->childAt(wall->mapFromGlobal(first->mapToGlobal(overFourth))), wall->Cell(3));
    QTest::mouseRelease(first, Qt::LeftButton, {}, overFourth);
    EXPECT_TRUE(swaps.empty()) << "the double-click's release is no drop";
    EXPECT_EQ(wall->FindCellByCameraId("A"), 0);
    EXPECT_EQ(wall->FindCellByCameraId("B"), 3);

    // A drag after it still works.
    QTest::mousePress(first, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(first, Qt::LeftButton, {}, overFourth);
    EXPECT_EQ(swaps.size(), 1u);

    // In a maximised main window.
    QWidget top;
    top.resize(1000, 600);
    WallEnvironment environment;
    environment.screenSize = [] { return QSize(1920, 1080); };
    environment.pictureSize = [](int, const std::string&) { return QSize(); };
    CVideoPanelMng inner(mainWindow, &top, environment);
    top.showMaximized();
    Pump();
    ASSERT_TRUE(top.isMaximized());
    const QRect normal = top.normalGeometry();
    inner.FullScreen(true);
    EXPECT_EQ(top.geometry(), QRect(0, 0, 1920, 1080));
    inner.FullScreen(false);
    EXPECT_EQ(top.normalGeometry(), normal) << "its normal placement kept";
    Pump();
    EXPECT_TRUE(top.isMaximized()) << "maximised again";
}

TEST_F(WallTest, HoverReachesTheMainWindowAndPlacesTheToolbar) {
    wall->SetCellEntry(1, Row("42", true));
    QTest::mouseMove(wall->Cell(1), QPoint(30, 30));
    Pump(50);
    ASSERT_EQ(Count(core::kCellHover), 1);
    EXPECT_EQ(received.back().wParam, 1u);

    wall->ShowToolbar(1);
    QWidget* strip = wall->Toolbar()->GetWidget();
    EXPECT_TRUE(strip->isVisible());
    EXPECT_EQ(strip->geometry(), QRect(405, 1 + 200 - 26, 400, 26));
    EXPECT_EQ(wall->Toolbar()->Cell(), 1);

    // The toolbar follows its cell to a new layout.
    wall->SetLayout(9, false);
    EXPECT_EQ(strip->geometry(), QRect(270, 1 + 132 - 26, 265, 26));

    wall->ShowToolbar(20);  // outside the layout
    EXPECT_FALSE(strip->isVisible());
    wall->ShowToolbar(1);
    wall->FullScreen(true);
    EXPECT_FALSE(strip->isVisible());
    wall->ShowToolbar(1);
    EXPECT_FALSE(strip->isVisible()) << "hovering in full screen hides the toolbar";

    // A cell emptied takes its toolbar with it.
    wall->FullScreen(false);
    wall->ShowToolbar(1);
    ASSERT_TRUE(strip->isVisible());
    wall->SetCellEntry(1, nullptr);
    EXPECT_FALSE(strip->isVisible());
    EXPECT_EQ(wall->Toolbar()->m_PaintManager.FindControl("sxtName")->GetText(), "");
}

TEST_F(WallTest, ToolbarRefreshShowsTheRowsMarks) {
    CWinSub& bar = *wall->Toolbar();
    auto row = Row("9", false);
    row->listening = true;
    bar.Refresh(3, row);
    auto* start = bar.m_PaintManager.FindControl("subStart");
    auto* fbl = bar.m_PaintManager.FindControl("sxtFBL");
    ASSERT_TRUE(start && fbl);
    EXPECT_EQ(start->GetBkImage(), "file='Image\\sxtsubplay.png'");
    EXPECT_EQ(fbl->GetText(), "") << "a closed camera leaves the size unchanged";
    EXPECT_EQ(bar.m_PaintManager.FindControl("btnAudio")->GetBkImage(), "file='Image\\Audio_D.png'");
    EXPECT_EQ(bar.m_PaintManager.FindControl("btnRecord")->GetBkImage(), "file='Image\\Record_On.png'");
    EXPECT_EQ(bar.m_PaintManager.FindControl("sxtName")->GetText(), "camera 9");

    row->live = true;
    bar.Refresh(3, row);
    EXPECT_EQ(start->GetBkImage(), "file='Image\\sxtsubclose.png'");
    EXPECT_EQ(fbl->GetText(), "704X576");

    bar.m_PaintManager.FindControl("sxtMsg")->SetText("x");
    bar.Refresh(3, nullptr);
    EXPECT_FALSE(bar.GetWidget()->isVisible());
    EXPECT_EQ(fbl->GetText(), "");
    EXPECT_EQ(bar.m_PaintManager.FindControl("sxtName")->GetText(), "");
    EXPECT_EQ(bar.m_PaintManager.FindControl("sxtMsg")->GetText(), "");
}

TEST_F(WallTest, ToolbarButtonsSendTheirRequests) {
    CWinSub& bar = *wall->Toolbar();
    // A free cell asks for nothing.
    bar.Refresh(2, nullptr);
    bar.Click("btnRecord");
    bar.Click("subStart");
    EXPECT_TRUE(received.empty());

    auto row = Row("55", false);
    bar.Refresh(2, row);
    bar.Click("btnRecord");  // not live: nothing
    bar.Click("btnTalkback");
    EXPECT_TRUE(received.empty());
    bar.Click("subStart");
    bar.Click("btnAudio");
    row->live = true;
    row->listening = true;
    bar.Click("subStart");
    bar.Click("btnAudio");
    bar.Click("btnRecord");
    bar.Click("btnTalkback");
    row->recording = true;
    row->talking = true;
    bar.Click("btnRecord");
    bar.Click("btnTalkback");

    const std::vector<std::pair<std::uint32_t, std::intptr_t>> expected = {
        {1043, 2}, {1049, 2}, {1044, 0}, {1050, 0}, {1051, 2}, {1055, 0}, {1052, 0}, {1056, 0}};
    ASSERT_EQ(received.size(), expected.size()) << "sent synchronously: all there before Click returns";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(received[i].id, expected[i].first) << i;
        EXPECT_EQ(received[i].lParam, expected[i].second) << i;
        EXPECT_EQ(received[i].text, "55") << i;
    }
    // A click arrives as a notification from the skin's button.
    auto* button = dynamic_cast<QWidget*>(bar.m_PaintManager.FindControl("btnAudio"));
    ASSERT_TRUE(button);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(received.size(), expected.size() + 1);
}
