#include "transport/video_link.h"

#include <cstdlib>

#include "core/log_file.h"
#include "platform/tick.h"
#include "platform/numbers.h"

namespace transport {
namespace {
constexpr std::size_t kCompactHeaderSize = 28;
constexpr std::size_t kStreamInfoSize = 24;
}  // namespace

VideoLink::VideoLink(PacketQueue& video, PacketQueue& audio, AddressProvider addresses, LinkTiming timing)
    : ForwardingLink(std::move(addresses), timing), video_(video), audio_(audio) {
    StartSupervision();
}

VideoLink::~VideoLink() {
    StopSupervision();
    Close();
}

int VideoLink::Open(const std::string& cameraId, const std::string& address, int port, const std::string& password) {
    return OpenIn(BeginSession(), cameraId, address, port, password);
}

int VideoLink::OpenIn(std::uint64_t session, const std::string& cameraId, const std::string& address, int port,
                      const std::string& password) {
    return ConnectAndOpen(session, cameraId, address, port, password,
                          {{"sxtId", cameraId}, {"pwd", password}, {"major", "1"}, {"minor", "0"}}, -8);
}

void VideoLink::Heartbeat() { SendCommand(0, true); }
void VideoLink::Pause() { SendCommand(5, true); }
void VideoLink::Resume() { SendCommand(6, true); }
void VideoLink::Seek(const std::string& jumpTime) { SendCommand(4, true, {{"jumptime", jumpTime}}); }
void VideoLink::PanTilt(int actionCode) {
    SendCommand(8, true, {{"active", std::to_string(actionCode)}, {"speed", "3"}});
}
void VideoLink::KeyFrameRequest() { SendCommand(1007, true); }

bool VideoLink::AudioOn() {
    std::map<std::string, std::string> reply;
    if (!SendAndWait(queryWaiter_, 1003, false, {}, reply)) return false;
    audioEnabled_ = reply["result"] == "1";
    return audioEnabled_;
}

void VideoLink::AudioOff() {
    audioEnabled_ = false;
    SendCommand(1004, false);
}

bool VideoLink::SetParameters(const std::map<std::string, std::string>& parameters) {
    std::map<std::string, std::string> reply;
    return SendAndWait(parameterWaiter_, 9, false, parameters, reply);
}

bool VideoLink::GetParameters(std::map<std::string, std::string>& parameters) {
    return SendAndWait(parameterWaiter_, 10, false, {}, parameters);
}

StreamInfo VideoLink::VideoInfo() const {
    std::lock_guard lock(infoMutex_);
    return videoInfo_;
}

StreamInfo VideoLink::AudioInfo() const {
    std::lock_guard lock(infoMutex_);
    return audioInfo_;
}

void VideoLink::OnControl(const control::ControlMessage& message) {
    switch (message.msgType) {
        case 7:
            if (observer_) observer_->OnServerStop();
            break;
        case 9:
            core::LogWrite("设置参数！\n");
            parameterWaiter_.Complete({});
            break;
        case 10:
            core::LogWrite("获取参数！\n");
            parameterWaiter_.Complete(message.params);
            break;
        case 1003:
        case 1004:
            queryWaiter_.Complete({{"result", message.Param("result")}});
            break;
        default:
            break;
    }
}

void VideoLink::OnCompactVideo(const std::uint8_t* body, std::size_t length) {
    MarkData();
    if (length < kCompactHeaderSize || ReadLe32(body) != 0) return;
    const std::uint32_t timestamp = ReadLe32(body + 4);
    const std::uint32_t codedLength = ReadLe32(body + 8);
    if (codedLength > length - kCompactHeaderSize) return;
    const std::uint32_t size = ReadLe32(body + 12);
    const std::uint32_t width = size & 0xFFF;
    const std::uint32_t height = (size >> 12) & 0xFFF;
    const std::uint16_t sequence = static_cast<std::uint16_t>((ReadLe32(body + 16) >> 14) % 65535);
    const std::uint32_t frameRate = body[24] & 0x1F;

    StreamInfo info;
    {
        std::lock_guard lock(infoMutex_);
        if (videoInfo_.RateOrChannels() != frameRate || videoInfo_.WidthOrSampleRate() != width ||
            videoInfo_.HeightOrBits() != height)
            videoInfo_ = StreamInfo::Video(frameRate, width, height, timestamp);
        info = videoInfo_;
    }
    std::uint8_t header[kPacketHeaderSize] = {kVideoPacket, 0, static_cast<std::uint8_t>(sequence),
                                              static_cast<std::uint8_t>(sequence >> 8)};
    for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<std::uint8_t>(timestamp >> (8 * b));
    Enqueue(video_, info, header, sizeof header, body + kCompactHeaderSize, codedLength, true);
}

void VideoLink::OnMedia(const std::uint8_t* body, std::size_t length) {
    MarkData();
    if (length < 2) return;
    const std::uint16_t subType = ReadLe16(body);
    if (subType == kVideoDescription || subType == kAudioDescription) {
        if (length < kStreamInfoSize) return;
        std::lock_guard lock(infoMutex_);
        (subType == kVideoDescription ? videoInfo_ : audioInfo_) = StreamInfo::FromBytes(body);
        return;
    }
    if (subType != kAudioPacket && subType != kVideoPacket) return;
    if (subType == kAudioPacket && !audioEnabled_) return;
    if (length < kPacketHeaderSize) return;
    const bool video = subType == kVideoPacket;
    StreamInfo info = video ? VideoInfo() : AudioInfo();
    if (ReadLe64(body + 4) < info.StartTimestamp()) return;  // older than its stream
    Enqueue(video ? video_ : audio_, info, body, length, nullptr, 0, video);
}

void VideoLink::Enqueue(PacketQueue& queue, const StreamInfo& info, const std::uint8_t* header,
                        std::size_t headerLength, const std::uint8_t* payload, std::size_t payloadLength,
                        bool video) {
    PacketQueue::Record record = queue.TakeFree();
    record->info = info;
    record->Store(header, headerLength, payload, payloadLength);
    queue.Push(std::move(record), video);
}

void VideoLink::Supervise() {
    const std::uint32_t sinceReply = platform::TickSince(lastHeartbeatReply_);
    const std::uint32_t sinceData = platform::TickSince(lastData_);
    if (sinceReply <= timing_.silenceMs && sinceData <= timing_.silenceMs) {
        if (platform::TickSince(supervision_.StartTick()) > timing_.heartbeatStartMs) Heartbeat();
        return;
    }
    // The address request may take seconds; a Close meanwhile ends this session and
    // the reopen with it.
    const std::uint64_t session = Session();
    const Identity identity = GetIdentity();
    const control::TransportAddress address =
        addresses_ ? addresses_(identity.cameraId) : control::TransportAddress{};
    if (!InSession(session, [&] { lastHeartbeatReply_ = platform::TickCount(); })) return;
    if (sinceData > timing_.silenceMs)
        core::LogWrite("Cam: %s 10秒  IP:%s  Port: %s\n", identity.cameraId.c_str(), address.forwardingIp.c_str(),
                      address.forwardingPort.c_str());
    const int port = platform::ParsePort(address.forwardingPort);
    if (!identity.cameraId.empty() && !address.forwardingIp.empty() && port > 0 && observer_)
        observer_->OnForwardingAddress(identity.cameraId, address.forwardingIp, port);
    if ((address.status == 1 || address.status == -3) && !address.forwardingIp.empty()) {
        const int result = OpenIn(session, identity.cameraId, address.forwardingIp, port, identity.password);
        if (result == 0) {
            if (!InSession(session, [&] {
                    connected_ = false;
                    reopenPending_ = false;
                    opened_ = true;
                    MarkData();
                }))
                return;
            core::LogWrite("Camera(%s) Reconnect(%s:%s) failed.nStatus %d.\n", identity.cameraId.c_str(),
                          address.forwardingIp.c_str(), address.forwardingPort.c_str(), address.status);
            return;
        }
    }
    if (!InSession(session, [&] {
            opened_ = true;
            // A reopen that could not connect cleared connected_; the supervision must
            // still try again after the next silence.
            reopenPending_ = !connected_;
            MarkData();
        }))
        return;
    core::LogWrite("Camera(%s) Reconnect(%s:%s) succ.nStatus %d.\n", identity.cameraId.c_str(),
                  address.forwardingIp.c_str(), address.forwardingPort.c_str(), address.status);
}

}  // namespace transport
