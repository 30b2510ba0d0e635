#pragma once
// One TCP connection of Tether, client or server side. A reader thread of its own
// blocks in synchronous reads and delivers whole messages, so a receiver that blocks
// in its handler holds up only its own connection. Writes run on the sending thread
// under a write lock and are bounded by the send time-out: a peer that stops reading
// cannot block a sender forever, the connection then counts as lost.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tether {

class Link : public std::enable_shared_from_this<Link> {
public:
    struct Events {
        // One whole message. Runs on the reader thread.
        std::function<void(const char* data, std::size_t length)> message;
        // The stream ended (peer left, error, broken frame, send time-out, or
        // Shutdown). Runs once on the reader thread, unless the link was closed.
        std::function<void()> ended;
    };

    Link();
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Client side: connects within the time-out. False when refused, unreachable or late.
    bool Connect(const boost::asio::ip::tcp::endpoint& endpoint, std::chrono::milliseconds timeout);
    // Server side: the socket an acceptor fills in.
    boost::asio::ip::tcp::socket& Socket() { return socket_; }
    // Server side: once accepted, before any other thread may write (Connect does it
    // itself).
    void PrepareSocket();
    std::string PeerAddress() const;

    // Starts the reader thread; call once, after Connect or PrepareSocket. False
    // when no thread could be started (the link is then shut down).
    bool Start(Events events);

    // Writes one message, framed or as raw bytes. False when the link is closed or
    // broken, when another write holds the lock past the time-out, or when this write
    // does not finish within it (the link is then broken and ends).
    bool Write(const void* data, std::size_t length, bool framed);

    // Ends the stream; the reader reports `ended` (unless closed) and stops. Does not wait.
    void Shutdown();
    // Ends the stream without reporting and waits until the reader thread has left
    // any handler, unless called from that thread.
    void Close();

private:
    void ReadLoop();
    bool Deliver(const char* data, std::size_t length);
    void Break();

    boost::asio::io_context io_;  // runs only inside Connect and Write, one thread at a time
    boost::asio::ip::tcp::socket socket_;
    Events events_;

    // One write at a time; waiting for the turn is bounded too. (A mutex and a
    // condition rather than std::timed_mutex, which ThreadSanitizer cannot follow.)
    class WriteTurn;
    std::mutex writeGate_;
    std::condition_variable writeFree_;
    bool writing_ = false;

    std::mutex stateMutex_;
    bool closed_ = false;    // Close was called: no more handlers
    bool broken_ = false;    // no more writes
    std::thread reader_;
    std::thread::id readerId_;
};

// How long one write may take (and wait for the write lock) before the connection
// counts as lost.
std::chrono::milliseconds CurrentSendTimeout();

}  // namespace tether
