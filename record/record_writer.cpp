#include "record/record_writer.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"
#include "platform/tick.h"
#include "record/frame_record.h"
#include "record/recovery.h"

namespace record {

RecordClock RecordClock::System() {
    RecordClock clock;
    clock.nowSeconds = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    clock.tickMs = [] { return platform::TickCount(); };
    return clock;
}

namespace {

bool WriteAll(int fd, const std::uint8_t* header, const std::uint8_t* data, std::size_t length) {
    iovec parts[2] = {{const_cast<std::uint8_t*>(header), kFrameHeaderSize},
                      {const_cast<std::uint8_t*>(data), length}};
    iovec* next = parts;
    int count = length > 0 ? 2 : 1;
    while (count > 0) {
        const ssize_t written = ::writev(fd, next, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

}  // namespace

RecordWriter::RecordWriter(std::string folder, RecordClock clock, WriteMode mode)
    : folder_(std::move(folder)),
      workingPath_(folder_ + "/" + kWorkingFileName),
      clock_(std::move(clock)),
      mode_(mode) {}

RecordWriter::~RecordWriter() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (claim_) claim_->Release();
}

bool RecordWriter::Begin() {
    std::lock_guard lock(mutex_);
    platform::CreateDirectories(folder_);
    startSeconds_ = clock_.nowSeconds();
    const auto local = LocalTime(startSeconds_);
    startDay_ = local ? local->tm_mday : 0;
    claim_ = std::make_unique<FolderClaim>();
    claim_->RecoverAndClaim(folder_);
    const int fd = ::open(workingPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (mode_ == WriteMode::kKeepOpen ? O_APPEND : 0), 0644);
    if (fd < 0) return false;
    created_ = true;
    if (mode_ == WriteMode::kKeepOpen) fd_ = fd;
    else ::close(fd);
    return true;
}

bool RecordWriter::AppendTo(int fd, const std::uint8_t* header, const std::uint8_t* data, std::size_t length) {
    if (WriteAll(fd, header, data, length)) {
        fileBytes_ += kFrameHeaderSize + length;
        return true;
    }
    // A record written in part would hide every later one from a reader: cut it off.
    (void)::ftruncate(fd, static_cast<off_t>(fileBytes_));
    return false;
}

bool RecordWriter::Append(const std::uint8_t* data, std::size_t length, bool keyFrame, int width, int height,
                          int frameRate) {
    std::lock_guard lock(mutex_);
    if (!created_ || finished_ || length > kMaxFrameBytes) return false;
    FrameHeader header;
    header.tick = clock_.tickMs();
    header.recordLength = static_cast<std::uint32_t>(kFrameHeaderSize + length);
    const auto local = LocalTime(clock_.nowSeconds());
    header.packedTime = PackLocalTime(local ? &*local : nullptr);
    header.width = static_cast<std::uint32_t>(width);
    header.height = static_cast<std::uint32_t>(height);
    header.frameRate = static_cast<std::uint32_t>(frameRate);
    header.keyFrame = keyFrame ? 1 : 0;
    std::uint8_t bytes[kFrameHeaderSize];
    EncodeFrameHeader(header, bytes);

    if (mode_ == WriteMode::kKeepOpen) return fd_ >= 0 && AppendTo(fd_, bytes, data, length);
    const int fd = ::open(workingPath_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = AppendTo(fd, bytes, data, length);
    ::close(fd);
    return ok;
}

std::string RecordWriter::Finish() {
    std::lock_guard lock(mutex_);
    if (finished_) return {};
    finished_ = true;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    std::string name;
    const std::int64_t end = clock_.nowSeconds();
    if (created_ && end - startSeconds_ > 9) name = RenameFinished(workingPath_, folder_, startSeconds_, end);
    if (claim_) claim_->Release();
    return name;
}

}  // namespace record
