#pragma once
// What the benchmarks that run larkview-sim in its own process share: waiting for its
// state file to name the master port, and a configuration for the demo account.

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/app_config.h"
#include "platform/ini_file.h"

namespace bench_support {

// The master port the simulated service wrote to its state file, or 0 after `tenths`
// tenths of a second (a large tree takes a while to seed).
// Starts a program with its output and errors appended to `logPath`; its process id, or
// 0 when it could not be started.
inline pid_t SpawnLogged(std::vector<std::string> args, const std::string& logPath) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started ? pid : 0;
}

inline int WaitForMasterPort(const std::string& stateFile, int tenths = 200) {
    for (int i = 0; i < tenths; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int port = std::atoi(platform::ReadProfileString("Ports", "Master", "0", stateFile).c_str());
        if (port > 0) return port;
    }
    return 0;
}

inline core::AppConfig DemoAccountConfig(int masterPort) {
    core::AppConfig config;
    config.serverList = {"127.0.0.1"};
    config.serverPort = masterPort;
    config.serverPath = "/master";
    config.currentUserName = "demo";
    config.currentUserPassword = "larkview";
    return config;
}

}  // namespace bench_support
