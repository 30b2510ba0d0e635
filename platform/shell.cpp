#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace platform {
namespace {

bool Spawn(const char* path, char* const argv[], bool searchPath) {
    pid_t pid = 0;
    int rc = searchPath ? posix_spawnp(&pid, path, nullptr, nullptr, argv, environ)
                        : posix_spawn(&pid, path, nullptr, nullptr, argv, environ);
    if (rc != 0) return false;
    // Reap the child when it ends so it never lingers as a zombie.
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
}

}  // namespace

bool StartProgram(const std::string& path) {
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    return Spawn(program.c_str(), argv, false);
}

bool OpenInBrowser(const std::string& url) {
    std::string opener = "xdg-open";
    std::string target = url;
    char* argv[] = {opener.data(), target.data(), nullptr};
    return Spawn(opener.c_str(), argv, true);
}

}  // namespace platform
