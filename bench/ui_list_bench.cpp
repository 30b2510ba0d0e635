// The list control with 10,000 rows: filling it, painting a screenful, scrolling
// through it, changing one row's cells, and hiding rows. Headless (offscreen).
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>

#include "ui/toolkit/list.h"
#include "ui/toolkit/paint_manager.h"

namespace {

constexpr int kRows = 10000;

const char* kRowTemplate = R"(<?xml version="1.0" encoding="UTF-8"?><ui version="4.0"><class>Row</class>
<widget class="QFrame" name="Row"><property name="geometry"><rect><x>0</x><y>0</y><width>280</width><height>26</height></rect></property>
 <layout class="QHBoxLayout"><property name="leftMargin"><number>0</number></property><property name="topMargin"><number>0</number></property>
  <property name="rightMargin"><number>0</number></property><property name="bottomMargin"><number>0</number></property>
  <item><widget class="QLabel" name="tc"><property name="minimumSize"><size><width>16</width><height>0</height></size></property><property name="maximumSize"><size><width>16</width><height>26</height></size></property></widget></item>
  <item><widget class="QLabel" name="sxt_logo"><property name="minimumSize"><size><width>20</width><height>20</height></size></property><property name="maximumSize"><size><width>20</width><height>20</height></size></property>
   <property name="bkimage" stdset="0"><string>file='Image\logo.png'</string></property></widget></item>
  <item><widget class="QLabel" name="sxt_text"/></item>
  <item><widget class="QLabel" name="expired"/></item>
  <item><widget class="QPushButton" name="sxt_start"><property name="minimumSize"><size><width>24</width><height>24</height></size></property><property name="maximumSize"><size><width>24</width><height>24</height></size></property>
   <property name="bkimage" stdset="0"><string>file='Image\lg1.png' source='0,0,24,24'</string></property></widget></item>
 </layout></widget></ui>)";

struct Fixture {
    Fixture() {
        dir = std::filesystem::temp_directory_path() / "larkview-list-bench";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "Row.xml") << kRowTemplate;
        saved = ui::CPaintManagerUI::GetResourcePath();
        ui::CPaintManagerUI::SetResourcePath(dir.string());
        list = std::make_unique<ui::CListUI>();
        list->resize(300, 700);
        list->SetRowTemplate("Row.xml");
        list->show();
    }
    ~Fixture() {
        list.reset();
        ui::CPaintManagerUI::SetResourcePath(saved);
        std::filesystem::remove_all(dir);
    }
    void Fill() {
        std::vector<std::unique_ptr<ui::CListElementUI>> rows;
        rows.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            auto row = list->CreateElement();
            row->Cell("sxt_text")->SetText("摄像机 " + std::to_string(i));
            row->Cell("expired")->SetText("2027-01-01");
            row->SetIndent((i % 4) * 16);
            rows.push_back(std::move(row));
        }
        list->AddRange(std::move(rows));
        // Let the view lay its items out, as it does before it first paints.
        QApplication::processEvents();
        list->doItemsLayout();
    }
    std::filesystem::path dir;
    std::string saved;
    std::unique_ptr<ui::CListUI> list;
};

void Paint(ui::CListUI& list, QImage& image) {
    list.viewport()->render(&image);
}

void BM_FillTenThousandRows(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) {
        f.list->RemoveAll();
        f.Fill();
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_FillTenThousandRows)->Unit(benchmark::kMillisecond);

void BM_PaintScreenful(benchmark::State& state) {
    Fixture f;
    f.Fill();
    QImage image(f.list->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) Paint(*f.list, image);
    state.counters["rows_shown"] = f.list->viewport()->height() / f.list->RowHeight();
    if (!f.list->indexAt(QPoint(5, 5)).isValid()) state.SkipWithError("no row laid out");
}
BENCHMARK(BM_PaintScreenful)->Unit(benchmark::kMicrosecond);

void BM_ScrollThroughAndPaint(benchmark::State& state) {
    Fixture f;
    f.Fill();
    QImage image(f.list->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    QScrollBar* bar = f.list->verticalScrollBar();
    int step = 0;
    for (auto _ : state) {
        bar->setValue((step++ * 997) % (bar->maximum() + 1));
        Paint(*f.list, image);
    }
}
BENCHMARK(BM_ScrollThroughAndPaint)->Unit(benchmark::kMicrosecond);

void BM_UpdateOneRowCell(benchmark::State& state) {
    Fixture f;
    f.Fill();
    int i = 0;
    for (auto _ : state) {
        // A row's picture changes at every visit: one picture on odd passes over the list, the other on even ones.
        const bool oddPass = (i / kRows) % 2 != 0;
        f.list->GetItemAt(i % kRows)->Cell("sxt_logo")->SetBkImage(oddPass ? "file='Image\\a.png'" : "file='Image\\b.png'");
        ++i;
        QApplication::processEvents();
    }
}
BENCHMARK(BM_UpdateOneRowCell)->Unit(benchmark::kMicrosecond);

void BM_HideHalfTheRows(benchmark::State& state) {
    Fixture f;
    f.Fill();
    bool hide = true;
    for (auto _ : state) {
        for (int i = 0; i < kRows; i += 2) f.list->GetItemAt(i)->SetVisible(!hide);
        hide = !hide;
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * kRows / 2);
}
BENCHMARK(BM_HideHalfTheRows)->Unit(benchmark::kMillisecond);

void BM_SelectFarRow(benchmark::State& state) {
    Fixture f;
    f.Fill();
    int i = 0;
    for (auto _ : state) f.list->SelectItem((i++ * 7919) % kRows);
}
BENCHMARK(BM_SelectFarRow)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
