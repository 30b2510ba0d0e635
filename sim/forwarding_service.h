#pragma once
// The simulated service's forwarding servers: one Tether server per configured port,
// each link a ForwardSession. The servers share the camera clips, voices, settings and
// heads, and the fault switches that tests use to meet a misbehaving server.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/forward_context.h"
#include "sim/forward_session.h"

namespace sim {

struct ForwardingOptions {
    std::vector<ForwardServer> servers;  // one server each, on loopback; port 0 = any free port
    ClipCache::Options clips;
    std::function<void(const std::string&)> log;
};

class ForwardingService {
public:
    struct Stats {
        std::uint64_t links = 0, activeLinks = 0, opens = 0, refusedOpens = 0, videoFrames = 0, audioPackets = 0,
                      talkReceived = 0, talkEchoed = 0, commands = 0, heartbeats = 0, heartbeatsAnswered = 0,
                      keyFrameRequests = 0, invalidMessages = 0, malformedSent = 0, stopsSent = 0;
        ClipCache::Stats clips;
    };

    ForwardingService(ServiceStore& store, ForwardingOptions options);
    ~ForwardingService();
    ForwardingService(const ForwardingService&) = delete;
    ForwardingService& operator=(const ForwardingService&) = delete;

    // Listens on every port; false with `error` when one cannot be bound.
    bool Start(std::string& error);
    void Stop();
    // The bound addresses, in the order of the options.
    std::vector<ForwardServer> Servers() const;

    // Fault injection. An empty camera id means every link.
    // Ends the links' connections; returns how many.
    int DropLinks(const std::string& cameraId = {});
    // A stalled link sends nothing, neither media nor replies, until set back.
    void SetStalled(bool on, const std::string& cameraId = {});
    // Every video frame is preceded by one malformed message (rotating through the
    // kinds a client must drop).
    void SetMalformedFrames(bool on, const std::string& cameraId = {});
    // Every open is answered with `result` (e.g. 0) until reset with nothing.
    void SetOpenRefusal(std::optional<int> result);
    // New connections are accepted and closed at once.
    void SetRefuseConnections(bool refuse);
    // Sends msgType 7 "stop" on the camera's links (or a playback's); returns how many.
    int StopCamera(const std::string& cameraId);
    void ClearFaults();
    // The camera's encoder makes a key frame only every `seconds` (1 to 60) by itself,
    // so that one brought by a key-frame request stands out.
    bool SetKeyFrameSeconds(const std::string& cameraId, int seconds);
    // The camera's live pictures show the time each is sent instead of a looped clip's
    // clock (tests that tell recorded seconds apart; it encodes all the time).
    bool SetClockedLive(const std::string& cameraId, bool on);

    Stats GetStats() const;
    int ActiveLinks(const std::string& cameraId = {}) const;
    // The cameras that have at least one open link, each once.
    std::vector<std::string> LinkedCameras() const;
    ServiceStore& Store() { return store_; }
    // Where the camera's head points now, and the pan-tilt-zoom commands it received.
    CameraHeads::State Head(const std::string& cameraId) { return heads_.Read(cameraId, CameraHeads::Clock::now()); }
    std::vector<std::pair<int, int>> PanTiltCommands(const std::string& cameraId) { return heads_.Received(cameraId); }
    // The camera's sequence marks (commands handled and streamed, stream steps, what was sent).
    LinkMarks::Marks Marks(const std::string& cameraId) { return marks_.Get(cameraId); }

private:
    class Server;
    std::vector<std::shared_ptr<ForwardSession>> Sessions(const std::string& cameraId) const;

    ServiceStore& store_;
    const ForwardingOptions options_;
    ClipCache clips_;
    VoiceLoops voices_;
    StreamSettingsTable settings_;
    CameraHeads heads_;
    FaultSwitches faults_;
    ForwardStats stats_;
    LinkMarks marks_;
    ForwardContext context_;
    std::vector<std::unique_ptr<Server>> servers_;
};

}  // namespace sim
