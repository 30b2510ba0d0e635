#pragma once
// The program log appLogs/Manage.log: one time-stamped line per call, rotated every
// 10,000 lines into Manage.log00 (newest) … Manage.log48 (oldest).

#include <cstdio>
#include <mutex>
#include <string>

namespace core {

class LogFile {
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kArchives = 49;
    static constexpr std::size_t kMaxText = 256;

    // The process-wide log in the state folder (platform::StateDirectory), created on first use.
    static LogFile& Instance();
    // Closes the process-wide log (program exit); the next use opens a fresh one.
    static void Destroy();

    // Opens `directory`/Manage.log, rotating a file that is already there.
    explicit LogFile(const std::string& directory);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    void Write(const std::string& text);
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }

    // Shifts Manage.log(k-1) to Manage.log(k) from 48 down, then Manage.log to 00.
    static void Rotate(const std::string& path);
    // The classic 24-character local time: "Www Mmm dd hh:mm:ss yyyy".
    static std::string TimeText(std::time_t when);

private:
    std::mutex mutex_;
    std::string path_;
    std::FILE* file_ = nullptr;
    int lines_ = 0;
};

// Formats like printf (cut to 256 characters) and writes one line to the log.
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace core
