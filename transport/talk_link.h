#pragma once
// The second link of a camera, opened for talkback: the client's voice goes out as
// talk audio messages and the camera's answer comes back as sub-type 4 media.

#include "transport/forwarding_link.h"
#include "transport/packet_queue.h"

namespace transport {

// Talk audio stamped before the start of the current talk (its first voice) is stale.
bool IsStaleTalkAudio(std::uint64_t timestamp, std::uint64_t start);

class TalkLink final : public ForwardingLink {
public:
    static constexpr int kOpenVoice = 1005;
    static constexpr int kCloseVoice = 1006;

    static LinkTiming DefaultTiming() {
        LinkTiming timing;
        timing.heartbeatStartMs = 3000;
        return timing;
    }

    // `addresses` is the forwarding-address request with node id.
    TalkLink(PacketQueue& talkAudio, AddressProvider addresses, LinkTiming timing = DefaultTiming());
    ~TalkLink() override;

    // As the video link's Open, except that a missing reply also gives -4.
    int Open(const std::string& cameraId, const std::string& address, int port, const std::string& password);
    // 1005 opens the voice channel, 1006 closes it; on success talk-active becomes `value`.
    bool Command(int code, bool value);
    void Heartbeat();

    std::string TalkId() const;
    bool TalkActive() const { return talkActive_; }
    // Sends a complete talk audio message on the connection; the library's result.
    long SendTalkAudio(const std::uint8_t* message, std::size_t length);
    // Sent voice counts as a sign of life of the link.
    void MarkHeartbeatReply();

private:
    void OnControl(const control::ControlMessage& message) override;
    void OnMedia(const std::uint8_t* body, std::size_t length) override;
    void Supervise() override;
    int OpenIn(std::uint64_t session, const std::string& cameraId, const std::string& address, int port,
               const std::string& password);

    PacketQueue& talkAudio_;
    std::atomic<bool> talkActive_{false};
    // The stamp of the first voice since the voice channel was last opened; only the
    // connection's reader thread sets and reads it.
    std::atomic<std::uint64_t> talkStartTimestamp_{0};
    std::atomic<bool> talkStarted_{false};
    Waiter commandWaiter_;
    mutable std::mutex talkIdMutex_;
    std::string talkId_;
};

}  // namespace transport
