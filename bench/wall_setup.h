#pragma once
// The set-up the wall benchmarks share: new cameras reach the service through one
// logged-in control client and report to nobody, and a 1602 × 1202 wall stands in a
// window of its own.

#include <QCoreApplication>
#include <QSize>
#include <QThread>
#include <chrono>
#include <memory>

#include "control/control_client.h"
#include "media/camera_registry.h"
#include "platform/window_handles.h"
#include "ui/toolkit/ui_executor.h"
#include "wall/video_panel_mng.h"

namespace bench_support {

// Runs the event loop of the calling thread for `ms` milliseconds.
inline void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(1);
    }
}

inline void CamerasAskThrough(control::ControlClient& client) {
    media::CameraEnvironment environment;
    environment.postToMainWindow = [](platform::Message) { return true; };
    environment.postToTaskThread = [](platform::Message) { return true; };
    environment.addresses = [&client](const std::string& id) { return client.RequestForwardingAddress(id); };
    media::CameraRegistry::SetEnvironmentForNewCameras(environment);
}

struct BenchWall {
    platform::WindowHandle mainWindow = 0;  // the wall's owner; the caller destroys it
    std::unique_ptr<wall::CVideoPanelMng> panel;
};

// A shown wall whose cameras send pictures of `pictureSize`.
inline BenchWall ShownBenchWall(QSize pictureSize) {
    const platform::WindowHandle mainWindow =
        platform::CreateWindowHandle([](platform::Message&) -> std::intptr_t { return 0; }, ui::UiExecutor());
    wall::WallEnvironment wallEnvironment;
    wallEnvironment.cellsSwapped = [](int, int) {};
    wallEnvironment.screenSize = [] { return QSize(1920, 1080); };
    wallEnvironment.pictureSize = [pictureSize](int, const std::string&) { return pictureSize; };
    auto panel = std::make_unique<wall::CVideoPanelMng>(mainWindow, nullptr, wallEnvironment);
    panel->resize(1602, 1202);
    panel->show();
    return {mainWindow, std::move(panel)};
}

}  // namespace bench_support
