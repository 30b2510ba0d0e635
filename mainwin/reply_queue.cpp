#include "mainwin/reply_queue.h"

#include "core/message_ids.h"

namespace mainwin {

void ReplyQueue::Push(std::int64_t id, int msgType, const Params& params) {
    control::ControlMessage record;
    record.id = id;
    record.msgType = msgType;
    record.params = params;
    {
        std::lock_guard lock(mutex_);
        records_.push_back(std::move(record));
    }
    if (const platform::WindowHandle window = window_.load())
        platform::PostWindowMessage(window, platform::Message(core::kReplyQueued, static_cast<std::uintptr_t>(msgType), 0));
}

std::size_t ReplyQueue::Drain() {
    std::size_t taken = 0;
    for (;;) {
        control::ControlMessage record;
        {
            std::lock_guard lock(mutex_);
            if (records_.empty()) break;
            record = std::move(records_.front());
            records_.pop_front();
        }
        ++taken;
        auto it = handlers_.find(record.msgType);
        if (it == handlers_.end() || !it->second) continue;  // no handler built in: dropped
        Handler handler = it->second;  // a handler may re-register its own type
        handler(record);
    }
    return taken;
}

void ReplyQueue::RegisterHandler(int msgType, Handler handler) { handlers_[msgType] = std::move(handler); }

void ReplyQueue::UnregisterHandler(int msgType) { handlers_.erase(msgType); }

bool ReplyQueue::HasHandler(int msgType) const { return handlers_.count(msgType) != 0; }

std::size_t ReplyQueue::Size() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::function<void(std::int64_t, int, const ReplyQueue::Params&, void*)> ReplyQueue::Callback() {
    std::shared_ptr<ReplyQueue> self = shared_from_this();
    return [self](std::int64_t id, int msgType, const Params& params, void*) { self->Push(id, msgType, params); };
}

}  // namespace mainwin
