#pragma once
// What the benchmarks that run larkview-sim in its own process share: waiting for its
// state file to name the master port, and a configuration for the demo account.

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/app_config.h"
#include "platform/ini_file.h"

namespace bench_support {

// The master port the simulated service wrote to its state file, or 0 after `tenths`
// tenths of a second (a large tree takes a while to seed).
inline int WaitForMasterPort(const std::string& stateFile, int tenths = 200) {
    for (int i = 0; i < tenths; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int port = std::atoi(platform::ReadProfileString("Ports", "Master", "0", stateFile).c_str());
        if (port > 0) return port;
    }
    return 0;
}

inline app::AppConfig DemoAccountConfig(int masterPort) {
    app::AppConfig config;
    config.serverList = {"127.0.0.1"};
    config.serverPort = masterPort;
    config.serverPath = "/master";
    config.currentUserName = "demo";
    config.currentUserPassword = "larkview";
    return config;
}

}  // namespace bench_support
