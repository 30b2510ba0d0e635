// The media tests run inside a Qt application (video windows are Qt widgets), headless
// unless a platform is chosen from outside.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "core/log_file.h"
#include "media/video_output_widget.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // Decided (and logged) once per process, as at the program's first video window,
    // before any test points the log somewhere.
    media::VideoOutputWidget::GpuPresentationAvailable();
    core::LogFile::Destroy();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
