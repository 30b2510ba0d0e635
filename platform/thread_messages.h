#pragma once
// A message queue per thread, addressed by a small thread id. A thread gets its
// queue when it first asks for a message (or calls EnsureThreadMessageQueue); the
// queue goes away with the thread. Posting to a thread without a queue fails and
// frees the payload.

#include <cstdint>

#include "platform/message.h"

namespace platform {

using ThreadId = std::uint32_t;

// Unique for the life of the process, never 0.
ThreadId CurrentThreadId();

void EnsureThreadMessageQueue();

bool PostThreadMessage(ThreadId thread, Message message);

// Takes the oldest message of the calling thread's queue without blocking.
bool PeekThreadMessage(Message& out);

// Waits up to timeoutMs for a message on the calling thread's queue.
bool WaitThreadMessage(Message& out, std::uint32_t timeoutMs);

}  // namespace platform
