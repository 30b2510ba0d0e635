// The library's exports: a table of playbacks by handle, and the export.
#include "libs/rewind/rewind.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "libs/rewind/mp4_export.h"
#include "libs/rewind/play_session.h"
#include "libs/rewind/recording_reader.h"
#include "vdec/vdec.h"

namespace {

// The playbacks by handle. Handles count up from 1 and are never given out twice.
class Playbacks {
public:
    ~Playbacks() {
        // The library goes away: no play thread may outlive it.
        std::map<long, std::shared_ptr<rewindlib::PlaySession>> left;
        {
            std::lock_guard lock(mutex_);
            left.swap(sessions_);
        }
        for (auto& [handle, session] : left) session->Stop();
    }

    long Add(std::shared_ptr<rewindlib::PlaySession> session, long handle) {
        std::lock_guard lock(mutex_);
        sessions_.emplace(handle, std::move(session));
        return handle;
    }
    long NextHandle() { return next_.fetch_add(1); }  // 64 bits: never wraps in practice
    std::shared_ptr<rewindlib::PlaySession> Find(long handle) {
        std::lock_guard lock(mutex_);
        const auto it = sessions_.find(handle);
        return it == sessions_.end() ? nullptr : it->second;
    }
    std::shared_ptr<rewindlib::PlaySession> Take(long handle) {
        std::lock_guard lock(mutex_);
        const auto it = sessions_.find(handle);
        if (it == sessions_.end()) return nullptr;
        auto session = std::move(it->second);
        sessions_.erase(it);
        return session;
    }

private:
    std::mutex mutex_;
    std::map<long, std::shared_ptr<rewindlib::PlaySession>> sessions_;
    std::atomic<long> next_{1};
};

Playbacks& Table() {
    static Playbacks table;
    return table;
}

}  // namespace

REWIND_API int TARN_PB_StartPlay(const TARN_PB_Display* display, const char* path, long* handle) {
    if (handle) *handle = 0;
    if (!display || !display->showPicture || !path || !*path || !handle) return TARN_PB_ERR_ARGUMENT;
    std::unique_ptr<rewindlib::ByteSource> source = rewindlib::OpenFileSource(path);
    if (!source) return TARN_PB_ERR_OPEN;
    rewindlib::RecordingIndex index = rewindlib::RecordingIndex::Build(*source);
    if (!index.Playable()) return TARN_PB_ERR_FORMAT;
    const unsigned long decoder = InitDeCode();
    if (decoder == 0) return TARN_PB_ERR_DECODER;
    Playbacks& table = Table();
    const long assigned = table.NextHandle();
    auto session = std::make_shared<rewindlib::PlaySession>(assigned, *display, std::move(source), std::move(index), decoder);
    // In the table before the thread runs, so that its first report names a live handle.
    table.Add(session, assigned);
    *handle = assigned;
    session->Start();
    return TARN_PB_OK;
}

REWIND_API const char* TARN_PB_GetErrDis(int code) {
    switch (code) {
        case TARN_PB_OK: return "成功";
        case TARN_PB_ERR_ARGUMENT: return "参数错误";
        case TARN_PB_ERR_OPEN: return "无法打开或读取录像文件";
        case TARN_PB_ERR_FORMAT: return "不是录像文件, 或文件中没有可播放的画面";
        case TARN_PB_ERR_DECODER: return "无法创建解码器";
        case TARN_PB_ERR_HANDLE: return "没有此播放";
        case TARN_PB_ERR_COMMAND: return "未知的播放命令";
        case TARN_PB_ERR_WRITE: return "无法写入导出文件(磁盘已满或没有写权限)";
        case TARN_PB_ERR_CANCELLED: return "导出已取消";
        case TARN_PB_ERR_RANGE: return "所选时间段内没有录像";
        default: return "未知错误";
    }
}

REWIND_API void TARN_PB_SetStatusCallBack(long handle, TARN_PB_StatusCallBack callback, void* user) {
    if (auto session = Table().Find(handle)) session->SetStatusCallBack(callback, user);
}

REWIND_API int TARN_PB_PlayCtrl(long handle, int command, long long value) {
    const auto session = Table().Find(handle);
    if (!session) return TARN_PB_ERR_HANDLE;
    switch (command) {
        case TARN_PB_CMD_RESUME: session->Resume(); return TARN_PB_OK;
        case TARN_PB_CMD_PAUSE: session->Pause(); return TARN_PB_OK;
        case TARN_PB_CMD_SEEK: session->Seek(value); return TARN_PB_OK;
        default: return TARN_PB_ERR_COMMAND;
    }
}

REWIND_API void TARN_PB_DelPlay(long handle) {
    if (auto session = Table().Take(handle)) session->Stop();
}

REWIND_API int TARN_PB_Export(const char* path, const char* outPath, long long fromTime, long long toTime,
                              TARN_PB_ExportProgress progress, void* user) {
    if (!path || !*path || !outPath || !*outPath) return TARN_PB_ERR_ARGUMENT;
    rewindlib::ExportRequest request;
    request.path = path;
    request.outPath = outPath;
    request.fromTime = fromTime;
    request.toTime = toTime;
    request.progress = progress;
    request.user = user;
    return rewindlib::ExportToMp4(request);
}
