#include "media/camera.h"

#include "core/message_ids.h"
#include "media/camera_registry.h"
#include "media/memory_return.h"

namespace media {

CCamera::CCamera(CameraEnvironment environment)
    : environment_(std::move(environment)),
      video_(*this, environment_, *this),
      recording_(environment_, video_.Link()),
      listening_(video_.Link(), video_.AudioQueue()),
      talkback_(environment_) {}

CCamera::~CCamera() {
    // The parts end whatever a caller started without setting the camera's flags.
    Close();
}

int CCamera::Open(const std::string& cameraId, const std::string& address, int port, platform::WindowHandle window,
                  const std::string& password) {
    // A Close asked for after this Open, on any thread, wins over it.
    const std::uint64_t closes = video_.Closes();
    return sequence_.Run([&] {
        if (video_.IsOpen() || video_.Playing()) CloseSteps();  // a camera still playing is closed first
        return video_.Open(cameraId, address, port, window, password, closes);
    });
}

bool CCamera::Close() {
    video_.CountClose();
    sequence_.Run([this] { CloseSteps(); });
    return true;
}

void CCamera::EndStreamKeepingCell() {
    video_.CountClose();
    sequence_.Run([this] {
        const platform::WindowHandle window = video_.Window();
        CloseSteps();
        video_.SetWindow(window);
    });
}

void CCamera::CloseSteps() {
    const bool wasOpen = IsOpen();
    video_.SetWindow(0);
    if (std::optional<std::string> text = recording_.StopForClose()) {
        if (text->empty()) *text = CameraId();
        PostToMain(platform::Message(core::kRecordStopped, 0, 1, platform::MakePayload(std::move(*text))));
    }
    if (talkback_.TakeOn()) {
        talkback_.Stop();
        PostToMain(platform::Message(core::kTalkStateChanged, 0, 0, platform::MakePayload(CameraId())));
        talkback_.CloseLink();
    }
    if (listening_.TakeOn()) {
        listening_.Stop();
        PostToMain(platform::Message(core::kListenStopped, 0, 1, platform::MakePayload(CameraId())));
    }
    video_.Close();
    // The stream's decoder, pictures, surfaces and packets are freed now: hand the
    // memory back once the closes around this one are done.
    if (wasOpen) FreedMemoryReturn::Instance().Request();
}

bool CCamera::StartListen(AudioRefusal* why) {
    return sequence_.Run([&] {
        if (!video_.Playing()) return Refuse(why, AudioRefusal::kNotPlaying);
        return listening_.Start(video_.Window(), why);
    });
}

bool CCamera::StopListen() {
    sequence_.Run([this] { listening_.Stop(); });
    return true;
}

bool CCamera::CreateTalkLink() {
    sequence_.Run([this] { talkback_.CreateLink(); });
    return true;
}

bool CCamera::StartTalk(const std::string& cameraId, const std::string& address, int port,
                        const std::string& password, AudioRefusal* why) {
    return sequence_.Run([&] {
        if (!video_.Playing()) return Refuse(why, AudioRefusal::kNotPlaying);
        return talkback_.Start(cameraId, address, port, password, video_.Window(), why);
    });
}

bool CCamera::StopTalk() {
    return sequence_.Run([this] {
        if (!video_.Playing()) return false;
        talkback_.Stop();
        return true;
    });
}

bool CCamera::CloseTalkLink() {
    sequence_.Run([this] { talkback_.CloseLink(); });
    return true;
}

bool CCamera::StartRecord(const std::string& cameraId) {
    return sequence_.Run([&] { return recording_.Start(cameraId); });
}

bool CCamera::StopRecord() {
    sequence_.Run([this] { recording_.Stop(); });
    return true;
}

void CCamera::Notification(const std::string& text) {
    const int cell = cellIndex_;
    if (text == "stop" && !replayMode_) {
        // Handled on the task threads, in order with the cell's opens and closes (a
        // close here, on the link's thread, could race a new open of the cell).
        if (const std::string id = CameraId(); !id.empty())
            PostToTaskThread(platform::Message(core::kTaskLiveStreamStopped, static_cast<std::uintptr_t>(cell), 0,
                                               platform::MakePayload(id)));
        return;
    }
    if (text == "stop") {
        // The link's thread must not wait for the camera (an operation on the sequence
        // may be waiting for this very thread): the replay ends on the sequence, which
        // holds the camera until it is done, and may release it there. A camera already
        // being destroyed is closing anyway.
        // The stop belongs to the stream playing now: when the camera is closed or
        // given another recording before the end runs, it is stale.
        if (std::shared_ptr<CCamera> self = weak_from_this().lock())
            sequence_.Post([self = std::move(self), cell, closes = video_.Closes()] {
                if (self->video_.Closes() == closes) self->EndReplay(cell);
            });
        return;
    }
    platform::PostWindowMessage(notifyWindow_, platform::Message(core::kReplayPosition, 0, 0,
                                                                 platform::MakePayload(core::ReplayPositionNotice{cell, 0, text})));
}

void CCamera::EndReplay(int cell) {
    Close();
    // Only while the cell still holds this camera: it may have been moved or replaced.
    CameraRegistry::Instance().RemoveIf(cell, this);
    platform::PostWindowMessage(notifyWindow_, platform::Message(core::kReplayEnded, static_cast<std::uintptr_t>(cell), 0));
}

void CCamera::PostToTaskThread(platform::Message message) {
    if (replayMode_ && message.id == core::kTaskCloseCell) {
        // A recording that shows no picture for ten seconds ends as a replay (1048 to
        // the window it reports to), not as a failed live cell.
        Notification("stop");
        return;
    }
    if (environment_.postToTaskThread) environment_.postToTaskThread(std::move(message));
}

bool CCamera::PostToMain(platform::Message message) {
    return environment_.postToMainWindow && environment_.postToMainWindow(std::move(message));
}

void CCamera::OnConnectionLost() {
    if (const std::string id = CameraId(); !id.empty())
        PostToMain(platform::Message(core::kAppNotify, static_cast<std::uintptr_t>(CellIndex()), core::kReconnecting,
                                     platform::MakePayload(id)));
}

void CCamera::OnServerStop() {
    // The camera acts on itself: a look-up by id could find another camera.
    if (!video_.Link().CameraId().empty()) Notification("stop");
}

void CCamera::OnForwardingAddress(const std::string& cameraId, const std::string& ip, int port) {
    PostToMain(platform::Message(core::kForwardingAddressFetched, 0, 0,
                                 platform::MakePayload(core::ForwardingAddressNotice{cameraId, ip, port})));
}

}  // namespace media
