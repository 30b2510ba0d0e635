#pragma once
// The program's few options. Everything else comes from its settings files, so the
// options only answer questions (the version, how this copy is used) or do one job
// without windows (export a recording).

#include <string>
#include <vector>

#include "core/user_folders.h"

namespace app {

struct CommandLineAnswer {
    bool run = true;   // no option asked for an answer: start the program
    int exitCode = 0;  // when !run: 0 for --help/--version, 2 for a wrong argument
    std::string out;   // for standard output
    std::string err;   // for standard error
    // --export FILE OUT: a local recording to an MP4 file, without windows or login.
    bool exportRecording = false;
    std::string exportFrom;
    std::string exportTo;
};

// `arguments` without the program name. `folders` is where this copy keeps its files,
// as start-up would choose them, for --help to show.
CommandLineAnswer ReadCommandLine(const std::vector<std::string>& arguments, const core::UserFolders& folders,
                                  const std::string& programDirectory);

}  // namespace app
