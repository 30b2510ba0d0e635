#include "core/log_file.h"

#include <cstdarg>
#include <ctime>
#include <memory>

#include "platform/paths.h"

namespace core {
namespace {

std::mutex g_instanceMutex;
std::unique_ptr<LogFile> g_instance;

std::string Numbered(const std::string& path, int k) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%02d", k);
    return path + suffix;
}

LogFile& InstanceLocked() {
    if (!g_instance)
        g_instance = std::make_unique<LogFile>(platform::JoinPath(platform::StateDirectory(), "appLogs"));
    return *g_instance;
}

// fopen's "w+" with mode 0600 from the start.
std::FILE* OpenOwnerOnly(const std::string& path) {
    if (!platform::MakeOwnerOnlyFile(path)) return nullptr;
    return std::fopen(path.c_str(), "w+");
}

}  // namespace

LogFile& LogFile::Instance() {
    std::lock_guard lock(g_instanceMutex);
    return InstanceLocked();
}

void LogFile::Destroy() {
    std::lock_guard lock(g_instanceMutex);
    g_instance.reset();
}

LogFile::LogFile(const std::string& directory) {
    // The log may quote what the service and the user sent: the user's alone.
    platform::CreateOwnerOnlyDirectory(directory);
    path_ = platform::JoinPath(directory, "Manage.log");
    if (platform::IsRegularFile(path_)) Rotate(path_);
    file_ = OpenOwnerOnly(path_);
}

LogFile::~LogFile() {
    if (file_) std::fclose(file_);
}

void LogFile::Rotate(const std::string& path) {
    std::remove(Numbered(path, kArchives - 1).c_str());
    for (int k = kArchives - 1; k >= 1; --k) std::rename(Numbered(path, k - 1).c_str(), Numbered(path, k).c_str());
    std::rename(path.c_str(), Numbered(path, 0).c_str());
}

std::string LogFile::TimeText(std::time_t when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[local.tm_wday % 7],
                  kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  1900 + local.tm_year);
    return text;
}

void LogFile::Write(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::string line = TimeText(std::time(nullptr));
    line += ':';
    line.append(text, 0, kMaxText - 1);
    // Callers' texts often end in a line feed of their own; a line ends only once.
    while (line.size() > 25 && line.back() == '\n') line.pop_back();
    line += '\n';
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
    if (++lines_ >= kMaxLines) {
        std::fclose(file_);
        Rotate(path_);
        file_ = OpenOwnerOnly(path_);
        lines_ = 0;
    }
}

void LogWrite(const char* format, ...) {
    char buffer[LogFile::kMaxText];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);  // cuts longer output to fit
    va_end(args);
    // The global lock also keeps Destroy from closing the log under a writer.
    std::lock_guard lock(g_instanceMutex);
    InstanceLocked().Write(buffer);
}

}  // namespace core
