#include "ui/alarm_picture_worker.h"

#include <QByteArray>
#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/log_file.h"
#include "control/master_http.h"
#include "platform/paths.h"
#include "ui/live_rules.h"

namespace ui {

bool LooksLikePicture(const std::string& bytes) {
    if (bytes.empty()) return false;
    QImage image;
    return image.loadFromData(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))) &&
           !image.isNull();
}

bool AlarmPictureWorker::HttpFetch(const std::string& url, std::string& body) {
    control::HttpLimits limits;
    limits.connectTimeoutMs = 3000;
    limits.readTimeoutMs = 5000;
    limits.maxBodyBytes = 8 * 1024 * 1024;
    control::CMasterHttp http(limits);
    control::HttpExchange exchange;
    if (!http.Get(url, nullptr, exchange)) return false;
    if (HttpStatusOf(exchange.responseHeader) != 200) return false;
    body = std::move(exchange.body);
    return true;
}

std::optional<std::string> AlarmPictureWorker::CacheOrFetch(const std::string& folder, const std::string& url,
                                                            const Fetch& fetch) {
    if (url.empty() || !fetch) return std::nullopt;
    const std::string path = AlarmPictureCacheFile(folder, url);
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error) && std::filesystem::file_size(path, error) > 0) return path;

    std::string body;
    if (!fetch(url, body)) {
        app::LogWrite("alarm picture not fetched: %s", url.c_str());
        return std::nullopt;
    }
    // An error page or a cut transfer must not be cached as the alarm's picture.
    if (!LooksLikePicture(body)) {
        app::LogWrite("alarm picture is not a picture: %s", url.c_str());
        return std::nullopt;
    }
    if (!platform::CreateDirectories(folder)) return std::nullopt;
    // Written beside and renamed, so that a reader never sees half a file.
    const std::string partial = path + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
        if (!out) {
            std::filesystem::remove(partial, error);
            return std::nullopt;
        }
    }
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return std::nullopt;
    }
    return path;
}

AlarmPictureWorker::AlarmPictureWorker(std::string folder, platform::WindowHandle target, std::uint32_t message,
                                       Fetch fetch)
    : folder_(std::move(folder)), target_(target), message_(message), fetch_(std::move(fetch)) {
    thread_ = std::thread([this] { Run(); });
}

AlarmPictureWorker::~AlarmPictureWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void AlarmPictureWorker::Request(std::string url) {
    if (url.empty()) return;
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(url);
    }
    wake_.notify_all();
}

void AlarmPictureWorker::Run() {
    for (;;) {
        std::string url;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
            if (stopping_) return;
            url = std::move(*pending_);
            pending_.reset();
        }
        if (std::optional<std::string> path = CacheOrFetch(folder_, url, fetch_))
            platform::PostWindowMessage(target_, platform::Message(message_, 0, 0,
                                                                   platform::MakePayload(AlarmPictureReady{url, *path})));
    }
}

}  // namespace ui
