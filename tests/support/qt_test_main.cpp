// Test entry for window tests: a headless Qt application with the built skin folder.
#include <QApplication>
#include <gtest/gtest.h>

#include "ui/toolkit/paint_manager.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    ui::CPaintManagerUI::SetResourcePath(LARKVIEW_SKIN_DIR);
    return RUN_ALL_TESTS();
}
