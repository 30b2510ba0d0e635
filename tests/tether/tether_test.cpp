#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libs/tether/frame_decoder.h"
#include "libs/tether/tether.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kWait = 5s;  // upper bound for things that should happen at once

// What one client connection received, filled by the plain receive callback.
struct Inbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> messages;
    int lost = 0;
    std::atomic<int> calls{0};

    static void Callback(int status, const char* data, int length, void* user) {
        auto* self = static_cast<Inbox*>(user);
        self->calls++;
        std::lock_guard<std::mutex> lock(self->mutex);
        if (status < 0)
            self->lost++;
        else
            self->messages.emplace_back(data, static_cast<std::size_t>(length));
        self->changed.notify_all();
    }
    template <typename Predicate>
    bool WaitFor(Predicate done, std::chrono::milliseconds limit = kWait) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return done(*this); });
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages.size();
    }
    int Lost() {
        std::lock_guard<std::mutex> lock(mutex);
        return lost;
    }
};

// A tether::Server on loopback recording what arrives, optionally echoing it.
class TestServer {
public:
    explicit TestServer(bool echo = true) : echo_(echo), server_(MakeHandlers()) {
        port_ = server_.Listen("127.0.0.1", 0);
    }
    tether::Server& Get() { return server_; }
    int Port() const { return port_; }

    bool WaitForConnections(std::size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return accepted_.size() >= n; });
    }
    bool WaitForMessages(std::size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return received_.size() >= n; });
    }
    bool WaitForClosed(std::size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return closed_.size() >= n; });
    }
    tether::Server::ConnectionId Connection(std::size_t index) {
        std::lock_guard<std::mutex> lock(mutex_);
        return accepted_.at(index);
    }
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    std::vector<tether::Server::ConnectionId> Closed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }
    std::string peer;

private:
    tether::Server::Handlers MakeHandlers() {
        tether::Server::Handlers h;
        h.onAccept = [this](tether::Server::ConnectionId id, const std::string& address) {
            std::lock_guard<std::mutex> lock(mutex_);
            accepted_.push_back(id);
            peer = address;
            changed_.notify_all();
        };
        h.onMessage = [this](tether::Server::ConnectionId id, const char* data, std::size_t length) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.emplace_back(data, length);
                changed_.notify_all();
            }
            if (echo_) server_.Send(id, data, length);
        };
        h.onClosed = [this](tether::Server::ConnectionId id) {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_.push_back(id);
            changed_.notify_all();
        };
        return h;
    }

    bool echo_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<tether::Server::ConnectionId> accepted_;
    std::vector<tether::Server::ConnectionId> closed_;
    std::vector<std::string> received_;
    int port_ = -1;
    tether::Server server_;
};

long SendText(tether::ConnectionHandle handle, const std::string& text) {
    return tether::Send(handle, text.data(), static_cast<long>(text.size()), false);
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return text;
}

// A port on which nothing listens (bound once, then released).
int ClosedPort() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

class TetherTest : public ::testing::Test {
protected:
    void TearDown() override { tether::SetSendTimeout(0); }
};

}  // namespace

TEST_F(TetherTest, RoundTripKeepsMessageBoundaries) {
    TestServer server;
    ASSERT_GT(server.Port(), 0);
    Inbox inbox;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);

    std::vector<std::string> sent;
    for (unsigned i = 0; i < 2000; ++i) sent.push_back(Pattern(i % 97 + 1, i));  // many small, including 1 byte
    sent.push_back(Pattern(1 << 20, 1));
    sent.push_back(std::string(1, '\0'));
    sent.push_back(Pattern(3 * (1 << 20) + 5, 2));
    sent.push_back(Pattern(65536, 3));
    for (const auto& message : sent) ASSERT_EQ(SendText(handle, message), static_cast<long>(message.size()));

    ASSERT_TRUE(server.WaitForMessages(sent.size()));
    EXPECT_EQ(server.Received(), sent);
    ASSERT_TRUE(inbox.WaitFor([&](Inbox& in) { return in.messages.size() >= sent.size(); }));
    {
        std::lock_guard<std::mutex> lock(inbox.mutex);
        EXPECT_EQ(inbox.messages, sent) << "the echo comes back message by message";
        EXPECT_EQ(inbox.lost, 0);
    }
    EXPECT_EQ(server.peer, "127.0.0.1");
    tether::Close(handle);
}

TEST_F(TetherTest, EmptyAndOversizedMessagesAreRefusedWithoutHarm) {
    TestServer server;
    Inbox inbox;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);
    char byte = 'x';
    EXPECT_LE(tether::Send(handle, &byte, 0, false), 0);
    EXPECT_LE(tether::Send(handle, nullptr, 5, false), 0);
    EXPECT_LE(tether::Send(handle, &byte, -1, false), 0);
    std::string big(tether::kMaxMessageSize + 1, 'b');
    EXPECT_LE(SendText(handle, big), 0);
    EXPECT_LE(SendText(12345678, "x"), 0) << "unknown handle";
    // The connection is still fine.
    EXPECT_EQ(SendText(handle, "after"), 5);
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return !in.messages.empty(); }));
    EXPECT_EQ(inbox.messages.front(), "after");
    // The server may send empty frames: they are skipped, not delivered.
    const std::string wire = std::string(4, '\0') + std::string("\x00\x00\x00\x02", 4) + "ok";
    ASSERT_TRUE(server.Get().SendRaw(server.Connection(0), wire.data(), wire.size()));
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.messages.size() >= 2; }));
    EXPECT_EQ(inbox.messages.at(1), "ok");
    EXPECT_FALSE(server.Get().Send(server.Connection(0), "", 0));
    tether::Close(handle);
}

TEST_F(TetherTest, CounterAddsEveryDeliveredLength) {
    TestServer server;
    Inbox inbox;
    const std::uint64_t before = tether::ReceivedBytes();
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);
    std::uint64_t total = 0;
    for (int i = 1; i <= 50; ++i) {
        ASSERT_GT(SendText(handle, Pattern(static_cast<std::size_t>(i * 100), i)), 0);
        total += static_cast<std::uint64_t>(i) * 100;
    }
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.messages.size() >= 50; }));
    EXPECT_EQ(tether::ReceivedBytes() - before, total) << "framing bytes are not counted";
    tether::Close(handle);
}

TEST_F(TetherTest, LostConnectionIsReportedOnce) {
    TestServer server;
    Inbox inbox;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_GT(SendText(handle, "ping"), 0);
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.messages.size() == 1; }));

    server.Get().Close(server.Connection(0));
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.lost > 0; }));
    ASSERT_TRUE(server.WaitForClosed(1)) << "a server-side Close reports onClosed too";
    EXPECT_LE(SendText(handle, "late"), 0);
    EXPECT_LE(SendText(handle, "later"), 0);
    std::this_thread::sleep_for(50ms);
    tether::Close(handle);
    EXPECT_EQ(inbox.Lost(), 1);
    EXPECT_EQ(inbox.Count(), 1u);
    EXPECT_LE(SendText(handle, "closed"), 0);
}

TEST_F(TetherTest, CloseIsNotReportedAsLoss) {
    TestServer server;
    Inbox inbox;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(server.WaitForConnections(1));
    tether::Close(handle);
    ASSERT_TRUE(server.WaitForClosed(1)) << "the peer sees the connection end";
    tether::Close(handle);  // a second Close of the same handle is harmless
    EXPECT_EQ(inbox.calls.load(), 0);
}

namespace {
// Counts callbacks and notes any that arrive after Close returned.
struct CloseRace {
    std::atomic<bool> closed{false};
    std::atomic<int> delivered{0};
    std::atomic<int> afterClose{0};
    static void Callback(int status, const char*, int, void* user) {
        auto* self = static_cast<CloseRace*>(user);
        if (self->closed) self->afterClose++;
        if (status >= 0) self->delivered++;
        std::this_thread::yield();
        if (self->closed) self->afterClose++;
    }
};
}  // namespace

TEST_F(TetherTest, NoCallbackAfterCloseReturnsWhileMessagesFlow) {
    std::atomic<bool> flood{true};
    tether::Server* serverPtr = nullptr;
    tether::Server::Handlers handlers;
    std::vector<std::thread> floods;
    std::mutex floodsMutex;
    handlers.onAccept = [&](tether::Server::ConnectionId id, const std::string&) {
        std::lock_guard<std::mutex> lock(floodsMutex);
        floods.emplace_back([&, id] {
            std::string message = Pattern(200, 9);
            while (flood && serverPtr->Send(id, message.data(), message.size())) {
            }
        });
    };
    tether::Server server(handlers);
    serverPtr = &server;
    const int port = server.Listen("127.0.0.1", 0);
    ASSERT_GT(port, 0);

    for (int round = 0; round < 20; ++round) {
        CloseRace race;
        tether::ConnectionHandle handle = tether::Connect("127.0.0.1", port, &CloseRace::Callback, &race);
        ASSERT_NE(handle, 0u);
        auto start = Clock::now();
        while (race.delivered < 50 && Clock::now() - start < kWait) std::this_thread::yield();
        ASSERT_GE(race.delivered.load(), 50);
        std::thread closer([&] {
            tether::Close(handle);
            race.closed = true;
        });
        closer.join();
        std::this_thread::sleep_for(2ms);
        EXPECT_EQ(race.afterClose.load(), 0) << "round " << round;
    }
    flood = false;
    server.Stop();
    for (auto& t : floods) t.join();
}

namespace {
// Closes its connection from inside the callback of the third message, once the test
// has sent everything (the echoes of later messages are then already on their way, so
// they test that nothing is delivered after the Close).
struct SelfCloser {
    std::atomic<tether::ConnectionHandle> handle{0};
    std::atomic<bool> allSent{false};
    std::atomic<int> messages{0};
    std::atomic<int> lost{0};
    std::atomic<bool> closedInside{false};
    static void Callback(int status, const char*, int, void* user) {
        auto* self = static_cast<SelfCloser*>(user);
        if (status < 0) {
            self->lost++;
            return;
        }
        if (++self->messages == 3) {
            const auto start = Clock::now();
            while (!self->allSent && Clock::now() - start < kWait) std::this_thread::yield();
            tether::Close(self->handle);
            self->closedInside = true;
        }
    }
};
}  // namespace

TEST_F(TetherTest, CloseFromInsideTheCallback) {
    TestServer server;
    SelfCloser closer;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &SelfCloser::Callback, &closer);
    ASSERT_NE(handle, 0u);
    closer.handle = handle;
    for (int i = 0; i < 20; ++i) EXPECT_GT(SendText(handle, "m" + std::to_string(i)), 0);
    closer.allSent = true;
    auto start = Clock::now();
    while (!closer.closedInside && Clock::now() - start < kWait) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(closer.closedInside);
    ASSERT_TRUE(server.WaitForClosed(1));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(closer.messages.load(), 3) << "nothing after the Close inside the callback";
    EXPECT_EQ(closer.lost.load(), 0);
    EXPECT_LE(SendText(handle, "x"), 0);
}

TEST_F(TetherTest, ConcurrentSendsNeverInterleave) {
    TestServer server(false);
    Inbox inbox;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);
    constexpr int kThreads = 8;
    constexpr int kEach = 150;
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                // Thread id, sequence number, then a body only this thread writes.
                std::size_t size = static_cast<std::size_t>((i % 7 == 0) ? 70000 : 10 + i * 13);
                std::string message(size, static_cast<char>('A' + t));
                std::memcpy(message.data(), &i, sizeof i);
                if (SendText(handle, message) <= 0) failures++;
            }
        });
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(server.WaitForMessages(kThreads * kEach));
    std::map<char, int> nextSequence;
    for (const std::string& message : server.Received()) {
        ASSERT_GE(message.size(), sizeof(int));
        char owner = message.back();
        int sequence;
        std::memcpy(&sequence, message.data(), sizeof sequence);
        EXPECT_EQ(message.find_first_not_of(owner, sizeof(int)), std::string::npos) << "a message was mixed";
        EXPECT_EQ(sequence, nextSequence[owner]++) << "one thread's messages stay in order";
    }
    tether::Close(handle);
}

TEST_F(TetherTest, ConnectFailuresReturnZero) {
    Inbox inbox;
    auto start = Clock::now();
    EXPECT_EQ(tether::Connect("127.0.0.1", ClosedPort(), &Inbox::Callback, &inbox, 2000), 0u) << "refused";
    EXPECT_LT(Clock::now() - start, 1500ms) << "a refusal is immediate";
    EXPECT_EQ(tether::Connect("localhost", 80, &Inbox::Callback, &inbox), 0u) << "not dotted text";
    EXPECT_EQ(tether::Connect("127.0.0.1:80", 80, &Inbox::Callback, &inbox), 0u);
    EXPECT_EQ(tether::Connect(nullptr, 80, &Inbox::Callback, &inbox), 0u);
    EXPECT_EQ(tether::Connect("127.0.0.1", 0, &Inbox::Callback, &inbox), 0u);
    EXPECT_EQ(tether::Connect("127.0.0.1", 70000, &Inbox::Callback, &inbox), 0u);
    EXPECT_EQ(inbox.calls.load(), 0);
}

TEST_F(TetherTest, ConnectGivesUpAfterTheTimeout) {
    // A listener that never accepts, with a backlog of one that a first client fills:
    // the kernel then drops further connection requests, so a connect just waits.
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io);
    boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), 0);
    acceptor.open(endpoint.protocol());
    acceptor.bind(endpoint);
    acceptor.listen(0);
    const int port = acceptor.local_endpoint().port();
    std::vector<std::unique_ptr<boost::asio::ip::tcp::socket>> fillers;
    for (int i = 0; i < 2; ++i) {
        // Started without waiting: the connect call is made at once, io never runs.
        auto socket = std::make_unique<boost::asio::ip::tcp::socket>(io);
        socket->async_connect(acceptor.local_endpoint(), [](const boost::system::error_code&) {});
        fillers.push_back(std::move(socket));
    }
    std::this_thread::sleep_for(20ms);

    Inbox inbox;
    auto start = Clock::now();
    EXPECT_EQ(tether::Connect("127.0.0.1", port, &Inbox::Callback, &inbox, 300), 0u);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 250ms) << "the connect really waited";
    EXPECT_LT(elapsed, 2s) << "and gave up after its time-out";
    EXPECT_EQ(inbox.calls.load(), 0);
}

TEST_F(TetherTest, BrokenFramesEndTheConnection) {
    TestServer server;
    struct Case {
        std::string wire;
        const char* what;
        bool closeAfter = false;
    };
    const std::string good = std::string("\x00\x00\x00\x03", 4) + "abc";
    auto oversized = tether::EncodeFrameHeader(tether::kMaxMessageSize + 1);
    const std::vector<Case> cases = {
        {good + std::string(oversized.begin(), oversized.end()) + "zzzz", "oversized frame"},
        {good + std::string("\x7F\xFF\xFF\xFF", 4), "absurd length"},
        {good + std::string("\x00\x00\x00\x10", 4) + "short", "stream ends inside a frame", true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Inbox inbox;
        tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
        ASSERT_NE(handle, 0u);
        ASSERT_TRUE(server.WaitForConnections(i + 1));
        ASSERT_TRUE(server.Get().SendRaw(server.Connection(i), cases[i].wire.data(), cases[i].wire.size()));
        if (cases[i].closeAfter) server.Get().Close(server.Connection(i));
        ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.lost > 0; })) << cases[i].what;
        ASSERT_TRUE(server.WaitForClosed(i + 1)) << "the peer sees the end as well";
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(inbox.Lost(), 1) << cases[i].what;
        EXPECT_EQ(inbox.messages, std::vector<std::string>{"abc"}) << cases[i].what;
        tether::Close(handle);
    }
}

TEST_F(TetherTest, StuckPeerMakesSendFailAndTheConnectionLost) {
    tether::SetSendTimeout(200);
    // A peer that accepts and never reads.
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    Inbox inbox;
    tether::ConnectionHandle handle =
        tether::Connect("127.0.0.1", acceptor.local_endpoint().port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u);
    boost::asio::ip::tcp::socket peer(io);
    acceptor.accept(peer);

    const std::string chunk = Pattern(1 << 20, 4);
    auto start = Clock::now();
    int sent = 0;
    while (SendText(handle, chunk) > 0 && sent < 200) ++sent;
    auto elapsed = Clock::now() - start;
    EXPECT_LT(sent, 200) << "the socket buffers never filled";
    EXPECT_LT(elapsed, 5s);
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.lost > 0; })) << "a timed-out send counts as lost";
    EXPECT_LE(SendText(handle, "x"), 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(inbox.Lost(), 1);
    tether::Close(handle);
}

TEST_F(TetherTest, BlockedCallbackDoesNotStallOtherConnections) {
    TestServer server;
    struct Blocker {
        std::mutex mutex;
        std::condition_variable release;
        bool released = false;
        std::atomic<int> entered{0};
        static void Callback(int status, const char*, int, void* user) {
            auto* self = static_cast<Blocker*>(user);
            if (status < 0) return;
            self->entered++;
            std::unique_lock<std::mutex> lock(self->mutex);
            self->release.wait(lock, [&] { return self->released; });
        }
    } blocker;
    tether::ConnectionHandle slow = tether::Connect("127.0.0.1", server.Port(), &Blocker::Callback, &blocker);
    Inbox inbox;
    tether::ConnectionHandle fast = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(slow, 0u);
    ASSERT_NE(fast, 0u);
    ASSERT_GT(SendText(slow, "block"), 0);
    auto start = Clock::now();
    while (blocker.entered == 0 && Clock::now() - start < kWait) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(blocker.entered.load(), 1);
    for (int i = 0; i < 100; ++i) ASSERT_GT(SendText(fast, "go"), 0);
    EXPECT_TRUE(inbox.WaitFor([](Inbox& in) { return in.messages.size() >= 100; }));
    ASSERT_GT(SendText(slow, "sending still works while our own callback blocks"), 0);
    {
        std::lock_guard<std::mutex> lock(blocker.mutex);
        blocker.released = true;
    }
    blocker.release.notify_all();
    tether::Close(slow);
    tether::Close(fast);
}

TEST_F(TetherTest, SixtyFiveConnectionsAtOnce) {
    TestServer server;
    constexpr int kLinks = 65;  // a full video wall and the control link
    std::vector<std::unique_ptr<Inbox>> inboxes;
    std::vector<tether::ConnectionHandle> handles;
    for (int i = 0; i < kLinks; ++i) {
        inboxes.push_back(std::make_unique<Inbox>());
        handles.push_back(tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, inboxes.back().get()));
        ASSERT_NE(handles.back(), 0u);
    }
    for (int round = 0; round < 20; ++round)
        for (int i = 0; i < kLinks; ++i) ASSERT_GT(SendText(handles[i], std::to_string(i) + "/" + std::to_string(round)), 0);
    for (int i = 0; i < kLinks; ++i) {
        ASSERT_TRUE(inboxes[i]->WaitFor([](Inbox& in) { return in.messages.size() >= 20; }));
        EXPECT_EQ(inboxes[i]->messages.back(), std::to_string(i) + "/19") << "each link gets its own echoes";
    }
    for (auto handle : handles) tether::Close(handle);
}

TEST_F(TetherTest, ConnectIntoReplacesTheConnectionInTheSlot) {
    TestServer server;
    Inbox first;
    Inbox second;
    tether::ConnectionHandle slot = 0;
    ASSERT_TRUE(tether::ConnectInto(slot, "127.0.0.1", server.Port(), &Inbox::Callback, &first));
    const tether::ConnectionHandle old = slot;
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(tether::ConnectInto(slot, "127.0.0.1", server.Port(), &Inbox::Callback, &second));
    EXPECT_NE(slot, old) << "handles are not reused";
    ASSERT_TRUE(server.WaitForClosed(1)) << "the old connection was closed";
    EXPECT_LE(SendText(old, "x"), 0);
    ASSERT_GT(SendText(slot, "y"), 0);
    ASSERT_TRUE(second.WaitFor([](Inbox& in) { return !in.messages.empty(); }));
    EXPECT_EQ(first.calls.load(), 0);

    EXPECT_FALSE(tether::ConnectInto(slot, "127.0.0.1", ClosedPort(), &Inbox::Callback, &second, 1000));
    EXPECT_EQ(slot, 0u) << "a failed connect leaves the slot empty";
    ASSERT_TRUE(server.WaitForClosed(2));
}

TEST_F(TetherTest, RefusingServerAcceptsAndDropsAtOnce) {
    TestServer server;
    server.Get().SetAccepting(false);
    Inbox inbox;
    tether::ConnectionHandle handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &inbox);
    ASSERT_NE(handle, 0u) << "TCP still connects";
    ASSERT_TRUE(inbox.WaitFor([](Inbox& in) { return in.lost > 0; }));
    tether::Close(handle);
    server.Get().SetAccepting(true);
    Inbox again;
    handle = tether::Connect("127.0.0.1", server.Port(), &Inbox::Callback, &again);
    ASSERT_NE(handle, 0u);
    ASSERT_GT(SendText(handle, "hi"), 0);
    EXPECT_TRUE(again.WaitFor([](Inbox& in) { return !in.messages.empty(); }));
    EXPECT_EQ(server.Received(), std::vector<std::string>{"hi"}) << "the refused connection never reached a handler";
    tether::Close(handle);
}

TEST_F(TetherTest, ServerStopEndsEverythingAndRunsNoHandlerAfterwards) {
    std::atomic<bool> stopped{false};
    std::atomic<int> lateHandlers{0};
    std::atomic<int> messages{0};
    tether::Server::Handlers handlers;
    handlers.onMessage = [&](tether::Server::ConnectionId, const char*, std::size_t) {
        if (stopped) lateHandlers++;
        messages++;
        std::this_thread::sleep_for(1ms);
        if (stopped) lateHandlers++;
    };
    handlers.onClosed = [&](tether::Server::ConnectionId) {
        if (stopped) lateHandlers++;
    };
    tether::Server server(handlers);
    const int port = server.Listen("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    EXPECT_EQ(server.Port(), port);
    EXPECT_EQ(server.Listen("127.0.0.1", 0), -1) << "already listening";

    Inbox a, b;
    tether::ConnectionHandle ha = tether::Connect("127.0.0.1", port, &Inbox::Callback, &a);
    tether::ConnectionHandle hb = tether::Connect("127.0.0.1", port, &Inbox::Callback, &b);
    ASSERT_NE(ha, 0u);
    ASSERT_NE(hb, 0u);
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        while (sending) {
            SendText(ha, "load");
            SendText(hb, "load");
        }
    });
    while (messages < 20) std::this_thread::yield();
    server.Stop();
    stopped = true;
    EXPECT_TRUE(a.WaitFor([](Inbox& in) { return in.lost > 0; }));
    EXPECT_TRUE(b.WaitFor([](Inbox& in) { return in.lost > 0; }));
    sending = false;
    sender.join();
    EXPECT_EQ(lateHandlers.load(), 0);
    EXPECT_EQ(tether::Connect("127.0.0.1", port, &Inbox::Callback, &a, 1000), 0u) << "no longer listening";
    tether::Close(ha);
    tether::Close(hb);
    EXPECT_EQ(server.Listen("256.0.0.1", 0), -1);
}
