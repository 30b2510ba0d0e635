#pragma once
// Runs the Qt event loop of the test's thread until a condition holds or a time-out.

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <functional>

namespace testing_support {

inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace testing_support
