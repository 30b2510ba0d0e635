#include "app/export_command.h"

#include <unistd.h>

#include <cstdio>

#include "libs/rewind/rewind.h"

namespace app {
namespace {

struct ProgressLine {
    bool terminal = false;
    int lastPercent = -1;
};

int ShowProgress(long long done, long long total, void* user) {
    auto* line = static_cast<ProgressLine*>(user);
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (percent == line->lastPercent) return 0;
    line->lastPercent = percent;
    // On a terminal one line that counts up; elsewhere (a log) every tenth.
    if (line->terminal)
        std::fprintf(stderr, "\rexporting: %3d%% (%lld of %lld frames)", percent, done, total);
    else if (percent % 10 == 0)
        std::fprintf(stderr, "exporting: %d%% (%lld of %lld frames)\n", percent, done, total);
    return 0;
}

const char* Reason(int code) {
    switch (code) {
        case TARN_PB_ERR_OPEN: return "the recording cannot be opened or read";
        case TARN_PB_ERR_FORMAT: return "it is not a recording, or holds nothing playable";
        case TARN_PB_ERR_WRITE: return "the output cannot be written (disk full, or no permission)";
        case TARN_PB_ERR_RANGE: return "no frames in the asked time range";
        case TARN_PB_ERR_ARGUMENT: return "a file name is empty";
        default: return TARN_PB_GetErrDis(code);
    }
}

}  // namespace

int RunExportCommand(const std::string& recording, const std::string& output) {
    ProgressLine line;
    line.terminal = ::isatty(STDERR_FILENO) == 1;
    const int result = TARN_PB_Export(recording.c_str(), output.c_str(), 0, 0, &ShowProgress, &line);
    if (line.terminal && line.lastPercent >= 0) std::fputc('\n', stderr);
    if (result != TARN_PB_OK) {
        std::fprintf(stderr, "larkview: cannot export %s to %s: %s\n", recording.c_str(), output.c_str(),
                     Reason(result));
        return 1;
    }
    std::fprintf(stderr, "exported %s to %s\n", recording.c_str(), output.c_str());
    return 0;
}

}  // namespace app
