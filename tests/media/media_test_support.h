#pragma once
// Helpers of the media tests: H.264 clips made with the ffmpeg tool, video packets
// and compact frames built from them, a stand-in camera for single stages, and an
// event pump for tests that run Qt windows.

#include "support/pump_events.h"
#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "media/stage.h"
#include "support/annexb.h"
#include "support/h264_streams.h"
#include "support/temp_dir.h"
#include "transport/packet_queue.h"

namespace media_testing {

// A clip as access units, with FFmpeg's own decode of it (planes Y, U, V per picture).
struct Clip {
    int width = 0;
    int height = 0;
    std::vector<std::string> units;
    std::string reference;  // yuv420p pictures back to back

    std::size_t PictureBytes() const { return static_cast<std::size_t>(width) * height * 3 / 2; }
    const std::uint8_t* ReferencePicture(std::size_t index) const {
        return reinterpret_cast<const std::uint8_t*>(reference.data()) + index * PictureBytes();
    }
    std::size_t ReferenceCount() const { return reference.size() / PictureBytes(); }
};

// Made once per size and frame count for the whole test program.
inline const Clip& ClipOf(int width, int height, int frames = 25) {
    static std::mutex mutex;
    static std::map<std::string, Clip> clips;
    static testing_support::TempDir dir;
    std::lock_guard lock(mutex);
    const std::string key = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(frames);
    auto it = clips.find(key);
    if (it != clips.end()) return it->second;
    testing_support::StreamRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.extraOptions = "-g 50";
    const std::string stream = dir.File(key + ".h264");
    const std::string raw = dir.File(key + ".yuv");
    Clip clip;
    clip.width = width;
    clip.height = height;
    if (testing_support::EncodeStream(recipe, stream) && testing_support::DecodeReference(stream, "yuv420p", raw)) {
        clip.units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(stream));
        clip.reference = testing_support::ReadWholeFile(raw);
    }
    return clips.emplace(key, std::move(clip)).first->second;
}

inline void PutLe32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) out[offset + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

// A video packet as the link stores it: the 12-byte header, then the access unit,
// tagged with a stream description announcing width x height at `fps`.
inline void PushVideo(transport::PacketQueue& queue, const std::string& unit, std::uint32_t width, std::uint32_t height,
                      std::uint32_t fps = 25, std::uint64_t timestamp = 0) {
    auto record = queue.TakeFree();
    record->info = transport::StreamInfo::Video(fps, width, height, 0);
    std::uint8_t header[12] = {3, 0};
    for (int b = 0; b < 8; ++b) header[4 + b] = static_cast<std::uint8_t>(timestamp >> (8 * b));
    record->Store(header, sizeof header, reinterpret_cast<const std::uint8_t*>(unit.data()), unit.size());
    queue.Push(std::move(record), true);
}

// A compact video frame link message: type 1, the 28-byte header, the coded frame.
inline std::string CompactFrame(std::uint32_t width, std::uint32_t height, std::uint32_t fps, std::uint32_t timestamp,
                                const std::string& coded) {
    std::vector<std::uint8_t> message(1 + 28);
    message[0] = 1;
    PutLe32(message, 5, timestamp);
    PutLe32(message, 9, static_cast<std::uint32_t>(coded.size()));
    PutLe32(message, 13, (width & 0xFFF) | ((height & 0xFFF) << 12));
    message[25] = static_cast<std::uint8_t>(fps & 0x1F);
    std::string wire(message.begin(), message.end());
    return wire + coded;
}

// A camera as one stage sees it.
class FakeHost final : public media::StageHost {
public:
    transport::PacketQueue& VideoQueue() override { return queue; }
    bool IsRecording() const override { return recording; }
    bool IsReplayMode() const override { return replay; }
    bool IsPaused() const override { return paused; }
    platform::WindowHandle DisplayWindow() const override { return window; }
    int CellIndex() const override { return cell; }
    std::string CameraId() const override { return cameraId; }
    void RecorderHandOff(const media::StageFrame& frame) override {
        std::lock_guard lock(mutex);
        recorded.push_back({std::string(reinterpret_cast<const char*>(frame.codedData), frame.codedLength), frame.keyFrame,
                            frame.width, frame.height, frame.frameRate});
    }
    void ReportReplayTime(const std::string& text) override {
        std::lock_guard lock(mutex);
        times.push_back(text);
    }
    void PostToTaskThread(platform::Message message) override {
        std::lock_guard lock(mutex);
        tasks.push_back({message.id, message.wParam, message.lParam});
    }

    struct Recorded {
        std::string data;
        int keyFrame;
        int width, height, frameRate;
    };
    struct Task {
        std::uint32_t id;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    std::vector<Task> Tasks() {
        std::lock_guard lock(mutex);
        return tasks;
    }

    transport::PacketQueue queue;
    std::atomic<bool> recording{false};
    std::atomic<bool> replay{false};
    std::atomic<bool> paused{false};
    std::atomic<platform::WindowHandle> window{0};
    int cell = 3;
    std::string cameraId = "1001";
    std::mutex mutex;
    std::vector<Recorded> recorded;
    std::vector<std::string> times;
    std::vector<Task> tasks;
};

// Runs Qt events (and so the video windows' messages) until `done` or the time-out.
using testing_support::PumpUntil;

// The exact BT.601 studio-range equations, in floating point.
inline void ExactBgr(int y, int u, int v, double out[3]) {
    const double l = 1.164 * (y - 16);
    out[0] = std::clamp(l + 2.018 * (u - 128), 0.0, 255.0);
    out[1] = std::clamp(l - 0.391 * (u - 128) - 0.813 * (v - 128), 0.0, 255.0);
    out[2] = std::clamp(l + 1.596 * (v - 128), 0.0, 255.0);
}

// Largest difference between a 32-bit surface (blue, green, red, x at `pitch`) and the
// exact conversion of an I420 picture (Y, U, V planes), over every pixel.
inline int MaxBgrDifference(const std::uint8_t* bgrx, int pitch, const std::uint8_t* i420, int width, int height) {
    const std::uint8_t* y = i420;
    const std::uint8_t* u = y + width * height;
    const std::uint8_t* v = u + (width / 2) * (height / 2);
    int worst = 0;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            double exact[3];
            const int c = (row / 2) * (width / 2) + x / 2;
            ExactBgr(y[row * width + x], u[c], v[c], exact);
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, static_cast<int>(std::lround(std::abs(exact[k] - bgrx[row * pitch + x * 4 + k]))));
        }
    return worst;
}

}  // namespace media_testing
