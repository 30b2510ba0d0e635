#include "libs/tether/link.h"

#include <array>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>
#include <vector>

#include "libs/tether/frame_decoder.h"
#include "libs/tether/tether.h"

namespace tether {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {
std::atomic<int> g_sendTimeoutMs{kSendTimeoutMs};
constexpr std::size_t kReadChunk = 64 * 1024;
}  // namespace

void SetSendTimeout(int timeoutMs) { g_sendTimeoutMs = timeoutMs > 0 ? timeoutMs : kSendTimeoutMs; }

std::chrono::milliseconds CurrentSendTimeout() { return std::chrono::milliseconds(g_sendTimeoutMs.load()); }

Link::Link() : socket_(io_) {}

Link::~Link() {
    if (!reader_.joinable()) return;
    if (reader_.get_id() == std::this_thread::get_id()) {
        reader_.detach();  // the reader dropped the last reference on its way out
    } else {
        error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_both, ignored);
        reader_.join();
    }
}

bool Link::Connect(const asio::ip::tcp::endpoint& endpoint, std::chrono::milliseconds timeout) {
    error_code result = asio::error::would_block;
    socket_.async_connect(endpoint, [&result](const error_code& ec) { result = ec; });
    io_.restart();
    io_.run_for(timeout);
    if (result == asio::error::would_block) {
        error_code ignored;
        socket_.close(ignored);  // completes the connect attempt as aborted
        io_.restart();
        io_.run();
        return false;
    }
    if (result) {
        error_code ignored;
        socket_.close(ignored);
        return false;
    }
    PrepareSocket();
    return true;
}

void Link::PrepareSocket() {
    error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    // Switch the descriptor to non-blocking once, before two threads use it: Asio's
    // synchronous reads then wait in poll, and no asynchronous write needs to change
    // the socket's state while the reader uses it.
    socket_.native_non_blocking(true, ignored);
}

std::string Link::PeerAddress() const {
    error_code ec;
    auto endpoint = socket_.remote_endpoint(ec);
    return ec ? std::string() : endpoint.address().to_string();
}

bool Link::Start(Events events) {
    events_ = std::move(events);
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        auto self = shared_from_this();
        try {
            reader_ = std::thread([self] { self->ReadLoop(); });
            readerId_ = reader_.get_id();
            return true;
        } catch (const std::system_error&) {
            closed_ = true;  // out of threads: this connection cannot be served
        }
    }
    Break();
    return false;
}

void Link::ReadLoop() {
    { std::lock_guard<std::mutex> lock(stateMutex_); }  // Start has published readerId_

    FrameDecoder decoder(kMaxMessageSize);
    std::vector<char> buffer(kReadChunk);
    auto deliver = [this](const char* data, std::size_t length) { return Deliver(data, length); };
    for (;;) {
        error_code ec;
        std::size_t received = socket_.read_some(asio::buffer(buffer), ec);
        if (ec) break;
        if (!decoder.Feed(buffer.data(), received, deliver)) break;
    }
    Break();  // let the peer and any waiting sender see the end as well

    bool report;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        report = !closed_;
    }
    if (report && events_.ended) events_.ended();
}

bool Link::Deliver(const char* data, std::size_t length) {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (closed_) return false;
    }
    if (events_.message) events_.message(data, length);
    std::lock_guard<std::mutex> lock(stateMutex_);
    return !closed_;
}

void Link::Break() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        broken_ = true;
    }
    error_code ignored;
    socket_.shutdown(asio::socket_base::shutdown_both, ignored);
}

void Link::Shutdown() { Break(); }

class Link::WriteTurn {
public:
    WriteTurn(Link& link, std::chrono::milliseconds timeout) : link_(link) {
        std::unique_lock<std::mutex> lock(link_.writeGate_);
        held_ = link_.writeFree_.wait_for(lock, timeout, [this] { return !link_.writing_; });
        if (held_) link_.writing_ = true;
    }
    ~WriteTurn() {
        if (!held_) return;
        {
            std::lock_guard<std::mutex> lock(link_.writeGate_);
            link_.writing_ = false;
        }
        link_.writeFree_.notify_one();
    }
    WriteTurn(const WriteTurn&) = delete;
    WriteTurn& operator=(const WriteTurn&) = delete;
    bool Held() const { return held_; }

private:
    Link& link_;
    bool held_ = false;
};

bool Link::Write(const void* data, std::size_t length, bool framed) {
    const auto timeout = CurrentSendTimeout();
    WriteTurn turn(*this, timeout);
    if (!turn.Held()) return false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (closed_ || broken_) return false;
    }

    bool done = false;
    error_code result;
    auto finished = [&](const error_code& ec, std::size_t) {
        result = ec;
        done = true;
    };
    const auto header = EncodeFrameHeader(static_cast<std::uint32_t>(length));
    io_.restart();
    if (framed) {
        std::array<asio::const_buffer, 2> pieces{asio::buffer(header), asio::buffer(data, length)};
        asio::async_write(socket_, pieces, finished);
    } else {
        asio::async_write(socket_, asio::buffer(data, length), finished);
    }
    io_.run_for(timeout);
    if (!done) {
        // The peer stopped reading. Part of the message may be on the wire, so the
        // stream cannot go on: end it, and the reader reports the connection lost.
        Break();
        error_code ignored;
        socket_.cancel(ignored);
        io_.restart();
        io_.run();
        return false;
    }
    if (result) {
        Break();
        return false;
    }
    return true;
}

void Link::Close() {
    std::thread reader;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        closed_ = true;
        broken_ = true;
        if (reader_.joinable()) {
            if (std::this_thread::get_id() == readerId_)
                reader_.detach();  // called from a handler: the reader stops when it returns
            else
                reader = std::move(reader_);
        }
    }
    error_code ignored;
    socket_.shutdown(asio::socket_base::shutdown_both, ignored);
    if (reader.joinable()) reader.join();
}

}  // namespace tether
