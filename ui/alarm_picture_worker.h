#pragma once
// Turns an alarm's picture URL into a local picture file for the alarm search window:
// one thread downloads (HTTP/1.0 from the service), checks that the answer is a
// picture, keeps it in a cache folder named by the URL's digest, and posts the path
// to the window, which shows it. Only the newest request matters: a request made while
// another is waiting replaces it. Controls are never touched from the thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/window_handles.h"

namespace ui {

// The payload of the worker's message: the URL asked for and the file that holds it.
struct AlarmPictureReady {
    std::string url;
    std::string path;
};

// True when `bytes` decode as a picture (JPEG, PNG, …).
bool LooksLikePicture(const std::string& bytes);

class AlarmPictureWorker {
public:
    // Fetches a URL's body; false on any failure (not a 200 answer included).
    using Fetch = std::function<bool(const std::string& url, std::string& body)>;

    AlarmPictureWorker(std::string folder, platform::WindowHandle target, std::uint32_t message,
                       Fetch fetch = HttpFetch);
    ~AlarmPictureWorker();
    AlarmPictureWorker(const AlarmPictureWorker&) = delete;
    AlarmPictureWorker& operator=(const AlarmPictureWorker&) = delete;

    // Asks for the picture of `url` (empty: nothing).
    void Request(std::string url);

    // The cached file of the URL, fetching and storing it first when needed; nothing
    // when it cannot be had. Runs on the calling thread.
    static std::optional<std::string> CacheOrFetch(const std::string& folder, const std::string& url,
                                                   const Fetch& fetch);
    static bool HttpFetch(const std::string& url, std::string& body);

private:
    void Run();

    const std::string folder_;
    const platform::WindowHandle target_;
    const std::uint32_t message_;
    const Fetch fetch_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<std::string> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace ui
