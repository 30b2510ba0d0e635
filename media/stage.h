#pragma once
// The stage chain of a live camera: decode, overlay, display. Every stage derives from
// CDoHandle and works on the camera's one StageFrame, which the play thread passes
// down the chain for every packet.

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/message.h"
#include "platform/window_handles.h"

namespace transport {
class PacketQueue;
}

namespace media {

// The frame record that travels down the chain; one per camera, reused.
struct StageFrame {
    std::uint8_t* codedData = nullptr;  // the packet's access unit (set by the decode stage)
    int codedLength = 0;
    std::uint8_t* picture = nullptr;    // planar 4:2:0, Y then V then U; owned by the decode stage
    int consumed = 0;                   // bytes the decoder consumed for this picture
    int width = 0;
    int height = 0;
    int frameRate = 0;
    std::uint8_t keyFrame = 0;          // set only in frames handed to the recorder
    std::uint8_t hasPicture = 0;        // 1 for a decoded picture, 0 for the waiting picture

    void Reset() { *this = StageFrame{}; }
};

// The camera as its stages see it.
class StageHost {
public:
    virtual transport::PacketQueue& VideoQueue() = 0;
    virtual bool IsRecording() const = 0;
    virtual bool IsReplayMode() const = 0;
    virtual bool IsPaused() const = 0;
    virtual platform::WindowHandle DisplayWindow() const = 0;
    virtual int CellIndex() const = 0;
    // The camera shown (empty while closed).
    virtual std::string CameraId() const = 0;
    // Every video packet while recording, in the recorder's frame layout.
    virtual void RecorderHandOff(const StageFrame& frame) = 0;
    // The replay position of the picture just decoded, as local time text.
    virtual void ReportReplayTime(const std::string& text) = 0;
    // A thread message for the application's task threads (the ten-second rule).
    virtual void PostToTaskThread(platform::Message message) = 0;

protected:
    ~StageHost() = default;
};

// The base of every stage. Each override takes the stage's own mutex for its whole
// body, and calls no other override while it holds it.
class CDoHandle {
public:
    explicit CDoHandle(StageHost& host) : host_(host) {}
    virtual ~CDoHandle() = default;
    CDoHandle(const CDoHandle&) = delete;
    CDoHandle& operator=(const CDoHandle&) = delete;

    // Prepares for a new stream; false means the stage cannot run.
    virtual bool Init() = 0;
    // Frees what Init or processing acquired.
    virtual bool Release() = 0;
    // Handles one frame; false ends this frame's pass through the chain.
    virtual bool Process(StageFrame& frame) = 0;

protected:
    StageHost& host_;
    std::mutex mutex_;
};

}  // namespace media
