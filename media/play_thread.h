#pragma once
// The play thread of one camera: runs frames through the stage chain at the stream's
// pace, and repaints the last picture when the stream has gone quiet.

#include "core/thread_wrapper.h"
#include "media/stage_chain.h"
#include "transport/packet_queue.h"

namespace media {

class PlayThread {
public:
    PlayThread(StageChain& chain, transport::PacketQueue& video) : chain_(chain), video_(video) {}
    ~PlayThread() { Stop(); }

    bool Start();
    // Sets the stop event and waits for the thread (it ends within one wait).
    void Stop() { thread_.Stop(); }
    bool IsRunning() const { return thread_.IsRunning(); }
    std::uint32_t HeartbeatTick() const { return thread_.HeartbeatTick(); }

private:
    void Run(core::ThreadWrapper& self);

    StageChain& chain_;
    transport::PacketQueue& video_;
    core::ThreadWrapper thread_;
};

}  // namespace media
