#pragma once
// What the forwarding servers' links share: the store, the clip cache, each camera's
// voice, its stream settings (changed by command 9), where its pan-tilt-zoom head
// points, the fault switches and the counters. Every table has its own lock and is
// safe to use from any link's threads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/alaw_audio.h"
#include "sim/camera_picture.h"
#include "sim/service_store.h"
#include "sim/video_clip.h"

namespace sim {

// Open results of the forwarding servers ("result" of the reply to command 1).
enum OpenResult : int {
    kOpenAccepted = 1,
    kOpenRefused = 0,          // the default answer of the refuse-opens fault
    kOpenUnknownCamera = -1,   // no such camera or playback
    kOpenOutsideWindow = -2,   // the camera's viewing plan does not allow watching now
    kOpenCameraOffline = -5,   // the capture side is not connected
    kOpenCameraExpired = -9,
};

// A camera's stream as command 9 may change it; "recoder" is kept and reported as given.
struct StreamSettings {
    int width = 704;
    int height = 576;
    int frameRate = 25;
    int qp = 28;
    std::string recoder = "0";
    int keyFrameSeconds = 1;  // the encoder's own key frames; requests bring more
    // Live pictures show the time they are sent, as a real camera stamps its pictures
    // (each run of the clip length is made as it comes); otherwise a short clip loops.
    bool clockedLive = false;
};

class StreamSettingsTable {
public:
    // The camera's current settings, from `defaults` until command 9 changes them; the
    // generation grows with every change.
    StreamSettings Get(const std::string& cameraId, const CameraVideo& defaults, std::uint64_t* generation = nullptr);
    void Set(const std::string& cameraId, const StreamSettings& settings);

private:
    struct Entry {
        StreamSettings settings;
        std::uint64_t generation = 0;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

// Pan-tilt-zoom action codes of command 8.
enum PtzAction : int {
    kPtzUp = 1, kPtzDown = 2, kPtzLeft = 3, kPtzRight = 4,
    kPtzFocusFar = 5, kPtzFocusNear = 6, kPtzIrisOpen = 7, kPtzIrisClose = 8,
    kPtzZoomIn = 9, kPtzZoomOut = 10, kPtzStop = 15,
};

// Where each camera's head points. A move runs from command 8 until 15; the view is
// brought up to date whenever it is read, so every link of the camera sees one head.
class CameraHeads {
public:
    using Clock = std::chrono::steady_clock;
    struct State {
        SceneView view;
        bool moving = false;
    };
    // False for an action code the head does not know.
    bool Command(const std::string& cameraId, int action, int speed, Clock::time_point now);
    State Read(const std::string& cameraId, Clock::time_point now);
    // Every action code received for the camera, in order (tests check what a client sent).
    std::vector<std::pair<int, int>> Received(const std::string& cameraId);

private:
    struct Head {
        SceneView view;
        int action = 0;  // 0: still
        int speed = 3;
        Clock::time_point since;
    };
    static void Advance(Head& head, Clock::time_point now);
    std::mutex mutex_;
    std::map<std::string, Head> heads_;
    std::map<std::string, std::vector<std::pair<int, int>>> received_;  // action, speed
};

class VoiceLoops {
public:
    std::shared_ptr<const AudioLoop> Get(const std::string& cameraId);

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const AudioLoop>> loops_;
};

// Fault switches: for every link (empty camera id) or for one camera's links.
class FaultSwitches {
public:
    void SetStalled(const std::string& cameraId, bool on) { Set(stalled_, cameraId, on); }
    void SetMalformed(const std::string& cameraId, bool on) { Set(malformed_, cameraId, on); }
    bool Stalled(const std::string& cameraId) { return Has(stalled_, cameraId); }
    bool Malformed(const std::string& cameraId) { return Has(malformed_, cameraId); }
    void SetOpenRefusal(std::optional<int> result);
    std::optional<int> OpenRefusal();
    void Clear();

private:
    void Set(std::set<std::string>& set, const std::string& cameraId, bool on);
    bool Has(const std::set<std::string>& set, const std::string& cameraId);
    std::mutex mutex_;
    std::atomic<bool> any_{false};  // the per-frame check skips the lock while nothing is set
    std::set<std::string> stalled_, malformed_;
    std::optional<int> openRefusal_;
};

// Sequence marks of each camera's links, kept across its links (a reopen adds to them).
// Tests wait on them instead of sleeping: a command has taken effect once the stream
// counted it, and "nothing more was sent" is checked over a number of stream steps.
class LinkMarks {
public:
    struct Marks {
        std::uint64_t commands = 0;          // link commands handled (counted once in effect)
        std::uint64_t commandsStreamed = 0;  // `commands` as the latest stream step read it
        std::uint64_t streamSteps = 0;       // each step reads the commands and fault switches anew
        std::uint64_t videoFrames = 0;       // sent
        std::uint64_t audioPackets = 0;      // sent
    };
    void CommandHandled(const std::string& cameraId);
    // Called by a streaming thread under its session's lock, with the step's reading of
    // the session's state: what it sends from then on follows those commands.
    void StreamStep(const std::string& cameraId);
    void VideoSent(const std::string& cameraId);
    void AudioSent(const std::string& cameraId);
    Marks Get(const std::string& cameraId);

private:
    std::mutex mutex_;
    std::map<std::string, Marks> marks_;
};

struct ForwardStats {
    std::atomic<std::uint64_t> links{0};
    std::atomic<std::uint64_t> opens{0};
    std::atomic<std::uint64_t> refusedOpens{0};
    std::atomic<std::uint64_t> videoFrames{0};
    std::atomic<std::uint64_t> audioPackets{0};
    std::atomic<std::uint64_t> talkReceived{0};
    std::atomic<std::uint64_t> talkEchoed{0};
    std::atomic<std::uint64_t> commands{0};
    std::atomic<std::uint64_t> heartbeats{0};         // msgType 0 received
    std::atomic<std::uint64_t> heartbeatsAnswered{0};
    std::atomic<std::uint64_t> keyFrameRequests{0};   // 1007 received on a video link
    std::atomic<std::uint64_t> invalidMessages{0};
    std::atomic<std::uint64_t> malformedSent{0};
    std::atomic<std::uint64_t> stopsSent{0};
};

struct ForwardContext {
    ServiceStore& store;
    ClipCache& clips;
    VoiceLoops& voices;
    StreamSettingsTable& settings;
    CameraHeads& heads;
    FaultSwitches& faults;
    ForwardStats& stats;
    LinkMarks& marks;
    std::function<void(const std::string&)> log;  // may be empty
};

}  // namespace sim
