#include "app/command_line.h"

#include "larkview_version.h"
#include "platform/paths.h"

namespace app {
namespace {

std::string ShownFolder(const std::string& folder) { return folder.empty() ? "(none: no home folder)" : folder; }

std::string HelpText(const core::UserFolders& folders, const std::string& programDirectory) {
    std::string text =
        "Usage: larkview [--help | --version | --export FILE.mvp OUT.mp4]\n"
        "\n"
        "Larkview, the desktop client of the video-surveillance service: log in, watch live\n"
        "cameras, listen, talk back, record, play back. The service's address and every other\n"
        "setting come from the settings files below; the program takes no other options.\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help and exit\n"
        "  -V, --version  show the version and exit\n"
        "  --export FILE.mvp OUT.mp4\n"
        "                 copy a local recording into an MP4 file that any player opens (the\n"
        "                 recorded H.264 frames with their times, not re-encoded), then exit\n"
        "\n";
    text += folders.installed ? "Files (this is an installed copy):\n" : "Files (this is a portable copy):\n";
    text += "  settings  " + ShownFolder(folders.settings) +
            "\n            appConfig.ini (service address), appSavePath.ini (recording), appUser.ini (saved users)\n";
    text += "  logs      " + ShownFolder(folders.state) + "\n            appLogs/Manage.log, the crash dump Larkview.dmp\n";
    text += "  cache     " + ShownFolder(folders.cache) + "\n            alarmPictures/\n";
    text += "  program   " + programDirectory + "\n            skinFiles/, waiting.bmp, libvdec.so and the default ini files\n";
    text +=
        "  A copy whose program folder can be written to keeps its files there. An installed\n"
        "  copy (program folder read-only, or marked by a file \"larkview-installed\") keeps them\n"
        "  in $XDG_CONFIG_HOME/larkview, $XDG_STATE_HOME/larkview and $XDG_CACHE_HOME/larkview\n"
        "  (~/.config, ~/.local/state, ~/.cache when unset), starting from the default ini files.\n"
        "\n"
        "Environment:\n"
        "  LARKVIEW_DISPLAY=auto|gpu|software  how video is drawn (before appConfig.ini [Display] VideoOutput)\n"
        "  LARKVIEW_NO_GPU=1                   draw video in software, as LARKVIEW_DISPLAY=software\n"
        "  LARKVIEW_TRACE=1                    diagnostic trace on standard error\n"
        "  LARKVIEW_WINDOW_PICTURE=FILE        (tests) a picture of the main window, written to FILE once\n"
        "                                      the first cell has shown a second of a camera's pictures\n"
        "  HOME, XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_CACHE_HOME  where an installed copy keeps its files\n"
        "  XDG_VIDEOS_DIR                      recordings go to its Larkview folder unless the settings name one\n"
        "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM  the display, as for every Qt program\n"
        "\n"
        "SIGTERM (a session's end) and SIGINT (Ctrl+C) quit as the exit dialog does.\n";
    return text;
}

// An answer instead of a start.
CommandLineAnswer Reply(int exitCode, std::string out, std::string err) {
    CommandLineAnswer answer;
    answer.run = false;
    answer.exitCode = exitCode;
    answer.out = std::move(out);
    answer.err = std::move(err);
    return answer;
}

}  // namespace

CommandLineAnswer ReadCommandLine(const std::vector<std::string>& arguments, const core::UserFolders& folders,
                                  const std::string& programDirectory) {
    bool help = false, version = false;
    CommandLineAnswer exporting;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--export") {
            if (i + 2 >= arguments.size()) {
                return Reply(2, "",
                        "larkview: --export needs a recording and an output file\n"
                        "Try 'larkview --help' for more information.\n");
            }
            exporting.run = false;
            exporting.exportRecording = true;
            exporting.exportFrom = arguments[i + 1];
            exporting.exportTo = arguments[i + 2];
            i += 2;
        } else if (argument == "--help" || argument == "-h") {
            help = true;
        } else if (argument == "--version" || argument == "-V") {
            version = true;
        } else {
            // Any other word is a mistake: starting the program anyway would hide it.
            const bool option = !argument.empty() && argument[0] == '-';
            return Reply(2, "",
                    "larkview: " + std::string(option ? "unknown option" : "unexpected argument") + " '" + argument +
                        "'\nTry 'larkview --help' for more information.\n");
        }
    }
    if (help) return Reply(0, HelpText(folders, programDirectory), "");
    if (version) return Reply(0, std::string("Larkview ") + LARKVIEW_VERSION_TEXT + "\n", "");
    if (exporting.exportRecording) return exporting;
    return {};
}

}  // namespace app
