#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "ui/toolkit/list.h"
#include "ui/toolkit/window.h"

using namespace ui;
using testing_support::TempDir;

namespace {

constexpr const char* kRowTemplate = R"(<?xml version="1.0" encoding="UTF-8"?><ui version="4.0"><class>Row</class>
<widget class="QFrame" name="Row">
 <property name="geometry"><rect><x>0</x><y>0</y><width>300</width><height>28</height></rect></property>
 <layout class="QHBoxLayout"><property name="spacing"><number>0</number></property>
  <property name="leftMargin"><number>0</number></property><property name="topMargin"><number>0</number></property>
  <property name="rightMargin"><number>0</number></property><property name="bottomMargin"><number>0</number></property>
  <item><widget class="QLabel" name="sxt_logo"><property name="minimumSize"><size><width>20</width><height>20</height></size></property>
   <property name="maximumSize"><size><width>20</width><height>20</height></size></property>
   <property name="bkimage" stdset="0"><string>file='Image\logo.png'</string></property></widget></item>
  <item><widget class="QLabel" name="sxt_text"><property name="text"><string>camera</string></property></widget></item>
  <item><widget class="QPushButton" name="sxt_start"><property name="minimumSize"><size><width>40</width><height>24</height></size></property>
   <property name="maximumSize"><size><width>40</width><height>24</height></size></property></widget></item>
 </layout></widget></ui>)";

class ListWindow : public WindowImplBase {
public:
    std::vector<TNotifyUI> notes;
    std::string GetWindowClassName() const override { return "ListWindow"; }
    std::string GetSkinFile() override { return "List.ui"; }
    void Notify(TNotifyUI& msg) override { notes.push_back(msg); }
    int Count(const std::string& type) const {
        int n = 0;
        for (const auto& note : notes) n += note.sType == type;
        return n;
    }
};

class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = CPaintManagerUI::GetResourcePath();
        CPaintManagerUI::SetResourcePath(dir.Path());
        dir.Write("List.ui", R"(<?xml version="1.0"?><ui version="4.0"><widget class="QWidget" name="F">
          <property name="geometry"><rect><x>0</x><y>0</y><width>320</width><height>400</height></rect></property>
          <layout class="QVBoxLayout"><item><widget class="QListView" name="lstCameras"/></item></layout></widget></ui>)");
        dir.Write("CameraItemsWin.xml", kRowTemplate);
        ASSERT_TRUE(window.Create(0, "list"));
        window.ShowWindow();
        list = window.m_PaintManager.FindControl<CListUI>("lstCameras");
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(list->SetRowTemplate("CameraItemsWin.xml"));
    }
    void TearDown() override { CPaintManagerUI::SetResourcePath(saved_); }

    void Fill(int rows) {
        std::vector<std::unique_ptr<CListElementUI>> batch;
        for (int i = 0; i < rows; ++i) {
            auto row = list->CreateElement();
            row->Cell("sxt_text")->SetText("camera " + std::to_string(i));
            row->SetTag(i);
            batch.push_back(std::move(row));
        }
        list->AddRange(std::move(batch));
    }

    TempDir dir;
    std::string saved_;
    ListWindow window;
    CListUI* list = nullptr;
};

}  // namespace

TEST_F(ListTest, RowsComeFromTheTemplateWithItsCellsAndDefaults) {
    EXPECT_EQ(list->RowHeight(), 28);
    auto row = list->CreateElement();
    ASSERT_NE(row->FindCell("sxt_text"), nullptr);
    EXPECT_EQ(row->FindCell("sxt_text")->GetText(), "camera");
    EXPECT_EQ(row->FindCell("sxt_logo")->GetBkImage(), "file='Image\\logo.png'");
    EXPECT_EQ(row->FindCell("sxt_start")->GetKind(), CListCellUI::Kind::kButton);
    EXPECT_EQ(row->FindCell("nothing"), nullptr);
    EXPECT_EQ(row->FindCell("sxt_text")->GetParent(), row.get());
    EXPECT_FALSE(list->SetRowTemplate("Missing.xml"));
}

TEST_F(ListTest, TenThousandRowsAddHideSelectAndRemove) {
    Fill(10000);
    ASSERT_EQ(list->GetCount(), 10000);
    CListElementUI* last = list->GetItemAt(9999);
    EXPECT_EQ(last->GetIndex(), 9999);
    EXPECT_EQ(list->GetItemIndex(last), 9999);
    EXPECT_EQ(list->GetItemAt(10000), nullptr);
    EXPECT_EQ(list->GetItemAt(-1), nullptr);

    list->GetItemAt(5)->SetVisible(false);
    EXPECT_TRUE(list->isRowHidden(5));
    EXPECT_FALSE(list->SelectItem(5)) << "a hidden row cannot be selected";

    ASSERT_TRUE(list->SelectItem(9999));
    EXPECT_EQ(list->GetCurSel(), 9999);
    ASSERT_EQ(window.Count(notify::kItemSelect), 1);
    EXPECT_EQ(window.notes.back().wParam, 9999u);
    EXPECT_EQ(window.notes.back().lParam, -1);

    ASSERT_TRUE(list->RemoveAt(0));
    EXPECT_EQ(list->GetCount(), 9999);
    EXPECT_EQ(last->GetIndex(), 9998) << "rows after a removed one move up";
    EXPECT_TRUE(list->Remove(last));
    EXPECT_FALSE(list->RemoveAt(20000));
    list->RemoveAll();
    EXPECT_EQ(list->GetCount(), 0);
}

TEST_F(ListTest, ARowBelongsToOneListOnly) {
    auto row = list->CreateElement();
    CListElementUI* raw = row.get();
    ASSERT_TRUE(list->Add(std::move(row)));
    EXPECT_EQ(raw->GetOwner(), list);
    EXPECT_FALSE(list->AddAt(list->CreateElement(), 7)) << "index past the end";
    EXPECT_FALSE(list->Add(nullptr));
}

TEST_F(ListTest, ClicksOnRowsAndButtonCellsNotify) {
    Fill(50);
    list->GetItemAt(2)->Cell("sxt_text")->SetText("front door");
    QApplication::processEvents();
    const QRect row = list->visualRect(list->model()->index(2, 0));
    ASSERT_TRUE(row.isValid());
    CListCellUI* start = list->GetItemAt(2)->FindCell("sxt_start");
    const QRect button = list->CellRect(*list->GetItemAt(2), *start);
    ASSERT_TRUE(button.isValid());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, button.center());
    ASSERT_GE(window.Count(notify::kButtonDown), 1);
    bool fromCell = false;
    for (const auto& note : window.notes)
        if (note.sType == notify::kButtonDown) fromCell = note.pSender == start && note.wParam == 2u;
    EXPECT_TRUE(fromCell);
    EXPECT_EQ(window.Count(notify::kItemClick), 1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(row.left() + 60, row.center().y()));
    EXPECT_GE(window.Count(notify::kItemDbClick), 1);

    start->SetEnabled(false);
    const int before = window.Count(notify::kButtonDown);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, button.center());
    EXPECT_EQ(window.Count(notify::kButtonDown), before) << "a disabled button cell stays silent";
}

TEST_F(ListTest, PaintsAFullListWithTheTemplate) {
    Fill(10000);
    QImage image(list->viewport()->size(), QImage::Format_ARGB32);
    list->viewport()->render(&image);
    EXPECT_FALSE(image.isNull());
}
