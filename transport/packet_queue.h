#pragma once
// The FIFO of media packets between a link's receive callback and a pipeline thread,
// with a free list of spare records so that steady streaming allocates nothing. A
// full queue drops by policy and never blocks the producer.

#include <boost/circular_buffer.hpp>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/media_packet.h"

namespace transport {

class PacketQueue {
public:
    static constexpr std::size_t kHighWater = 100;
    static constexpr std::size_t kMaxSpares = 100;
    // Key frames kept when a video queue over the high-water mark holds little else
    // (an all-intra camera with a slow consumer): the newest ones.
    static constexpr std::size_t kKeptKeyFrames = kHighWater / 2;

    using Record = std::unique_ptr<MediaPacket>;

    PacketQueue();
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    Record TakeFree();
    // Over the high-water mark video keeps only its key frames (at most the newest
    // kKeptKeyFrames, led by one that carries the parameter sets) and audio drops all,
    // before the new record is appended. False without a record.
    bool Push(Record record, bool video);
    Record Pop();
    void Release(Record record);
    void Clear();
    std::size_t Size() const;
    std::size_t Spares() const;

private:
    // Under the queue lock: keeps the newest key frames, see Push.
    void TrimKeyFrames(std::vector<Record>& dropped);

    mutable std::mutex queueMutex_;
    // A ring that only grows, so steady streaming never allocates.
    boost::circular_buffer<Record> queue_;
    mutable std::mutex freeMutex_;
    std::vector<Record> free_;
};

}  // namespace transport
