#include "media/decoder_stage.h"

#include <ctime>

#include "transport/packet_queue.h"
#include "vdec/vdec.h"

namespace media {

std::size_t PictureBytes(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 / 2;
}

std::string ReplayTimeText(std::uint64_t timestampMs) {
    const std::uint64_t seconds = timestampMs / 1000;
    if (seconds > static_cast<std::uint64_t>(INT64_MAX)) return {};
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) return {};
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

namespace {

bool SizeAcceptable(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           static_cast<std::int64_t>(width) * height <= kMaxPicturePixels;
}

// Announced sizes come from the network as 32-bit words.
int SizeField(std::uint32_t value) { return value > static_cast<std::uint32_t>(kMaxPictureSide) ? -1 : static_cast<int>(value); }

}  // namespace

CDoDecoder::CDoDecoder(StageHost& host) : CDoHandle(host) {}

CDoDecoder::~CDoDecoder() {
    std::lock_guard lock(mutex_);
    if (handle_) ReleaseDeCode(handle_);
    handle_ = 0;
}

bool CDoDecoder::Init() {
    std::lock_guard lock(mutex_);
    if (handle_) ReleaseDeCode(handle_);
    handle_ = InitDeCode();
    cachedWidth_ = 0;
    cachedHeight_ = 0;
    return true;  // without a decoder nothing is shown and the ten-second rule closes the camera
}

bool CDoDecoder::Release() {
    std::lock_guard lock(mutex_);
    if (handle_) ReleaseDeCode(handle_);
    handle_ = 0;
    cachedWidth_ = 0;
    cachedHeight_ = 0;
    return true;
}

std::size_t CDoDecoder::BufferBytes() {
    std::lock_guard lock(mutex_);
    return bufferBytes_;
}

unsigned long CDoDecoder::Handle() {
    std::lock_guard lock(mutex_);
    return handle_;
}

void CDoDecoder::Reallocate(std::size_t bytes, StageFrame& frame) {
    // The frame may still point at the old buffer (the play thread repaints it when the
    // stream goes quiet): forget that picture before the buffer goes.
    if (frame.picture == buffer_.get()) {
        frame.picture = nullptr;
        frame.consumed = 0;
        frame.hasPicture = 0;
    }
    buffer_.reset();
    bufferBytes_ = 0;
    buffer_.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (buffer_) bufferBytes_ = bytes;
}

bool CDoDecoder::FitBuffer(int width, int height, StageFrame& frame) {
    if (!SizeAcceptable(width, height)) return false;
    if (width == cachedWidth_ && height == cachedHeight_ && buffer_) return true;
    cachedWidth_ = width;
    cachedHeight_ = height;
    Reallocate(PictureBytes(width, height), frame);
    return buffer_ != nullptr;
}

void CDoDecoder::HandToRecorder(const transport::MediaPacket& packet) {
    StageFrame record;
    record.codedData = const_cast<std::uint8_t*>(packet.Payload());
    record.codedLength = static_cast<int>(packet.PayloadLength());
    record.width = static_cast<int>(packet.info.WidthOrSampleRate());
    record.height = static_cast<int>(packet.info.HeightOrBits());
    record.frameRate = static_cast<int>(packet.info.RateOrChannels());
    record.keyFrame = packet.IsKeyFrame() ? 1 : 0;
    host_.RecorderHandOff(record);
}

bool CDoDecoder::Process(StageFrame& frame) {
    std::lock_guard lock(mutex_);
    if (host_.IsReplayMode() && host_.IsPaused()) return false;
    transport::PacketQueue& queue = host_.VideoQueue();
    transport::PacketQueue::Record packet = queue.Pop();
    if (!packet) return false;

    if (host_.IsRecording() && packet->PayloadLength() > 0) HandToRecorder(*packet);

    const int width = SizeField(packet->info.WidthOrSampleRate());
    const int height = SizeField(packet->info.HeightOrBits());
    const std::size_t codedLength = packet->PayloadLength();
    if (codedLength == 0 || codedLength > static_cast<std::size_t>(INT32_MAX) || !FitBuffer(width, height, frame)) {
        queue.Release(std::move(packet));
        return false;
    }

    frame.codedData = packet->buffer.data() + transport::kPacketHeaderSize;
    frame.codedLength = static_cast<int>(codedLength);
    int decodedWidth = 0;
    int decodedHeight = 0;
    // The bounded export: a picture larger than the announced size is never written
    // past the buffer; it reports its real size instead.
    const int result = DeCoderEx(handle_, reinterpret_cast<char*>(frame.codedData), frame.codedLength,
                                 reinterpret_cast<char*>(buffer_.get()), static_cast<int>(bufferBytes_), frame.consumed,
                                 decodedWidth, decodedHeight);
    if (result == kVdecBufferTooSmall && SizeAcceptable(decodedWidth, decodedHeight)) {
        // The stream's pictures are larger than it says: this one is lost, the next
        // one fits. The announced size stays cached so the buffer is not shrunk back.
        Reallocate(PictureBytes(decodedWidth, decodedHeight), frame);
    }
    if (result != 1) {
        queue.Release(std::move(packet));
        return false;
    }

    frame.hasPicture = 1;
    frame.picture = buffer_.get();
    // The decoded size, which is what the buffer holds even when the stream announced
    // another.
    frame.width = decodedWidth;
    frame.height = decodedHeight;
    frame.frameRate = static_cast<int>(packet->info.RateOrChannels());
    if (host_.IsReplayMode()) {
        const std::string text = ReplayTimeText(packet->Timestamp());
        if (!text.empty()) host_.ReportReplayTime(text);
    }
    queue.Release(std::move(packet));
    return true;
}

}  // namespace media
