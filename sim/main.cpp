// larkview-sim: the simulated service as a program. Prints the ports it serves and
// runs until SIGINT or SIGTERM.

#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "sim/sim_service.h"

int main(int argc, char** argv) {
    sim::SimConfig config;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::fputs(sim::SimUsage().c_str(), stdout);
            return 0;
        }
    }
    if (!sim::ParseSimArgs(argc, argv, config, error)) {
        std::fprintf(stderr, "larkview-sim: %s\n%s", error.c_str(), sim::SimUsage().c_str());
        return 2;
    }

    // Alarm pictures draw their text through Qt's font machinery, which needs a
    // (window-less) GUI application object.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    QGuiApplication gui(qtArgc, argv);

    // Block the stop signals before any thread starts, then wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::SimService service(config);
    int result = service.Start(&error);
    if (result != sim::SimService::kOk) {
        std::fprintf(stderr, "larkview-sim: start failed (%d): %s\n", result, error.c_str());
        return 1;
    }
    std::printf("larkview-sim: master %s:%d (path %s_<user>), proxy %s:%d, pictures %s\n",
                config.listenAddress.c_str(), service.MasterPort(), config.serverPath.c_str(),
                config.listenAddress.c_str(), service.ProxyPort(), service.UploadUrlBase().c_str());
    std::printf("[Ports]\nMaster=%d\nProxy=%d\nHttp=%d\n", service.MasterPort(), service.ProxyPort(), service.HttpPort());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    service.Stop();
    std::printf("larkview-sim: stopped\n");
    return 0;
}
