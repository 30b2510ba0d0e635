#pragma once
// Settings of the simulated service, from the [Sim] section of an ini file and from
// --key=value flags (flags win). Only loopback addresses may be served.

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "sim/service_store.h"

namespace sim {

struct SimConfig {
    std::string listenAddress = "127.0.0.1";
    int masterPort = 0;  // 0: any free port
    int proxyPort = 0;
    std::string databasePath = "larkview-sim.db";
    int cameraCount = 200;  // used when the database is seeded
    std::size_t listChunkRows = 500;
    std::string uploadUrlBase;  // empty: http://<listen>:<master port>/upload/
    std::string serverPath = "/master";
    std::string updateUrl;      // empty: http://<listen>:<master port>/update/
    std::string stateFile;      // empty: none written
    // The forwarding servers to serve, port 0 = any free port; the bound addresses
    // are stored for the address replies. Empty: as many as the database holds, on
    // free ports of the listen address.
    std::vector<ForwardServer> forwardServers;
    int clipSeconds = 4;                        // length of each camera's looped clip
    std::optional<CameraVideo> cameraVideo;     // size and rate for every camera
    std::size_t clipCacheMegabytes = 256;
    int alarmPushIntervalMs = 0;                // 0: no periodic alarms
    int faultIntervalMs = 0;                    // 0: no fault rounds (see SimService::RunFaultRound)
    bool scrambleByDefault = false;
    bool pushNoticesOnLogin = false;
    bool verbose = false;
    std::time_t referenceTime = 0;  // seeding reference; 0 = now
};

bool IsLoopbackAddress(const std::string& address);

// "host:port,host:port"; false on a malformed entry.
bool ParseForwardServers(const std::string& text, std::vector<ForwardServer>& out);

// "352x288@25": a size and a frame rate the synthetic cameras accept.
bool ParseCameraVideo(const std::string& text, CameraVideo& out);

// Reads the [Sim] section; keys missing from the file keep their current values.
bool LoadSimConfig(const std::string& iniPath, SimConfig& config, std::string& error);

// Flags: --config=FILE (read first), --listen=, --master-port=, --proxy-port=, --db=,
// --cameras=, --chunk=, --upload-url=, --server-path=, --update-url=, --state=,
// --forward=, --clip-seconds=, --camera-video=WxH@FPS, --clip-cache-mb=,
// --alarm-interval-ms=, --fault-interval-ms=, --scramble, --push-notices, --verbose.
bool ParseSimArgs(int argc, const char* const* argv, SimConfig& config, std::string& error);

// Checks ranges and the loopback rule.
bool ValidateSimConfig(const SimConfig& config, std::string& error);

std::string SimUsage();

}  // namespace sim
