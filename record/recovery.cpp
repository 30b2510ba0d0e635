#include "record/recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>

#include "core/log_file.h"
#include "record/frame_record.h"

namespace record {
namespace {

std::mutex claimsMutex;
std::set<std::string>& Claims() {
    static std::set<std::string> claims;
    return claims;
}

std::string Key(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(folder, error);
    if (error) path = std::filesystem::path(folder).lexically_normal();
    return path.string();
}

struct Scan {
    std::uint64_t soundBytes = 0;
    int frames = 0;
    FrameHeader first;
    FrameHeader last;
};

// Walks the records header by header; the frames themselves are not read.
Scan ScanFile(int fd, std::uint64_t fileSize) {
    Scan scan;
    std::uint8_t header[kFrameHeaderSize];
    while (fileSize - scan.soundBytes >= kFrameHeaderSize) {
        if (::pread(fd, header, sizeof header, static_cast<off_t>(scan.soundBytes)) != sizeof header) break;
        FrameHeader frame;
        if (!DecodeFrameHeader(header, frame) || frame.recordLength > fileSize - scan.soundBytes) break;
        if (scan.frames++ == 0) scan.first = frame;
        scan.last = frame;
        scan.soundBytes += frame.recordLength;
    }
    return scan;
}

Recovery RecoverLocked(const std::string& folder, std::string* finishedName) {
    const std::string path = folder + "/" + kWorkingFileName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return Recovery::kNothing;
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return Recovery::kFailed;
    }
    const Scan scan = ScanFile(fd, static_cast<std::uint64_t>(info.st_size));
    // A torn last record (or anything after the last sound one) goes.
    if (scan.soundBytes < static_cast<std::uint64_t>(info.st_size))
        (void)::ftruncate(fd, static_cast<off_t>(scan.soundBytes));
    ::close(fd);
    if (scan.frames == 0) return Recovery::kTooShort;

    std::optional<std::int64_t> start, end;
    if (auto t = UnpackLocalTime(scan.first.packedTime)) start = SecondsOfLocalTime(*t);
    if (auto t = UnpackLocalTime(scan.last.packedTime)) end = SecondsOfLocalTime(*t);
    if (!start || !end || *end < *start) {
        // No usable clock in the records: the file's own time and the writer's ticks.
        end = static_cast<std::int64_t>(info.st_mtime);
        start = *end - static_cast<std::int64_t>((scan.last.tick - scan.first.tick) / 1000);
    }
    if (*end - *start <= 9) return Recovery::kTooShort;
    const std::string name = RenameFinished(path, folder, *start, *end);
    if (name.empty()) return Recovery::kFailed;
    core::LogWrite("recovered recording %s/%s\n", folder.c_str(), name.c_str());
    if (finishedName) *finishedName = name;
    return Recovery::kKept;
}

}  // namespace

Recovery RecoverWorkingFile(const std::string& folder, std::string* finishedName) {
    std::lock_guard lock(claimsMutex);
    if (Claims().count(Key(folder))) return Recovery::kBusy;
    return RecoverLocked(folder, finishedName);
}

int RecoverAll(const std::string& root) {
    int kept = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_symlink(typeError)) continue;  // a link may lead out of the record root
        if (it->is_directory(typeError) && RecoverWorkingFile(it->path().string()) == Recovery::kKept) ++kept;
    }
    return kept;
}

FolderClaim::~FolderClaim() { Release(); }

void FolderClaim::RecoverAndClaim(const std::string& folder) {
    Release();
    std::lock_guard lock(claimsMutex);
    const std::string key = Key(folder);
    if (!Claims().count(key)) RecoverLocked(folder, nullptr);
    Claims().insert(key);
    folder_ = key;
}

void FolderClaim::Release() {
    if (folder_.empty()) return;
    std::lock_guard lock(claimsMutex);
    Claims().erase(folder_);
    folder_.clear();
}

}  // namespace record
