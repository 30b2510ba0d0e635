#include "mainwin/status_bar.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "ui/toolkit/control.h"
#include "ui/toolkit/paint_manager.h"

namespace mainwin {

CpuSampler::CpuSampler()
    : CpuSampler([] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; },
                 [] {
                     return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
                 },
                 std::max(1u, std::thread::hardware_concurrency())) {}

CpuSampler::CpuSampler(CpuClock cpu, WallClock wall, unsigned processors)
    : cpu_(std::move(cpu)), wall_(std::move(wall)), processors_(std::max(1u, processors)) {}

void CpuSampler::Start() {
    lastCpu_ = cpu_();
    lastWall_ = wall_();
}

int CpuSampler::Sample() {
    const double cpu = cpu_();
    const double wall = wall_();
    const double usedCpu = cpu - lastCpu_;
    const double elapsed = wall - lastWall_;
    lastCpu_ = cpu;
    lastWall_ = wall;
    if (elapsed <= 0 || usedCpu <= 0) return 0;
    const double percent = 100.0 * usedCpu / (elapsed * processors_);
    return static_cast<int>(std::clamp(percent + 0.5, 0.0, 100.0));
}

StatusTexts FormatStatus(int cpuPercent, std::uint64_t bytes, const std::tm& local, int nodes) {
    StatusTexts texts;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d%%", cpuPercent);
    texts.cpu = buffer;
    std::snprintf(buffer, sizeof buffer, "%lluKB", static_cast<unsigned long long>(bytes / 1024));
    texts.net = buffer;
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    texts.time = buffer;
    texts.nodes = std::to_string(nodes);
    return texts;
}

void StatusBar::Bind(ui::CPaintManagerUI& manager) {
    cpuValue_ = manager.FindControl("CPUValue");
    netSpeed_ = manager.FindControl("NetSpeed");
    time_ = manager.FindControl("Time");
    nodeCount_ = manager.FindControl("nodecount");
}

void StatusBar::Tick(std::uint64_t bytes, int nodes) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const StatusTexts texts = FormatStatus(cpu_.Sample(), bytes, local, nodes);
    if (cpuValue_) cpuValue_->SetText(texts.cpu);
    if (netSpeed_) netSpeed_->SetText(texts.net);
    if (time_) time_->SetText(texts.time);
    if (nodeCount_) nodeCount_->SetText(texts.nodes);
}

}  // namespace mainwin
