#pragma once
// Deletes finished recordings older than the configured number of days, once a day,
// on a thread of its own. Only files named like a finished recording are touched.
// Before its first sweep it recovers the working files a crash left in the camera
// folders.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace record {

class RecordSweeper {
public:
    static constexpr std::int64_t kSweepIntervalSeconds = 86400;

    RecordSweeper(std::string root, int days, std::function<std::int64_t()> nowSeconds = {});
    ~RecordSweeper();
    RecordSweeper(const RecordSweeper&) = delete;
    RecordSweeper& operator=(const RecordSweeper&) = delete;

    void Start();
    // Returns when the thread has ended.
    void Stop();
    // New settings take effect at once: the running thread sweeps again with them
    // (without the recovery, which belongs to the start of a login cycle).
    void Reconfigure(std::string root, int days);
    int Sweeps() const { return sweeps_; }

    // Deletes every finished file below `folder` whose named start is more than `days`
    // days before `now`; the number deleted. `stop` is checked before every entry.
    static int Sweep(const std::string& folder, int days, std::int64_t now, const std::atomic<bool>* stop = nullptr);

private:
    void Run();

    std::string root_;  // guarded by mutex_, like days_ and resweep_
    int days_;
    bool resweep_ = false;
    std::function<std::int64_t()> now_;
    std::atomic<bool> stop_{false};
    std::atomic<int> sweeps_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace record
