// The client calls: a process-wide table from handles to links.
#include <atomic>
#include <boost/asio/ip/address_v4.hpp>
#include <mutex>
#include <unordered_map>

#include "libs/tether/link.h"
#include "libs/tether/tether.h"

namespace tether {

namespace {

std::atomic<std::uint64_t> g_receivedBytes{0};

class Registry {
public:
    ConnectionHandle Add(std::shared_ptr<Link> link) {
        std::lock_guard<std::mutex> lock(mutex_);
        ConnectionHandle handle = nextHandle_++;
        links_.emplace(handle, std::move(link));
        return handle;
    }
    std::shared_ptr<Link> Find(ConnectionHandle handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(handle);
        return it == links_.end() ? nullptr : it->second;
    }
    std::shared_ptr<Link> Remove(ConnectionHandle handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(handle);
        if (it == links_.end()) return nullptr;
        auto link = std::move(it->second);
        links_.erase(it);
        return link;
    }

private:
    std::mutex mutex_;
    ConnectionHandle nextHandle_ = 1;  // handles are never reused
    std::unordered_map<ConnectionHandle, std::shared_ptr<Link>> links_;
};

// Never destroyed: reader threads of connections nobody closed may still run while
// the process exits.
Registry& Links() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

ConnectionHandle Connect(const char* address, int port, ReceiveCallback callback, void* user, int timeoutMs) {
    if (address == nullptr || callback == nullptr || port <= 0 || port > 65535) return 0;
    boost::system::error_code ec;
    auto ip = boost::asio::ip::make_address_v4(address, ec);
    if (ec) return 0;
    if (timeoutMs <= 0) timeoutMs = kConnectTimeoutMs;

    std::shared_ptr<Link> link;
    try {
        link = std::make_shared<Link>();  // its io_context needs descriptors of its own
    } catch (const std::exception&) {
        return 0;
    }
    boost::asio::ip::tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    if (!link->Connect(endpoint, std::chrono::milliseconds(timeoutMs))) return 0;

    Link::Events events;
    events.message = [callback, user](const char* data, std::size_t length) {
        g_receivedBytes.fetch_add(length, std::memory_order_relaxed);
        callback(0, data, static_cast<int>(length), user);
    };
    events.ended = [callback, user] { callback(-1, nullptr, 0, user); };
    ConnectionHandle handle = Links().Add(link);
    if (!link->Start(std::move(events))) {
        Links().Remove(handle);
        return 0;
    }
    return handle;
}

long Send(ConnectionHandle handle, const void* data, long length, bool /*flag*/) {
    if (data == nullptr || length <= 0 || static_cast<unsigned long>(length) > kMaxMessageSize) return 0;
    auto link = Links().Find(handle);
    if (!link) return -1;
    return link->Write(data, static_cast<std::size_t>(length), true) ? length : -1;
}

void Close(ConnectionHandle handle) {
    if (auto link = Links().Remove(handle)) link->Close();
}

bool ConnectInto(ConnectionHandle& slot, const char* address, int port, ReceiveCallback callback, void* user,
                 int timeoutMs) {
    if (slot != 0) {
        Close(slot);
        slot = 0;
    }
    slot = Connect(address, port, callback, user, timeoutMs);
    return slot != 0;
}

std::uint64_t ReceivedBytes() { return g_receivedBytes.load(std::memory_order_relaxed); }

}  // namespace tether
