#pragma once
// The link of one open camera to its forwarding server: video and audio towards the
// client, commands towards the camera, and the ten-second reconnect rule.

#include "transport/forwarding_link.h"
#include "transport/packet_queue.h"

namespace transport {

class VideoLink final : public ForwardingLink {
public:
    VideoLink(PacketQueue& video, PacketQueue& audio, AddressProvider addresses, LinkTiming timing = {});
    ~VideoLink() override;

    // 1 opened; the server's other result; -7 missing id, address or port; -4 no
    // connection; -8 no reply.
    int Open(const std::string& cameraId, const std::string& address, int port, const std::string& password);

    void Heartbeat();
    void Pause();
    void Resume();
    void Seek(const std::string& jumpTime);
    void PanTilt(int actionCode);
    void KeyFrameRequest();
    bool AudioOn();
    void AudioOff();
    bool SetParameters(const std::map<std::string, std::string>& parameters);
    bool GetParameters(std::map<std::string, std::string>& parameters);

    StreamInfo VideoInfo() const;
    StreamInfo AudioInfo() const;
    bool AudioEnabled() const { return audioEnabled_; }

private:
    void OnControl(const control::ControlMessage& message) override;
    void OnCompactVideo(const std::uint8_t* body, std::size_t length) override;
    void OnMedia(const std::uint8_t* body, std::size_t length) override;
    void Supervise() override;
    int OpenIn(std::uint64_t session, const std::string& cameraId, const std::string& address, int port,
               const std::string& password);
    void Enqueue(PacketQueue& queue, const StreamInfo& info, const std::uint8_t* header, std::size_t headerLength,
                 const std::uint8_t* payload, std::size_t payloadLength, bool video);

    PacketQueue& video_;
    PacketQueue& audio_;
    std::atomic<bool> audioEnabled_{false};
    Waiter queryWaiter_;
    Waiter parameterWaiter_;
    mutable std::mutex infoMutex_;
    StreamInfo videoInfo_;
    StreamInfo audioInfo_;
};

}  // namespace transport
