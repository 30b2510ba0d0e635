#include "record/sweeper.h"

#include <ctime>
#include <filesystem>

#include "core/log_file.h"
#include "record/frame_record.h"
#include "record/recovery.h"

namespace record {

RecordSweeper::RecordSweeper(std::string root, int days, std::function<std::int64_t()> nowSeconds)
    : root_(std::move(root)), days_(days), now_(std::move(nowSeconds)) {
    if (!now_) now_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

RecordSweeper::~RecordSweeper() { Stop(); }

void RecordSweeper::Start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void RecordSweeper::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void RecordSweeper::Reconfigure(std::string root, int days) {
    {
        std::lock_guard lock(mutex_);
        root_ = std::move(root);
        days_ = days;
        resweep_ = true;
    }
    wake_.notify_all();
}

void RecordSweeper::Run() {
    std::string root;
    {
        std::lock_guard lock(mutex_);
        root = root_;
    }
    RecoverAll(root);
    std::int64_t lastSweep = 0;
    bool swept = false;
    while (!stop_) {
        const std::int64_t now = now_();
        int days = 0;
        bool due = !swept || now - lastSweep >= kSweepIntervalSeconds;
        {
            std::lock_guard lock(mutex_);
            due = due || resweep_;
            resweep_ = false;
            root = root_;
            days = days_;
        }
        if (due) {
            Sweep(root, days, now, &stop_);
            lastSweep = now;
            swept = true;
            ++sweeps_;
        }
        // Checks the day once a second; Stop and Reconfigure wake it at once.
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_.load() || resweep_; });
    }
}

int RecordSweeper::Sweep(const std::string& folder, int days, std::int64_t now, const std::atomic<bool>* stop) {
    int deleted = 0;
    const std::int64_t oldest = now - static_cast<std::int64_t>(days) * 86400;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (stop && *stop) break;
        std::error_code typeError;
        if (it->is_symlink(typeError)) continue;  // never leave the record root
        if (it->is_directory(typeError)) {
            deleted += Sweep(it->path().string(), days, now, stop);
            continue;
        }
        if (!it->is_regular_file(typeError)) continue;
        const std::string name = it->path().filename().string();
        const auto start = StartOfFinishedName(name);
        if (!start || *start >= oldest) continue;
        std::error_code removeError;
        if (std::filesystem::remove(it->path(), removeError)) {
            ++deleted;
            core::LogWrite("deleted old recording %s\n", it->path().string().c_str());
        }
    }
    return deleted;
}

}  // namespace record
