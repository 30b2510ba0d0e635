#pragma once
// Turns an alarm's picture URL into a local picture file for the alarm search window:
// one thread downloads (HTTP/1.0 from the service), checks that the answer is a
// picture, keeps it in a cache folder named by the URL's digest, and posts the path
// to the window, which shows it. Only the newest request matters: a request made while
// another is waiting replaces it. Controls are never touched from the thread.
//
// A download has an overall deadline, and destroying the worker never waits for one:
// the thread finishes the download it is in on its own and posts nothing after.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
    // The whole download, from the address lookup to the last byte.
    static constexpr std::chrono::milliseconds kDownloadDeadline{10000};
    static constexpr std::size_t kMaxPictureBytes = 8 * 1024 * 1024;

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
    // HTTP/1.0 GET within kDownloadDeadline.
    static bool HttpFetch(const std::string& url, std::string& body);
    // The same within `deadline`: a server that sends slowly, or not at all, fails then.
    static bool HttpFetchWithin(const std::string& url, std::string& body, std::chrono::milliseconds deadline);

private:
    // What the thread uses; it keeps it alive after the worker has gone.
    struct Shared;
    static void Run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
};

}  // namespace ui
