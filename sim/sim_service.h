#pragma once
// The simulated service as one object: the database, the master control HTTP server
// (which also serves alarm pictures), the proxy server with its control sessions, and
// the forwarding servers with the synthetic cameras.
// Tests start it in-process on port 0; the larkview-sim program wraps it.

#include <utility>  // before Boost 1.74 asio, which needs std::exchange
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/control_service.h"
#include "sim/forwarding_service.h"
#include "sim/master_http_server.h"
#include "sim/proxy_endpoint.h"
#include "sim/service_store.h"
#include "sim/sim_config.h"

namespace sim {


class SimService {
public:
    enum Result : int {
        kOk = 0,
        kBadConfig = -1,
        kDatabaseFailed = -2,
        kMasterListenFailed = -3,
        kProxyListenFailed = -4,
        kStateFileFailed = -5,
        kAlreadyStarted = -6,
        kForwardListenFailed = -7,
    };

    explicit SimService(SimConfig config);
    ~SimService();
    SimService(const SimService&) = delete;
    SimService& operator=(const SimService&) = delete;

    // Opens (and on first start seeds) the database, listens, writes the state file.
    int Start(std::string* error = nullptr);
    void Stop();
    bool Running() const { return running_; }

    int MasterPort() const;
    int ProxyPort() const;
    int HttpPort() const { return MasterPort(); }  // pictures are served by the master server
    std::string UploadUrlBase() const { return uploadUrlBase_; }
    const SimConfig& Config() const { return config_; }

    ServiceStore& Store() { return store_; }
    ControlService& Control() { return *control_; }
    // The forwarding servers: their addresses (as stored for the address replies) and
    // their fault switches.
    ForwardingService& Forwarding() { return *forwarding_; }
    std::vector<ForwardServer> ForwardServers() const;
    MasterHttpServer& Master() { return *master_; }

    // Fault injection.
    void DropControlConnections();
    void SetRefuseControlConnections(bool refuse);
    void SetMasterFaults(const MasterFaults& faults);
    bool SetMasterRefusing(bool refuse);
    void SetReplyFault(int msgType, ReplyFault fault) { control_->SetReplyFault(msgType, fault); }
    void ClearFaults();
    // Bytes outside the message framing: a frame cut short or a broken header.
    bool SendRaw(ConnectionId connection, const std::string& bytes);
    // A frame whose length prefix announces more than follows: the start of a reply
    // and no more (docs/protocol.md: 4-byte big-endian length, then the message).
    bool SendTruncatedFrame(ConnectionId connection);

    // One round of the soak's misbehaviour, in rotation by `round`: drop one camera's
    // links, stop one camera's stream, drop every forwarding link, drop every control
    // connection. Returns what was done, for the log.
    std::string RunFaultRound(unsigned round);

    // Runs `task` on the service's thread after `delay`.
    void Schedule(std::chrono::milliseconds delay, std::function<void()> task);

private:
    std::optional<std::string> Picture(const std::string& relativePath);
    void SchedulePeriodicAlarms();
    void ScheduleFaultRounds();
    bool WriteStateFile(std::string& error);
    bool WriteForwardPorts(const std::string& path) const;

    const SimConfig config_;
    boost::asio::io_context io_;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
    std::thread ioThread_;
    ServiceStore store_;
    std::string uploadUrlBase_;
    std::unique_ptr<ProxyEndpoint> channel_;
    std::unique_ptr<ControlService> control_;
    std::unique_ptr<MasterHttpServer> master_;
    std::unique_ptr<ForwardingService> forwarding_;
    std::atomic<bool> running_{false};
    unsigned faultRound_ = 0;
    std::mutex pictureLock_;
    std::map<std::string, std::string> pictureCache_;
};

}  // namespace sim
