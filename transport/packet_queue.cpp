#include "transport/packet_queue.h"

namespace transport {

PacketQueue::PacketQueue() : queue_(kHighWater + 2) { free_.reserve(kMaxSpares); }

PacketQueue::Record PacketQueue::TakeFree() {
    {
        std::lock_guard lock(freeMutex_);
        if (!free_.empty()) {
            Record record = std::move(free_.back());
            free_.pop_back();
            return record;
        }
    }
    return std::make_unique<MediaPacket>();
}

bool PacketQueue::Push(Record record, bool video) {
    if (!record) return false;
    // Dropped records are released after the queue lock (no operation holds both). The
    // scratch list belongs to the receiving thread and keeps its capacity, so even an
    // overflow allocates nothing once warm.
    thread_local std::vector<Record> dropped;
    dropped.clear();
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.size() > kHighWater) {
            if (video) {
                // Keep the key frames in order, release the rest.
                std::size_t kept = 0;
                for (std::size_t i = 0; i < queue_.size(); ++i) {
                    if (queue_[i]->IsKeyFrame())
                        queue_[kept++] = std::move(queue_[i]);
                    else
                        dropped.push_back(std::move(queue_[i]));
                }
                queue_.erase_end(queue_.size() - kept);
                TrimKeyFrames(dropped);
            } else {
                for (Record& queued : queue_) dropped.push_back(std::move(queued));
                queue_.clear();
            }
        }
        if (queue_.full()) queue_.set_capacity(queue_.capacity() * 2);
        queue_.push_back(std::move(record));
    }
    for (Record& old : dropped) Release(std::move(old));
    dropped.clear();
    return true;
}

void PacketQueue::TrimKeyFrames(std::vector<Record>& dropped) {
    if (queue_.size() <= kKeptKeyFrames) return;
    const std::size_t excess = queue_.size() - kKeptKeyFrames;
    // The decoder cannot start without the parameter sets: when the oldest frame kept
    // does not carry them, the newest dropped one that does stays in front of it.
    Record leader;
    if (!queue_[excess]->CarriesParameterSets()) {
        for (std::size_t i = excess; i-- > 0;) {
            if (queue_[i]->CarriesParameterSets()) {
                leader = std::move(queue_[i]);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < excess; ++i)
        if (queue_[i]) dropped.push_back(std::move(queue_[i]));
    queue_.erase_begin(excess);
    if (leader) queue_.push_front(std::move(leader));
}

PacketQueue::Record PacketQueue::Pop() {
    std::lock_guard lock(queueMutex_);
    if (queue_.empty()) return nullptr;
    Record record = std::move(queue_.front());
    queue_.pop_front();
    return record;
}

void PacketQueue::Release(Record record) {
    if (!record) return;
    std::lock_guard lock(freeMutex_);
    if (free_.size() < kMaxSpares) free_.push_back(std::move(record));
}

void PacketQueue::Clear() {
    std::vector<Record> queued;
    std::vector<Record> spares;
    {
        std::lock_guard lock(queueMutex_);
        for (Record& record : queue_) queued.push_back(std::move(record));
        queue_.clear();
    }
    std::lock_guard lock(freeMutex_);
    spares.swap(free_);
    free_.reserve(kMaxSpares);
}

std::size_t PacketQueue::Size() const {
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

std::size_t PacketQueue::Spares() const {
    std::lock_guard lock(freeMutex_);
    return free_.size();
}

}  // namespace transport
