#pragma once
// Starts the simulated service in-process on free loopback ports with a fresh
// database, and points a configuration at it.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "control/control_client.h"
#include "core/app_config.h"
#include "sim/sim_service.h"
#include "support/temp_dir.h"

namespace testing_support {

class SimulatedService {
public:
    explicit SimulatedService(int cameras = 200, const std::function<void(sim::SimConfig&)>& adjust = {}) {
        sim::SimConfig config;
        config.databasePath = dir_.File("sim.db");
        config.cameraCount = cameras;
        if (adjust) adjust(config);
        service_ = std::make_unique<sim::SimService>(config);
        std::string error;
        EXPECT_EQ(service_->Start(&error), sim::SimService::kOk) << error;
    }
    sim::SimService& Service() { return *service_; }

    void PointAt(core::AppConfig& config, const std::string& user, const std::string& password) const {
        config.serverList = {"127.0.0.1"};
        config.serverPort = service_->MasterPort();
        config.serverPath = service_->Config().serverPath;
        config.currentUserName = user;
        config.currentUserPassword = password;
    }

    // A control client on `config` (pointed at the service as demo), connected and logged
    // in; null when that failed (the expectations say which step). `config` must outlive it.
    std::unique_ptr<control::ControlClient> LoggedInClient(core::AppConfig& config, bool quickKeepAlive) const {
        PointAt(config, "demo", "larkview");
        control::ControlClient::Timing timing;
        if (quickKeepAlive) timing.keepAliveWakeMs = 50;
        timing.requestTimeoutMs = 5000;
        auto client = std::make_unique<control::ControlClient>(timing, config);
        const int connected = client->Connect();
        EXPECT_EQ(connected, 0);
        if (connected != 0) return nullptr;
        const int login = client->Login();
        EXPECT_EQ(login, 1);
        return login == 1 ? std::move(client) : nullptr;
    }

private:
    TempDir dir_;
    std::unique_ptr<sim::SimService> service_;
};

}  // namespace testing_support
