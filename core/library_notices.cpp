#include "core/library_notices.h"

#include <mutex>
#include <set>

#include "core/log_file.h"

namespace core {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

NoticeRoute RouteLibraryNotice(std::string_view category, std::string_view text) {
    // Qt Multimedia's PulseAudio engine: no sound server (a headless or remote
    // session), its streams failing for the same reason.
    if (StartsWith(category, "qt.multimedia.pulseaudio") || StartsWith(text, "PulseAudioService: ") ||
        StartsWith(text, "QAudioSink: pa_") || StartsWith(text, "QAudioSource: pa_"))
        return NoticeRoute::kLogOnce;
    // Qt made its own private runtime folder; a folder with wrong permissions is
    // another message and stays on the terminal.
    if (StartsWith(text, "QStandardPaths: XDG_RUNTIME_DIR not set")) return NoticeRoute::kLogOnce;
    return NoticeRoute::kStandardError;
}

bool LogNoticeOnce(const std::string& text) {
    static std::mutex mutex;
    static std::set<std::string> seen;
    {
        std::lock_guard lock(mutex);
        if (seen.size() >= kMaxNotices || !seen.insert(text).second) return false;
    }
    LogWrite("library: %s", text.c_str());
    return true;
}

}  // namespace core
