#pragma once
// Tether: message connections over TCP. Every Send arrives at the peer as exactly one
// message with its boundaries kept (see docs/protocol.md for the framing on the
// stream). The client side is the four calls below; the server side (`Server`) serves
// the simulated service.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tether {

using ConnectionHandle = std::uint64_t;  // 0 = no connection

// status < 0: the connection is lost (reported once; data is null). status >= 0:
// `data`/`length` hold one whole message. Runs on a library thread.
using ReceiveCallback = void (*)(int status, const char* data, int length, void* user);

// Messages larger than this are refused by Send and end the connection when received.
constexpr std::uint32_t kMaxMessageSize = 16u * 1024u * 1024u;
constexpr int kConnectTimeoutMs = 5000;
// How long one send may wait, for the connection's write lock and then for the peer
// to take the bytes, before it fails; a connection whose send timed out counts as
// lost (reported through the callback like any other loss).
constexpr int kSendTimeoutMs = 10000;

// Process-wide, for both sides; applies to sends that start afterwards. Values <= 0
// restore kSendTimeoutMs. Tests shorten it.
void SetSendTimeout(int timeoutMs);

// A nonzero handle on success, 0 when the connection fails (refused, unreachable,
// not established within the time-out, or an address that is not dotted text).
ConnectionHandle Connect(const char* address, int port, ReceiveCallback callback, void* user,
                         int timeoutMs = kConnectTimeoutMs);

// Sends one whole message; safe from many threads at once. > 0 (the length) on
// success, <= 0 on failure (unknown handle, lost connection, send time-out, empty or
// oversized message). `flag` is unused.
long Send(ConnectionHandle handle, const void* data, long length, bool flag);

// Closes the connection. When Close returns, the callback of this handle is not
// running (unless Close was called from inside it) and is never called again. Close
// waits for a running callback, so it must not be called by a thread that callback
// is itself waiting for.
void Close(ConnectionHandle handle);

// The connect wrapper every caller uses: closes and clears what `slot` holds, then
// connects and stores the new handle (0 on failure). True when connected.
bool ConnectInto(ConnectionHandle& slot, const char* address, int port, ReceiveCallback callback, void* user,
                 int timeoutMs = kConnectTimeoutMs);

// Sum of the lengths of every message delivered to any receive callback.
std::uint64_t ReceivedBytes();

// The listening side. Handlers run on library threads: onAccept on the accept thread
// (before any message of that connection), onMessage and onClosed on the
// connection's own reader thread, so a slow handler holds up only its connection.
class Server {
public:
    using ConnectionId = std::uint64_t;
    struct Handlers {
        std::function<void(ConnectionId, const std::string& peerAddress)> onAccept;
        std::function<void(ConnectionId, const char* data, std::size_t length)> onMessage;
        std::function<void(ConnectionId)> onClosed;  // peer left, or Close was called
    };

    explicit Server(Handlers handlers);
    ~Server();  // Stop()
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; port 0 takes any free port. Returns the bound port or -1.
    int Listen(const std::string& address, int port);
    int Port() const;
    // Sends one message (framed); false when the connection is gone or the message
    // is empty or oversized. Bounded by the send time-out like the client's Send.
    bool Send(ConnectionId connection, const void* data, std::size_t length);
    // Writes raw bytes without framing (fault injection: broken frames).
    bool SendRaw(ConnectionId connection, const void* data, std::size_t length);
    // Ends the connection without waiting; onClosed follows on its reader thread.
    void Close(ConnectionId connection);
    // While false, new connections are accepted and closed at once (fault injection).
    void SetAccepting(bool accepting);
    // Closes every connection and the listener; no handler runs after it returns
    // (onClosed is not called for the connections it closes). Waits for running
    // handlers; call it from outside onAccept.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tether
