#include "record/recorder.h"

#include <algorithm>
#include <filesystem>

#include "core/log_file.h"
#include "core/md5.h"
#include "platform/paths.h"

namespace record {
namespace {

bool IsPlainFolderName(const std::string& name) {
    if (name.empty() || name.size() > kMaxPlainFolderName || name.front() == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '-' || c == '_' ||
               c == '.';
    });
}

}  // namespace

std::string CameraFolderName(const std::string& cameraId) {
    if (IsPlainFolderName(cameraId)) return cameraId;
    return "id@" + core::Md5Hex(cameraId);
}

std::string RecordingFolder(const std::string& root, const std::string& cameraId) {
    const std::string name = CameraFolderName(cameraId);
    if (name != cameraId) core::LogWrite("camera id is not a plain folder name; recording under %s", name.c_str());
    return platform::JoinPath(root, name);
}

CRecord::CRecord(RecordClock clock, WriteMode mode) : clock_(std::move(clock)), mode_(mode) {}

CRecord::~CRecord() { Stop(); }

bool CRecord::Start(const std::string& folder, const std::string& name, int minutes) {
    std::lock_guard lock(mutex_);
    name_ = name;
    limitSeconds_ = static_cast<std::int64_t>(minutes) * 60;
    if (folder.empty() || !platform::CreateDirectories(folder)) return false;
    folder_ = folder;
    startSeconds_ = clock_.nowSeconds();
    if (writer_) writer_->Finish();
    writer_.reset();
    recording_ = true;
    waitingForKeyFrame_ = true;
    return true;
}

bool CRecord::Write(const std::uint8_t* data, std::size_t length, bool keyFrame, int width, int height,
                    int frameRate) {
    std::lock_guard lock(mutex_);
    if (!recording_) return true;
    if (writer_ && clock_.nowSeconds() > writer_->StartSeconds() + limitSeconds_) {
        writer_->Finish();
        writer_.reset();
        waitingForKeyFrame_ = true;
    }
    if (!writer_) {
        std::error_code error;
        if (!std::filesystem::is_directory(folder_, error)) return true;
        writer_ = std::make_unique<RecordWriter>(folder_, clock_, mode_);
        writer_->Begin();
    }
    // A new file may start on the very key frame that ended the last one.
    if (waitingForKeyFrame_ && keyFrame) waitingForKeyFrame_ = false;
    if (waitingForKeyFrame_) return true;
    writer_->Append(data, length, keyFrame, width, height, frameRate);
    return true;
}

void CRecord::Stop() {
    std::lock_guard lock(mutex_);
    recording_ = false;
    if (writer_) writer_->Finish();
    writer_.reset();
}

void CRecord::SetFileMinutes(int minutes) {
    std::lock_guard lock(mutex_);
    limitSeconds_ = static_cast<std::int64_t>(minutes) * 60;
}

int CRecord::FileMinutes() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(limitSeconds_ / 60);
}

bool CRecord::IsRecording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

bool CRecord::IsWaitingForKeyFrame() const {
    std::lock_guard lock(mutex_);
    return recording_ && waitingForKeyFrame_;
}

void CRecord::ClearKeyFrameWait() {
    std::lock_guard lock(mutex_);
    waitingForKeyFrame_ = false;
}

std::string CRecord::Folder() const {
    std::lock_guard lock(mutex_);
    return folder_;
}

}  // namespace record
