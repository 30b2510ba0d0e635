// Fuzzes the decode stage with video packets as a forwarding server could send them:
// announced sizes that are wrong, zero or huge, and any coded bytes. The stage must
// drop or decode, never write past its picture buffer, and hand over pictures that
// fit the buffer they point into.
//
// Input: packets of [flags 1][width 2][height 2][length 2][length bytes], little-endian;
// flags bit 0 recording, bit 1 replay, bit 2 paused.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "media/decoder_stage.h"
#include "transport/packet_queue.h"

namespace {

class Host final : public media::StageHost {
public:
    transport::PacketQueue& VideoQueue() override { return queue; }
    bool IsRecording() const override { return recording; }
    bool IsReplayMode() const override { return replay; }
    bool IsPaused() const override { return paused; }
    platform::WindowHandle DisplayWindow() const override { return 1; }
    int CellIndex() const override { return 0; }
    std::string CameraId() const override { return "1"; }
    void RecorderHandOff(const media::StageFrame& frame) override {
        if (frame.codedData == nullptr || frame.codedLength <= 0) std::abort();
        volatile std::uint8_t touch = frame.codedData[frame.codedLength - 1];
        (void)touch;
    }
    void ReportReplayTime(const std::string& text) override {
        if (text.empty()) std::abort();
    }
    void PostToTaskThread(platform::Message) override {}

    transport::PacketQueue queue;
    bool recording = false, replay = false, paused = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Host host;
    media::CDoDecoder decoder(host);
    decoder.Init();
    media::StageFrame frame;
    std::size_t at = 0;
    while (at + 7 <= size) {
        const std::uint8_t flags = data[at];
        const std::uint32_t width = data[at + 1] | (data[at + 2] << 8);
        const std::uint32_t height = data[at + 3] | (data[at + 4] << 8);
        std::size_t length = data[at + 5] | (data[at + 6] << 8);
        at += 7;
        length = std::min(length, size - at);
        host.recording = flags & 1;
        host.replay = flags & 2;
        host.paused = flags & 4;
        auto record = host.queue.TakeFree();
        record->info = transport::StreamInfo::Video(25, width, height, 0);
        const std::uint8_t header[12] = {3, 0, 0, 0, 0x10, 0x27};
        record->Store(header, sizeof header, data + at, length);
        host.queue.Push(std::move(record), true);
        at += length;
        if (decoder.Process(frame)) {
            const std::size_t needed = media::PictureBytes(frame.width, frame.height);
            if (frame.picture == nullptr || needed == 0 || needed > decoder.BufferBytes()) std::abort();
            volatile std::uint8_t last = frame.picture[needed - 1];
            (void)last;
        }
    }
    decoder.Release();
    return 0;
}
