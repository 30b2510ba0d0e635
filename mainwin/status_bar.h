#pragma once
// The status bar: CPU load of the process, kilobytes received by the stream links in
// the last second, the local time and the number of the account's areas (the nodes at
// the top of the live tree).

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace ui {
class CPaintManagerUI;
class CControlUI;
}  // namespace ui

namespace mainwin {

// The process's share of the machine since the previous sample, in percent of all
// processors together (0..100).
class CpuSampler {
public:
    using CpuClock = std::function<double()>;   // processor seconds used by the process
    using WallClock = std::function<double()>;  // seconds on a steady clock
    CpuSampler();
    CpuSampler(CpuClock cpu, WallClock wall, unsigned processors);
    void Start();
    int Sample();

private:
    CpuClock cpu_;
    WallClock wall_;
    unsigned processors_;
    double lastCpu_ = 0;
    double lastWall_ = 0;
};

struct StatusTexts {
    std::string cpu, net, time, nodes;
};

// "%d%%", "%dKB" (bytes / 1024), "%H:%M:%S", "%d".
StatusTexts FormatStatus(int cpuPercent, std::uint64_t bytes, const std::tm& local, int nodes);

class StatusBar {
public:
    void Bind(ui::CPaintManagerUI& manager);
    void Start() { cpu_.Start(); }
    void SetSampler(CpuSampler sampler) { cpu_ = std::move(sampler); }
    // One tick: `bytes` received since the last tick.
    void Tick(std::uint64_t bytes, int nodes);

private:
    CpuSampler cpu_;
    ui::CControlUI* cpuValue_ = nullptr;
    ui::CControlUI* netSpeed_ = nullptr;
    ui::CControlUI* time_ = nullptr;
    ui::CControlUI* nodeCount_ = nullptr;
};

}  // namespace mainwin
