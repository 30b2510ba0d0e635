#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "platform/thread_messages.h"
#include "platform/window_handles.h"

using namespace platform;

namespace {
// Counts how many records are alive, so a test can see that a dropped message
// freed its payload.
struct Tracked {
    static inline std::atomic<int> alive{0};
    int value;
    explicit Tracked(int v) : value(v) { ++alive; }
    Tracked(const Tracked& other) : value(other.value) { ++alive; }
    Tracked(Tracked&& other) noexcept : value(other.value) { ++alive; }
    ~Tracked() { --alive; }
};
}  // namespace

TEST(ThreadMessages, PostedMessagesArriveInOrderWithPayload) {
    EnsureThreadMessageQueue();
    ThreadId self = CurrentThreadId();
    ASSERT_TRUE(PostThreadMessage(self, Message(1028, 7, -1, MakePayload(std::string("camera")))));
    ASSERT_TRUE(PostThreadMessage(self, Message(1029, 8)));
    Message message;
    ASSERT_TRUE(PeekThreadMessage(message));
    EXPECT_EQ(message.id, 1028u);
    EXPECT_EQ(message.lParam, -1);
    ASSERT_NE(PayloadAs<std::string>(message), nullptr);
    EXPECT_EQ(*PayloadAs<std::string>(message), "camera");
    EXPECT_EQ(PayloadAs<int>(message), nullptr) << "a payload of another type must not be handed out";
    ASSERT_TRUE(PeekThreadMessage(message));
    EXPECT_EQ(message.wParam, 8u);
    EXPECT_FALSE(PeekThreadMessage(message));
}

TEST(ThreadMessages, WaitWakesWhenAnotherThreadPosts) {
    EnsureThreadMessageQueue();
    ThreadId self = CurrentThreadId();
    std::thread poster([self] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        PostThreadMessage(self, Message(5));
    });
    Message message;
    EXPECT_TRUE(WaitThreadMessage(message, 5000));
    EXPECT_EQ(message.id, 5u);
    poster.join();
}

TEST(ThreadMessages, PostToEndedThreadFailsAndFreesPayload) {
    ThreadId ended = 0;
    std::thread([&] {
        EnsureThreadMessageQueue();
        ended = CurrentThreadId();
    }).join();
    ASSERT_NE(ended, 0u);
    ASSERT_EQ(Tracked::alive, 0);
    EXPECT_FALSE(PostThreadMessage(ended, Message(1, 0, 0, MakePayload(Tracked(3)))));
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(ThreadMessages, MessagesLeftInQueueAreFreedWhenThreadEnds) {
    std::atomic<ThreadId> id{0};
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        EnsureThreadMessageQueue();
        id = CurrentThreadId();
        while (!posted) std::this_thread::yield();
    });
    while (id == 0) std::this_thread::yield();
    EXPECT_TRUE(PostThreadMessage(id, Message(1, 0, 0, MakePayload(Tracked(1)))));
    posted = true;
    worker.join();
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(WindowHandles, PostRunsOnOwnerThreadAndSendReturnsResult) {
    auto executor = std::make_shared<LoopExecutor>();
    std::thread::id ranOn;
    WindowHandle window = CreateWindowHandle(
        [&](Message& message) -> std::intptr_t {
            ranOn = std::this_thread::get_id();
            return static_cast<std::intptr_t>(message.wParam) * 2;
        },
        executor);
    EXPECT_TRUE(PostWindowMessage(window, Message(1042, 1)));
    std::atomic<std::intptr_t> sent{-1};
    std::thread sender([&] { sent = SendWindowMessage(window, Message(1042, 21)); });
    executor->RunUntil([&] { return sent != -1; }, 5000);
    sender.join();
    EXPECT_EQ(sent, 42);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    // On the owner's own thread a send runs directly.
    EXPECT_EQ(SendWindowMessage(window, Message(1, 5)), 10);
    DestroyWindowHandle(window);
}

TEST(WindowHandles, MessagesToDestroyedWindowAreDroppedAndPayloadFreed) {
    auto executor = std::make_shared<LoopExecutor>();
    int calls = 0;
    WindowHandle window = CreateWindowHandle([&](Message&) -> std::intptr_t { return ++calls; }, executor);
    ASSERT_TRUE(PostWindowMessage(window, Message(1, 0, 0, MakePayload(Tracked(1)))));
    DestroyWindowHandle(window);
    executor->RunPending();
    EXPECT_EQ(calls, 0) << "a message queued before the window closed must not reach it";
    EXPECT_FALSE(IsWindowHandle(window));
    EXPECT_FALSE(PostWindowMessage(window, Message(1, 0, 0, MakePayload(Tracked(2)))));
    EXPECT_EQ(SendWindowMessage(window, Message(1, 0, 0, MakePayload(Tracked(3)))), 0);
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(WindowHandles, SendDoesNotHangWhenTheExecutorIsThrownAway) {
    auto executor = std::make_shared<LoopExecutor>();
    WindowHandle window = CreateWindowHandle([](Message&) -> std::intptr_t { return 1; }, executor);
    std::atomic<bool> returned{false};
    std::intptr_t result = -1;
    std::thread sender([&] {
        result = SendWindowMessage(window, Message(1));
        returned = true;
    });
    DestroyWindowHandle(window);
    // Give the send time to queue (or to find the window gone), then drop the queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    executor.reset();
    sender.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(result, 0);
}
