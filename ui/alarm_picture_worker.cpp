#include "ui/alarm_picture_worker.h"

#include <QByteArray>
#include <QImage>
#include <array>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/log_file.h"
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
    return HttpFetchWithin(url, body, kDownloadDeadline);
}

bool AlarmPictureWorker::HttpFetchWithin(const std::string& url, std::string& body,
                                         std::chrono::milliseconds deadline) {
    namespace asio = boost::asio;
    using asio::ip::tcp;
    const std::optional<PictureRequest> target = AlarmPictureRequest(url);
    if (!target) return false;
    const std::string& host = target->host;
    const std::string& request = target->text;

    // Every step is asynchronous, so one deadline bounds them all.
    asio::io_context io;
    tcp::resolver resolver(io);
    tcp::socket socket(io);
    std::string response;
    std::array<char, 16 * 1024> buffer{};
    bool complete = false;
    std::function<void()> readMore = [&] {
        socket.async_read_some(asio::buffer(buffer), [&](const boost::system::error_code& error, std::size_t read) {
            response.append(buffer.data(), read);
            if (response.size() > kMaxPictureBytes + 64 * 1024) return;  // too big: fails
            if (error == asio::error::eof) complete = true;  // HTTP/1.0: the close ends the body
            if (!error) readMore();
        });
    };
    resolver.async_resolve(host, std::to_string(target->port),
                           [&](const boost::system::error_code& error, const tcp::resolver::results_type& found) {
                               if (error) return;
                               asio::async_connect(socket, found, [&](const boost::system::error_code& failed,
                                                                      const tcp::endpoint&) {
                                   if (failed) return;
                                   asio::async_write(socket, asio::buffer(request),
                                                     [&](const boost::system::error_code& unsent, std::size_t) {
                                                         if (!unsent) readMore();
                                                     });
                               });
                           });
    io.run_for(deadline);
    // Past the deadline nothing more runs: the handlers still waiting are dropped unrun.
    io.stop();
    if (!complete) return false;

    const std::size_t headerEnd = response.find("\r\n\r\n");
    if (headerEnd == std::string::npos || HttpStatusOf(response.substr(0, headerEnd + 2)) != 200) return false;
    if (response.size() - headerEnd - 4 > kMaxPictureBytes) return false;
    body = response.substr(headerEnd + 4);
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
        core::LogWrite("alarm picture not fetched: %s", url.c_str());
        return std::nullopt;
    }
    // An error page or a cut transfer must not be cached as the alarm's picture.
    if (!LooksLikePicture(body)) {
        core::LogWrite("alarm picture is not a picture: %s", url.c_str());
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

struct AlarmPictureWorker::Shared {
    std::string folder;
    platform::WindowHandle target;
    std::uint32_t message;
    Fetch fetch;
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<std::string> pending;
    bool stopping = false;
};

AlarmPictureWorker::AlarmPictureWorker(std::string folder, platform::WindowHandle target, std::uint32_t message,
                                       Fetch fetch)
    : shared_(std::make_shared<Shared>()) {
    shared_->folder = std::move(folder);
    shared_->target = target;
    shared_->message = message;
    shared_->fetch = std::move(fetch);
    // Detached: closing the window must not wait for a download in progress.
    std::thread([shared = shared_] { Run(shared); }).detach();
}

AlarmPictureWorker::~AlarmPictureWorker() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->pending.reset();
    }
    shared_->wake.notify_all();
}

void AlarmPictureWorker::Request(std::string url) {
    if (url.empty()) return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->pending = std::move(url);
    }
    shared_->wake.notify_all();
}

void AlarmPictureWorker::Run(const std::shared_ptr<Shared>& shared) {
    for (;;) {
        std::string url;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->stopping || shared->pending.has_value(); });
            if (shared->stopping) return;
            url = std::move(*shared->pending);
            shared->pending.reset();
        }
        std::optional<std::string> path = CacheOrFetch(shared->folder, url, shared->fetch);
        std::lock_guard lock(shared->mutex);
        if (shared->stopping) return;  // the window has gone
        if (path)
            platform::PostWindowMessage(shared->target, platform::Message(shared->message, 0, 0,
                                                                          platform::MakePayload(AlarmPictureReady{url, *path})));
    }
}

}  // namespace ui
