#pragma once
// Starts the simulated service in-process on free loopback ports with a fresh
// database, and points a configuration at it.

#include <gtest/gtest.h>

#include <functional>

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

private:
    TempDir dir_;
    std::unique_ptr<sim::SimService> service_;
};

}  // namespace testing_support
