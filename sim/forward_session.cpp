#include "sim/forward_session.h"

#include <QImage>
#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>

namespace sim {
namespace {

constexpr auto kAudioInterval = std::chrono::milliseconds(kAudioPacketMs);
// A link that fell behind (a slow client, an encode) catches up on a few frames at
// most, then skips ahead instead of sending a burst.
constexpr auto kMaxLag = std::chrono::milliseconds(250);
constexpr const char* kPlaybackLabel = "回放";

std::optional<int> ParseInt(const std::string& text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::string NewTalkId() {
    static std::atomic<unsigned> counter{0};
    char id[kTalkIdFieldSize];
    std::snprintf(id, sizeof id, "TK%08u", ++counter % 100000000u);
    return id;
}

}  // namespace

std::int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ForwardSession::ForwardSession(ForwardContext& context, std::unique_ptr<LinkSink> sink)
    : context_(context), sink_(std::move(sink)) {
    ++context_.stats.links;
}

ForwardSession::~ForwardSession() { Stop(); }

void ForwardSession::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (streamer_.joinable() && streamer_.get_id() != std::this_thread::get_id()) streamer_.join();
}

ForwardSession::Kind ForwardSession::GetKind() const {
    std::lock_guard lock(mutex_);
    return kind_;
}

std::string ForwardSession::CameraId() const {
    std::lock_guard lock(mutex_);
    return camera_.cameraId;
}

void ForwardSession::Drop() { sink_->Close(); }

void ForwardSession::SendStop() {
    {
        std::lock_guard lock(mutex_);
        if (kind_ == Kind::kNone || serverStopped_) return;
        serverStopped_ = true;  // the streaming thread sends nothing more
    }
    wake_.notify_all();
    const std::string stop = LinkControlMessage(0, 7, {{"cmd", "stop"}});
    if (sink_->Send(stop.data(), stop.size())) ++context_.stats.stopsSent;
}

bool ForwardSession::SendBytes(const std::vector<std::uint8_t>& message) {
    return sink_->Send(message.data(), message.size());
}

void ForwardSession::OnMessage(const std::uint8_t* data, std::size_t length) {
    const LinkRequest request = ParseLinkRequest(data, length);
    switch (request.kind) {
        case LinkRequest::kControl:
            ++context_.stats.commands;
            HandleControl(request.control);
            context_.marks.CommandHandled(CameraId());  // after the command's change of state
            break;
        case LinkRequest::kTalkAudio:
            HandleTalkAudio(request);
            break;
        default:
            ++context_.stats.invalidMessages;
            break;
    }
}

bool ForwardSession::Reply(const control::ControlMessage& request, const Params& params) {
    if (context_.faults.Stalled(CameraId())) return false;  // a stalled link answers nothing
    const std::string reply = LinkControlMessage(request.id, request.msgType, params);
    return sink_->Send(reply.data(), reply.size());
}

void ForwardSession::HandleControl(const control::ControlMessage& message) {
    const Kind kind = GetKind();
    const bool video = kind == Kind::kLive || kind == Kind::kPlayback;
    switch (message.msgType) {
        case 0:
            ++context_.stats.heartbeats;
            if (Reply(message, {})) ++context_.stats.heartbeatsAnswered;
            return;
        case 1:
            HandleOpen(message);
            return;
        case 4:
            if (kind == Kind::kPlayback) {
                if (auto when = ParseDateTime(message.Param("jumptime"))) {
                    std::lock_guard lock(mutex_);
                    seekMs_ = static_cast<std::int64_t>(*when) * 1000;
                    woken_ = true;
                }
                wake_.notify_all();
            }
            return;
        case 5:
        case 6:
            if (kind == Kind::kPlayback) {
                std::lock_guard lock(mutex_);
                paused_ = message.msgType == 5;
                woken_ = true;
            }
            wake_.notify_all();
            return;
        case 8:
            if (kind == Kind::kLive) HandlePanTilt(message);
            return;
        case 9:
            Reply(message, {{"result", video && ApplyParameters(message.params) ? "1" : "0"}});
            return;
        case 10: {
            if (!video) {
                Reply(message, {{"result", "0"}});
                return;
            }
            const StreamSettings settings = context_.settings.Get(camera_.cameraId, camera_.video);
            Reply(message, {{"result", "1"},
                            {"width", std::to_string(settings.width)},
                            {"height", std::to_string(settings.height)},
                            {"qp", std::to_string(settings.qp)},
                            {"fr", std::to_string(settings.frameRate)},
                            {"recoder", settings.recoder}});
            return;
        }
        case 1003:
        case 1004:
            if (video) {
                std::lock_guard lock(mutex_);
                audioOn_ = message.msgType == 1003;
                audioAnnounce_ = audioOn_;
                woken_ = true;
            }
            wake_.notify_all();
            Reply(message, {{"result", video ? "1" : "0"}});
            return;
        case 1005:
        case 1006:
            if (kind == Kind::kTalk) {
                std::lock_guard lock(mutex_);
                voiceOpen_ = message.msgType == 1005;
            }
            Reply(message, {{"result", kind == Kind::kTalk ? "1" : "0"}});
            return;
        case 1007:
            if (video) {
                ++context_.stats.keyFrameRequests;
                std::lock_guard lock(mutex_);
                keyFrameRequested_ = true;
            }
            return;
        default:
            return;  // not a command of the links
    }
}

void ForwardSession::HandleOpen(const control::ControlMessage& message) {
    ++context_.stats.opens;
    // A second open on the same link starts over.
    if (streamer_.joinable()) {
        Stop();
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    const std::string sxtId = message.Param("sxtId");
    const std::string nodeId = message.Param("nodeId");
    int result = kOpenAccepted;
    Kind kind = Kind::kNone;
    std::optional<StreamingCamera> camera;
    std::optional<PlaybackSession> playback;
    if (auto refusal = context_.faults.OpenRefusal()) {
        result = *refusal;
    } else if (!sxtId.empty() || !nodeId.empty()) {
        const bool talk = sxtId.empty();
        camera = context_.store.StreamingCameraInfo(talk ? nodeId : sxtId);
        if (!camera && !talk && (playback = context_.store.FindPlaybackSession(sxtId))) {
            // Recordings play whether or not the camera is online now.
            camera = context_.store.StreamingCameraInfo(playback->cameraId);
            kind = Kind::kPlayback;
        } else if (camera) {
            kind = talk ? Kind::kTalk : Kind::kLive;
            if (!camera->inService)
                result = kOpenCameraExpired;
            else if (!camera->online)
                result = kOpenCameraOffline;
            else if (kind == Kind::kLive && !camera->inOpenWindow)
                result = kOpenOutsideWindow;
        }
        if (!camera) result = kOpenUnknownCamera;
    } else {
        result = kOpenUnknownCamera;
    }

    if (result != kOpenAccepted) {
        ++context_.stats.refusedOpens;
        {
            std::lock_guard lock(mutex_);
            kind_ = Kind::kNone;
            camera_ = {};
        }
        Reply(message, {{"result", std::to_string(result)}});
        if (context_.log) context_.log("link open " + sxtId + nodeId + " refused: " + std::to_string(result));
        return;
    }

    Params reply{{"result", "1"}};
    {
        std::lock_guard lock(mutex_);
        kind_ = kind;
        camera_ = *camera;
        audioOn_ = audioAnnounce_ = paused_ = keyFrameRequested_ = serverStopped_ = woken_ = false;
        voiceOpen_ = false;
        seekMs_.reset();
        if (kind == Kind::kTalk) reply["TalkId"] = talkId_ = NewTalkId();
    }
    recordings_.clear();
    if (playback) {
        // Recordings are streamed as media messages whatever the camera's own form:
        // only they carry 64-bit timestamps, and a recording's time needs them.
        camera_.video.mediaMessages = true;
        for (const auto& [start, end] : playback->recordings) {
            auto from = ParseDateTime(start), to = ParseDateTime(end);
            if (from && to && *to > *from)
                recordings_.push_back({static_cast<std::int64_t>(*from) * 1000, static_cast<std::int64_t>(*to) * 1000});
        }
    }
    Reply(message, reply);
    if (context_.log) context_.log("link open " + sxtId + nodeId + " accepted");
    if (kind == Kind::kLive || kind == Kind::kPlayback) streamer_ = std::thread([this] { Stream(); });
}

void ForwardSession::HandlePanTilt(const control::ControlMessage& message) {
    if (!camera_.video.panTiltZoom) return;  // a fixed camera has no head to move
    const auto action = ParseInt(message.Param("active"));
    if (!action) return;
    const int speed = ParseInt(message.Param("speed")).value_or(3);
    context_.heads.Command(camera_.cameraId, *action, speed, Clock::now());
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

bool ForwardSession::ApplyParameters(const Params& params) {
    StreamSettings settings = context_.settings.Get(camera_.cameraId, camera_.video);
    auto number = [&](const char* key, int& field) {
        auto it = params.find(key);
        if (it == params.end()) return true;
        auto value = ParseInt(it->second);
        if (!value) return false;
        field = *value;
        return true;
    };
    if (!number("width", settings.width) || !number("height", settings.height) || !number("fr", settings.frameRate) ||
        !number("qp", settings.qp))
        return false;
    if (!ValidVideoSize(settings.width, settings.height) || !ValidFrameRate(settings.frameRate) || settings.qp < 0 ||
        settings.qp > 51)
        return false;
    if (auto it = params.find("recoder"); it != params.end()) settings.recoder = it->second;
    context_.settings.Set(camera_.cameraId, settings);
    return true;
}

void ForwardSession::HandleTalkAudio(const LinkRequest& request) {
    ++context_.stats.talkReceived;
    {
        std::lock_guard lock(mutex_);
        if (kind_ != Kind::kTalk || !voiceOpen_ || request.talkId != talkId_) return;
    }
    if (context_.faults.Stalled(CameraId())) return;
    // The camera answers with what it heard: the same coded audio as a talk packet.
    std::vector<std::uint8_t> payload(request.audio, request.audio + request.audioLength);
    payload.insert(payload.end(), kAudioPadding, kAlawSilence);
    BuildMediaPacket(talkBuffer_, kTalkAudioPacket, talkSequence_++, request.timestamp, payload.data(), payload.size());
    if (SendBytes(talkBuffer_)) ++context_.stats.talkEchoed;
}

bool ForwardSession::PlaybackSeek(std::int64_t whenMs) {
    for (std::size_t i = 0; i < recordings_.size(); ++i) {
        if (whenMs >= recordings_[i].endMs) continue;
        recordingIndex_ = i;
        const std::int64_t startMs = std::max(whenMs, recordings_[i].startMs);
        // Whole seconds: every recorded second begins with a key frame.
        playSecond_ = startMs / 1000;
        playFrame_ = 0;
        audioPositionMs_ = playSecond_ * 1000;
        // Timestamps may go back: new descriptions carry the new start, and the
        // pictures start again on a key frame.
        described_ = false;
        clip_.reset();
        clipLookKey_.clear();
        std::lock_guard lock(mutex_);
        audioAnnounce_ = audioOn_;
        return true;
    }
    return false;
}

void ForwardSession::Stream() {
    StreamLoop();
    if (nextClip_.valid()) nextClip_.wait();  // the clip being made ahead uses the context
}

void ForwardSession::StreamLoop() {
    const bool playback = kind_ == Kind::kPlayback;
    const std::string cameraId = camera_.cameraId;
    if (playback) ended_ = recordings_.empty() || !PlaybackSeek(recordings_.front().startMs);
    auto frameInterval = std::chrono::milliseconds(1000 / std::max(1, camera_.video.frameRate));
    Clock::time_point nextVideo = Clock::now(), nextAudio = nextVideo;
    bool forceKey = false;
    for (;;) {
        bool paused, audioOn, announce, stopped;
        std::optional<std::int64_t> seek;
        {
            std::unique_lock lock(mutex_);
            const Clock::time_point wakeAt = audioOn_ ? std::min(nextVideo, nextAudio) : nextVideo;
            wake_.wait_until(lock, wakeAt, [this] { return stopping_ || woken_; });
            if (stopping_) return;
            woken_ = false;
            paused = paused_;
            audioOn = audioOn_;
            announce = audioAnnounce_;
            stopped = serverStopped_;
            seek = std::exchange(seekMs_, std::nullopt);
            forceKey = std::exchange(keyFrameRequested_, false) || forceKey;
            context_.marks.StreamStep(cameraId);
        }
        const Clock::time_point now = Clock::now();
        if (playback && seek && !stopped) {
            if (!PlaybackSeek(*seek)) ended_ = true;
            announce = audioOn;
        }
        if (playback && ended_ && !stopped) {
            SendStop();  // the end of the recording
            continue;
        }
        if (stopped || context_.faults.Stalled(cameraId) || (playback && paused)) {
            nextVideo = now + frameInterval;
            nextAudio = now + kAudioInterval;
            continue;
        }

        if (now >= nextVideo) {
            std::int64_t timestamp = WallClockMs();
            int rate = 1;
            const StreamSettings current = context_.settings.Get(cameraId, camera_.video);
            const bool clocked = !playback && current.clockedLive;
            if (clocked) {
                // The picture of the second the wall clock is in: a new second starts
                // on its key frame, so a stream late by a frame catches up there. Key
                // frame requests wait for it (one comes every second).
                rate = std::max(1, current.frameRate);
                const std::int64_t wallSecond = timestamp / 1000;
                if (playFrame_ >= rate) ++playSecond_, playFrame_ = 0;
                if (wallSecond > playSecond_) playSecond_ = wallSecond, playFrame_ = 0;
                forceKey = false;
            }
            if (playback) {
                rate = std::max(1, current.frameRate);
                // A key frame asked for: the next recorded second starts with one.
                if (forceKey && playFrame_ != 0) ++playSecond_, playFrame_ = 0;
                if (playFrame_ >= rate) ++playSecond_, playFrame_ = 0;  // the rate went down
                forceKey = false;
                timestamp = playSecond_ * 1000 + static_cast<std::int64_t>(playFrame_) * 1000 / rate;
                if (timestamp >= recordings_[recordingIndex_].endMs) {
                    ended_ = true;  // the recording is over: msgType 7 on the next pass
                    continue;
                }
            }
            if (context_.faults.Malformed(cameraId)) SendMalformed(timestamp);
            if (forceKey) {
                if (clip_) clipIndex_ = clip_->NextKeyFrame(clipIndex_);
                liveEncoder_.reset();  // a new encoder starts with a key frame
                forceKey = false;
            }
            SendVideoFrame(timestamp);
            if (playback && ++playFrame_ >= rate) ++playSecond_, playFrame_ = 0;
            if (clocked) ++playFrame_;
            frameInterval = std::chrono::milliseconds(1000 / std::max(1, describedRate_));
            nextVideo += frameInterval;
            const Clock::time_point sent = Clock::now();
            if (sent - nextVideo > kMaxLag) nextVideo = sent + frameInterval;
        }
        if (audioOn && now >= nextAudio) {
            const std::int64_t timestamp = playback ? audioPositionMs_ : WallClockMs();
            if (announce) {
                BuildAudioDescription(buffer_, 1, kAudioSampleRate, 16, static_cast<std::uint64_t>(timestamp));
                SendBytes(buffer_);
                std::lock_guard lock(mutex_);
                audioAnnounce_ = false;
            }
            SendAudioPacket(timestamp);
            audioPositionMs_ += kAudioPacketMs;
            nextAudio += kAudioInterval;
            if (now - nextAudio > kMaxLag) nextAudio = now + kAudioInterval;
        }
    }
}

const EncodedFrame* ForwardSession::RecordedFrame(ClipLook look, int frameRate) {
    // Clips cover whole runs of clipSeconds counted from 1970, so every recorded second
    // has one clip, whoever plays it and wherever a seek landed.
    const std::int64_t seconds = context_.clips.ClipSeconds();
    look.settings.keyFrameSeconds = 1;  // every recorded second can be sought to
    const std::int64_t clipStart = playSecond_ - ((playSecond_ % seconds) + seconds) % seconds;
    look.clockStart = static_cast<std::time_t>(clipStart);
    std::string key = look.Key();
    if (!clip_ || key != clipLookKey_) {
        clip_ = context_.clips.Get(look);
        clipLookKey_ = std::move(key);
        if (!clip_ || clip_->frames.empty()) {
            clip_.reset();
            clipLookKey_.clear();
            return nullptr;
        }
        // Made ahead, so that playing on into it does not wait for the encoder.
        if (!nextClip_.valid() || nextClip_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            ClipLook next = look;
            next.clockStart = static_cast<std::time_t>(clipStart + seconds);
            ClipCache& clips = context_.clips;
            nextClip_ = std::async(std::launch::async, [&clips, next] { clips.Get(next); });
        }
    }
    const std::size_t index = static_cast<std::size_t>((playSecond_ - clipStart) * frameRate + playFrame_);
    if (index >= clip_->frames.size()) return nullptr;
    return &clip_->frames[index];
}

const EncodedFrame* ForwardSession::NextFrame(const StreamSettings& settings, const CameraHeads::State& head) {
    const EncoderSettings encoder{settings.width, settings.height, settings.frameRate, settings.qp,
                                  settings.keyFrameSeconds};
    const bool playback = kind_ == Kind::kPlayback;
    if (head.moving) {
        // The view changes with every picture: draw and encode it now, with the real time.
        const EncoderSettings* current = liveEncoder_ ? &liveEncoder_->Settings() : nullptr;
        if (!current || current->width != encoder.width || current->height != encoder.height ||
            current->frameRate != encoder.frameRate || current->qp != encoder.qp) {
            liveEncoder_ = H264Encoder::Open(encoder);
            livePicture_ = std::make_unique<QImage>(encoder.width, encoder.height, QImage::Format_RGB32);
            liveFrames_ = 0;
        }
        if (!liveEncoder_) return nullptr;
        PictureText text{camera_.cameraId, camera_.name, FormatDateTime(std::time(nullptr)), {},
                         static_cast<int>(liveFrames_), encoder.frameRate * 4};
        DrawCameraPicture(*livePicture_, text, head.view);
        if (!liveEncoder_->Encode(*livePicture_, liveFrames_ == 0, liveFrame_)) return nullptr;
        ++liveFrames_;
        clip_.reset();  // the head stopped somewhere new: the clip of that view comes next
        clipLookKey_.clear();
        return &liveFrame_;
    }
    liveEncoder_.reset();

    ClipLook look{camera_.cameraId, camera_.name, playback ? kPlaybackLabel : "", encoder, head.view, 0};
    if (playback || settings.clockedLive) return RecordedFrame(std::move(look), encoder.frameRate);
    std::string key = look.Key();
    if (!clip_ || key != clipLookKey_ || clipIndex_ >= clip_->frames.size()) {
        // A new look, or the loop came round: ask the cache again, which renews clips
        // that have grown old.
        clip_ = context_.clips.Get(look);
        clipLookKey_ = std::move(key);
        clipIndex_ = 0;
        if (!clip_ || clip_->frames.empty()) {
            clip_.reset();
            return nullptr;
        }
    }
    return &clip_->frames[clipIndex_++];
}

bool ForwardSession::SendVideoFrame(std::int64_t timestamp) {
    const std::string& cameraId = camera_.cameraId;
    const StreamSettings settings = context_.settings.Get(cameraId, camera_.video);
    const CameraHeads::State head =
        kind_ == Kind::kLive ? context_.heads.Read(cameraId, Clock::now()) : CameraHeads::State{};
    const EncodedFrame* frame = NextFrame(settings, head);
    if (frame == nullptr) return false;
    const bool sizeChanged = settings.width != describedWidth_ || settings.height != describedHeight_ ||
                             settings.frameRate != describedRate_;
    describedWidth_ = settings.width;
    describedHeight_ = settings.height;
    describedRate_ = settings.frameRate;
    const auto stamp = static_cast<std::uint64_t>(timestamp);
    if (camera_.video.mediaMessages) {
        if (!described_ || sizeChanged) {
            BuildVideoDescription(buffer_, settings.frameRate, settings.width, settings.height, stamp);
            SendBytes(buffer_);
            described_ = true;
        }
        BuildMediaPacket(buffer_, kVideoPacket, videoSequence_, stamp, frame->data.data(), frame->data.size());
    } else {
        // The compact header has 32 bits of timestamp: the low half.
        BuildCompactFrame(buffer_, static_cast<std::uint32_t>(stamp), videoSequence_, settings.width, settings.height,
                          settings.frameRate, frame->data.data(), frame->data.size());
    }
    videoSequence_ = static_cast<std::uint16_t>((videoSequence_ + 1) % kSequenceModulus);
    if (!SendBytes(buffer_)) return false;
    ++context_.stats.videoFrames;
    context_.marks.VideoSent(cameraId);
    return true;
}

void ForwardSession::SendAudioPacket(std::int64_t timestamp) {
    if (!voice_) voice_ = context_.voices.Get(camera_.cameraId);
    if (!voice_ || voice_->packets.empty()) return;
    const std::vector<std::uint8_t>& packet = voice_->packets[voiceIndex_++ % voice_->packets.size()];
    BuildMediaPacket(buffer_, kAudioPacket, audioSequence_++, static_cast<std::uint64_t>(timestamp), packet.data(),
                     packet.size());
    if (!SendBytes(buffer_)) return;
    ++context_.stats.audioPackets;
    context_.marks.AudioSent(camera_.cameraId);
}

void ForwardSession::SendMalformed(std::int64_t timestamp) {
    static const std::uint8_t kSlice[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00};
    const auto stamp = static_cast<std::uint32_t>(timestamp);
    std::vector<std::uint8_t> message;
    switch (malformedKind_++ % 8) {
        case 0:  // compact frame whose first header word is not 0
            BuildCompactFrame(message, stamp, 0, 352, 288, 25, kSlice, sizeof kSlice);
            message[1] = 1;
            break;
        case 1:  // compact frame announcing more bytes than follow
            BuildCompactFrame(message, stamp, 0, 352, 288, 25, kSlice, sizeof kSlice);
            message[9] = 0xFF;
            break;
        case 2:  // a media message of one byte
            message = {kLinkMedia};
            break;
        case 3:  // a video packet older than its stream
            BuildMediaPacket(message, kVideoPacket, 0, 1, kSlice, sizeof kSlice);
            break;
        case 4:  // an unknown message type
            message = {9, 1, 2, 3};
            break;
        case 5: {  // JSON cut short
            const std::string cut = std::string(1, '\0') + "{\"id\":1,\"msgType\":";
            message.assign(cut.begin(), cut.end());
            break;
        }
        case 6:  // an unknown media sub-type
            BuildMediaPacket(message, 9, 0, static_cast<std::uint64_t>(timestamp), kSlice, sizeof kSlice);
            break;
        default: {  // a control message of the wrong realm: msgType 7 would stop the camera
            const std::string wrongRealm = control::EncodeEnvelope(0, 7, 1, Json::Value(Json::objectValue), false);
            message.assign(wrongRealm.begin(), wrongRealm.end());
            break;
        }
    }
    if (SendBytes(message)) ++context_.stats.malformedSent;
}

}  // namespace sim
