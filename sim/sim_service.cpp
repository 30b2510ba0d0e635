#include "sim/sim_service.h"

#include <boost/asio.hpp>

#include <cstdio>
#include <regex>

#include "platform/ini_file.h"
#include "sim/alarm_picture.h"
#include "sim/proxy_endpoint.h"

namespace sim {
namespace {

constexpr std::size_t kPictureCacheSize = 256;

}  // namespace

SimService::SimService(SimConfig config) : config_(std::move(config)) {}

SimService::~SimService() { Stop(); }

int SimService::Start(std::string* error) {
    std::string why;
    auto fail = [&](int code, std::string text) {
        if (error) *error = std::move(text);
        Stop();
        return code;
    };
    if (running_) return kAlreadyStarted;
    if (!ValidateSimConfig(config_, why)) return fail(kBadConfig, why);

    SeedOptions seed;
    seed.cameraCount = config_.cameraCount;
    seed.referenceTime = config_.referenceTime;
    if (!config_.forwardServers.empty()) seed.forwardServers = config_.forwardServers;
    if (!store_.Open(config_.databasePath, seed)) return fail(kDatabaseFailed, store_.LastError());
    if (config_.cameraVideo &&
        !store_.SetCameraPicture({}, config_.cameraVideo->width, config_.cameraVideo->height,
                                 config_.cameraVideo->frameRate))
        return fail(kDatabaseFailed, "cannot store the camera video settings");

    // The forwarding servers next: the address replies name their bound ports.
    ForwardingOptions forwardOptions;
    forwardOptions.servers = config_.forwardServers;
    if (forwardOptions.servers.empty()) {
        const std::size_t stored = store_.ForwardServers().size();
        for (std::size_t i = 0; i < stored; ++i) forwardOptions.servers.push_back({config_.listenAddress, 0});
        if (forwardOptions.servers.empty()) forwardOptions.servers.push_back({config_.listenAddress, 0});
    }
    forwardOptions.clips.clipSeconds = config_.clipSeconds;
    forwardOptions.clips.maxBytes = config_.clipCacheMegabytes << 20;
    if (config_.verbose) forwardOptions.log = [](const std::string& text) { std::fprintf(stderr, "sim: %s\n", text.c_str()); };
    forwarding_ = std::make_unique<ForwardingService>(store_, forwardOptions);
    if (!forwarding_->Start(why)) return fail(kForwardListenFailed, why);
    if (!store_.SetForwardServers(forwarding_->Servers()))
        return fail(kDatabaseFailed, "cannot store the forwarding servers");

    io_.restart();
    work_ = std::make_unique<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>(
        io_.get_executor());
    ioThread_ = std::thread([this] { io_.run(); });
    running_ = true;

    // The master server first: its port names the default upload and update URLs.
    MasterHttpServer::Options masterOptions;
    masterOptions.serverPath = config_.serverPath;
    masterOptions.proxyIp = config_.listenAddress;
    masterOptions.proxyPort = [this] { return ProxyPort(); };
    masterOptions.picture = [this](const std::string& path) { return Picture(path); };
    master_ = std::make_unique<MasterHttpServer>(io_, masterOptions);
    if (master_->Listen(config_.listenAddress, config_.masterPort) < 0)
        return fail(kMasterListenFailed, "cannot listen on master port " + std::to_string(config_.masterPort));
    const std::string origin = "http://" + config_.listenAddress + ":" + std::to_string(master_->Port());
    uploadUrlBase_ = config_.uploadUrlBase.empty() ? origin + "/upload/" : config_.uploadUrlBase;

    ControlOptions controlOptions;
    controlOptions.listChunkRows = config_.listChunkRows;
    controlOptions.scrambleByDefault = config_.scrambleByDefault;
    controlOptions.uploadUrlBase = uploadUrlBase_;
    controlOptions.updateUrl = config_.updateUrl.empty() ? origin + "/update/" : config_.updateUrl;
    controlOptions.pushNoticesOnLogin = config_.pushNoticesOnLogin;
    if (config_.verbose) controlOptions.log = [](const std::string& text) { std::fprintf(stderr, "sim: %s\n", text.c_str()); };
    Scheduler scheduler = [this](std::chrono::milliseconds delay, std::function<void()> task) {
        Schedule(delay, std::move(task));
    };

    auto endpoint = std::make_unique<ProxyEndpoint>();
    control_ = std::make_unique<ControlService>(store_, *endpoint, scheduler, controlOptions);
    endpoint->Attach(control_.get());
    if (endpoint->Listen(config_.listenAddress, config_.proxyPort) < 0) {
        channel_ = std::move(endpoint);
        return fail(kProxyListenFailed, "cannot listen on proxy port " + std::to_string(config_.proxyPort));
    }
    channel_ = std::move(endpoint);

    if (config_.alarmPushIntervalMs > 0) SchedulePeriodicAlarms();
    if (config_.faultIntervalMs > 0) ScheduleFaultRounds();
    if (!config_.stateFile.empty() && !WriteStateFile(why)) return fail(kStateFileFailed, why);
    return kOk;
}

void SimService::Stop() {
    if (forwarding_) forwarding_->Stop();
    if (!running_ && !ioThread_.joinable()) return;
    running_ = false;
    if (channel_) channel_->Stop();
    if (master_) master_->Stop();
    work_.reset();
    io_.stop();
    if (ioThread_.joinable()) ioThread_.join();
    // Handlers still queued (delayed replies, open HTTP connections) die here, before
    // the objects they point at.
    master_.reset();
    control_.reset();
    channel_.reset();
}

std::vector<ForwardServer> SimService::ForwardServers() const {
    return forwarding_ ? forwarding_->Servers() : std::vector<ForwardServer>{};
}

int SimService::MasterPort() const { return master_ ? master_->Port() : -1; }

int SimService::ProxyPort() const { return channel_ ? channel_->Port() : -1; }

void SimService::Schedule(std::chrono::milliseconds delay, std::function<void()> task) {
    if (!running_) return;
    auto timer = std::make_shared<boost::asio::steady_timer>(io_, delay);
    timer->async_wait([timer, task = std::move(task)](boost::system::error_code error) {
        if (!error) task();
    });
}

void SimService::SchedulePeriodicAlarms() {
    Schedule(std::chrono::milliseconds(config_.alarmPushIntervalMs), [this] {
        if (!running_ || !control_) return;
        control_->PushRandomAlarms();
        SchedulePeriodicAlarms();
    });
}

void SimService::ScheduleFaultRounds() {
    Schedule(std::chrono::milliseconds(config_.faultIntervalMs), [this] {
        if (!running_) return;
        const std::string what = RunFaultRound(faultRound_++);
        std::printf("larkview-sim: fault round %u: %s\n", faultRound_, what.c_str());
        std::fflush(stdout);
        ScheduleFaultRounds();
    });
}

std::string SimService::RunFaultRound(unsigned round) {
    const std::vector<std::string> cameras = forwarding_ ? forwarding_->LinkedCameras() : std::vector<std::string>{};
    // Rotate through the cameras too, so that every one of them meets each fault.
    const std::string camera = cameras.empty() ? std::string() : cameras[(round / 4) % cameras.size()];
    switch (round % 4) {
        case 0:
            if (camera.empty()) return "no camera to drop";
            return "dropped " + std::to_string(forwarding_->DropLinks(camera)) + " links of camera " + camera;
        case 1:
            if (camera.empty()) return "no camera to stop";
            return "stopped " + std::to_string(forwarding_->StopCamera(camera)) + " links of camera " + camera;
        case 2:
            return "dropped all " + std::to_string(forwarding_ ? forwarding_->DropLinks() : 0) + " forwarding links";
        default:
            DropControlConnections();
            return "dropped the control connections";
    }
}

std::optional<std::string> SimService::Picture(const std::string& relativePath) {
    static const std::regex kPicturePath(R"((?:[0-9]+/)?alarm_([0-9]{1,15})\.jpg)");
    std::smatch match;
    if (!std::regex_match(relativePath, match, kPicturePath)) return std::nullopt;
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        auto cached = pictureCache_.find(match[1].str());
        if (cached != pictureCache_.end()) return cached->second;
    }
    auto alarm = store_.Alarm(std::stoll(match[1].str()));
    if (!alarm) return std::nullopt;
    std::string jpeg = RenderAlarmPicture({alarm->id, alarm->cameraName, alarm->nodeName, alarm->kindName, alarm->time});
    if (jpeg.empty()) return std::nullopt;
    std::lock_guard<std::mutex> guard(pictureLock_);
    if (pictureCache_.size() >= kPictureCacheSize) pictureCache_.erase(pictureCache_.begin());
    pictureCache_[match[1].str()] = jpeg;
    return jpeg;
}

bool SimService::WriteForwardPorts(const std::string& path) const {
    const std::vector<ForwardServer> servers = ForwardServers();
    bool ok = platform::WriteProfileString("Ports", "ForwardCount", std::to_string(servers.size()), path);
    for (std::size_t i = 0; i < servers.size(); ++i)
        ok = ok && platform::WriteProfileString("Ports", "Forward" + std::to_string(i + 1),
                                                std::to_string(servers[i].port), path);
    return ok;
}

bool SimService::WriteStateFile(std::string& error) {
    // Written whole under another name, then renamed over the file: whoever waits for
    // the master port in it (tools/demo.sh, the tests) never finds it without the rest.
    const std::string& target = config_.stateFile;
    const std::string path = target + ".part";
    std::remove(path.c_str());
    bool ok = platform::WriteProfileString("Ports", "Master", std::to_string(MasterPort()), path) &&
              platform::WriteProfileString("Ports", "Proxy", std::to_string(ProxyPort()), path) &&
              platform::WriteProfileString("Ports", "Http", std::to_string(HttpPort()), path) &&
              WriteForwardPorts(path) &&
              platform::WriteProfileString("Service", "Address", config_.listenAddress, path) &&
              platform::WriteProfileString("Service", "ServerPath", config_.serverPath, path) &&
              platform::WriteProfileString("Service", "UploadUrl", uploadUrlBase_, path) &&
              std::rename(path.c_str(), target.c_str()) == 0;
    if (!ok) error = "cannot write the state file " + target;
    return ok;
}

void SimService::DropControlConnections() {
    if (control_) control_->CloseAll();
}

void SimService::SetRefuseControlConnections(bool refuse) {
    if (channel_) channel_->SetAccepting(!refuse);
}

void SimService::SetMasterFaults(const MasterFaults& faults) {
    if (master_) master_->SetFaults(faults);
}

bool SimService::SetMasterRefusing(bool refuse) { return running_ && master_ && master_->SetAccepting(!refuse); }

void SimService::ClearFaults() {
    if (control_) control_->ClearFaults();
    if (master_) master_->SetFaults({});
    SetRefuseControlConnections(false);
    SetMasterRefusing(false);
}

bool SimService::SendRaw(ConnectionId connection, const std::string& bytes) {
    return control_ && control_->SendRaw(connection, bytes);
}

}  // namespace sim

namespace sim {

bool SimService::SendTruncatedFrame(ConnectionId connection) {
    const std::string start = std::string(1, '\0') + "{\"id\":1,\"msgType\":";
    const std::uint32_t announced = 64;  // more than `start` holds
    std::string frame;
    for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((announced >> shift) & 0xFF);
    return SendRaw(connection, frame + start);
}

}  // namespace sim
