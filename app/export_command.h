#pragma once
// `larkview --export FILE.mvp OUT.mp4`: a local recording to an MP4 file from the
// command line, with progress on standard error.

#include <string>

namespace app {

// 0 when the file was written, 1 with a message on standard error otherwise.
int RunExportCommand(const std::string& recording, const std::string& output);

}  // namespace app
