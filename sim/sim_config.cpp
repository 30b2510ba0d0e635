#include "sim/sim_config.h"

#include <boost/asio/ip/address.hpp>

#include <charconv>
#include <map>

#include "platform/ini_file.h"
#include "platform/paths.h"
#include "sim/h264_encoder.h"

namespace sim {
namespace {

constexpr const char* kSection = "Sim";
constexpr const char* kUnset = "\x01unset";

bool ParseInt(const std::string& text, long long low, long long high, long long& out) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
    out = value;
    return true;
}

bool ParseBool(const std::string& text, bool& out) {
    if (text == "1" || text == "true" || text == "yes" || text == "on") return out = true, true;
    if (text == "0" || text == "false" || text == "no" || text == "off") return out = false, true;
    return false;
}

// Applies one setting by its name (shared by the ini keys and the flags).
bool Apply(const std::string& key, const std::string& value, SimConfig& config, std::string& error) {
    long long number = 0;
    auto integer = [&](long long low, long long high) {
        if (ParseInt(value, low, high, number)) return true;
        error = "bad value for " + key + ": " + value;
        return false;
    };
    if (key == "listen") config.listenAddress = value;
    else if (key == "master-port") { if (!integer(0, 65535)) return false; config.masterPort = static_cast<int>(number); }
    else if (key == "proxy-port") { if (!integer(0, 65535)) return false; config.proxyPort = static_cast<int>(number); }
    else if (key == "db") config.databasePath = value;
    else if (key == "cameras") { if (!integer(0, 100000)) return false; config.cameraCount = static_cast<int>(number); }
    else if (key == "chunk") { if (!integer(1, 1000000)) return false; config.listChunkRows = static_cast<std::size_t>(number); }
    else if (key == "upload-url") config.uploadUrlBase = value;
    else if (key == "server-path") config.serverPath = value;
    else if (key == "update-url") config.updateUrl = value;
    else if (key == "state") config.stateFile = value;
    else if (key == "forward") {
        if (!ParseForwardServers(value, config.forwardServers)) {
            error = "bad forwarding server list: " + value;
            return false;
        }
    } else if (key == "clip-seconds") {
        if (!integer(1, 60)) return false;
        config.clipSeconds = static_cast<int>(number);
    } else if (key == "clip-cache-mb") {
        if (!integer(16, 65536)) return false;
        config.clipCacheMegabytes = static_cast<std::size_t>(number);
    } else if (key == "camera-video") {
        CameraVideo video;
        if (!ParseCameraVideo(value, video)) {
            error = "bad camera video (WIDTHxHEIGHT@FPS): " + value;
            return false;
        }
        config.cameraVideo = video;
    } else if (key == "alarm-interval-ms") {
        if (!integer(0, 86400000)) return false;
        config.alarmPushIntervalMs = static_cast<int>(number);
    } else if (key == "fault-interval-ms") {
        if (!integer(0, 86400000)) return false;
        config.faultIntervalMs = static_cast<int>(number);
    } else if (key == "scramble" || key == "push-notices" || key == "verbose") {
        bool flag = true;
        if (!value.empty() && !ParseBool(value, flag)) {
            error = "bad value for " + key + ": " + value;
            return false;
        }
        (key == "scramble" ? config.scrambleByDefault : key == "push-notices" ? config.pushNoticesOnLogin : config.verbose) = flag;
    } else {
        error = "unknown setting " + key;
        return false;
    }
    return true;
}

// ini key -> setting name
const std::map<std::string, std::string> kIniKeys = {
    {"ListenAddress", "listen"}, {"MasterPort", "master-port"}, {"ProxyPort", "proxy-port"},
    {"Database", "db"}, {"CameraCount", "cameras"}, {"ListChunkRows", "chunk"}, {"UploadUrl", "upload-url"},
    {"ServerPath", "server-path"}, {"UpdateUrl", "update-url"}, {"StateFile", "state"},
    {"ForwardServers", "forward"}, {"ClipSeconds", "clip-seconds"}, {"CameraVideo", "camera-video"},
    {"ClipCacheMegabytes", "clip-cache-mb"}, {"AlarmIntervalMs", "alarm-interval-ms"},
    {"FaultIntervalMs", "fault-interval-ms"}, {"Scramble", "scramble"},
    {"PushNotices", "push-notices"}, {"Verbose", "verbose"}};

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
    boost::system::error_code error;
    auto ip = boost::asio::ip::make_address(address, error);
    return !error && ip.is_loopback();
}

bool ParseForwardServers(const std::string& text, std::vector<ForwardServer>& out) {
    std::vector<ForwardServer> servers;
    std::size_t begin = 0;
    while (begin <= text.size() && !text.empty()) {
        std::size_t end = text.find(',', begin);
        std::string entry = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        std::size_t colon = entry.rfind(':');
        long long port = 0;
        if (colon == std::string::npos || colon == 0 || !ParseInt(entry.substr(colon + 1), 0, 65535, port)) return false;
        servers.push_back({entry.substr(0, colon), static_cast<int>(port)});
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    out = std::move(servers);
    return true;
}

bool ParseCameraVideo(const std::string& text, CameraVideo& out) {
    const std::size_t x = text.find('x'), at = text.find('@');
    long long width = 0, height = 0, rate = 0;
    if (x == std::string::npos || at == std::string::npos || at < x || !ParseInt(text.substr(0, x), 1, 4096, width) ||
        !ParseInt(text.substr(x + 1, at - x - 1), 1, 4096, height) || !ParseInt(text.substr(at + 1), 1, 1000, rate))
        return false;
    if (!ValidVideoSize(static_cast<int>(width), static_cast<int>(height)) || !ValidFrameRate(static_cast<int>(rate)))
        return false;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.frameRate = static_cast<int>(rate);
    return true;
}

bool LoadSimConfig(const std::string& iniPath, SimConfig& config, std::string& error) {
    if (!platform::IsRegularFile(iniPath)) {
        error = "no configuration file " + iniPath;
        return false;
    }
    for (const auto& [iniKey, name] : kIniKeys) {
        std::string value = platform::ReadProfileString(kSection, iniKey, kUnset, iniPath, 4096);
        if (value == kUnset) continue;
        if (!Apply(name, value, config, error)) return false;
    }
    return true;
}

bool ParseSimArgs(int argc, const char* const* argv, SimConfig& config, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--config=", 0) == 0 && !LoadSimConfig(arg.substr(9), config, error)) return false;
    }
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            error = "unexpected argument " + arg;
            return false;
        }
        std::size_t equals = arg.find('=');
        std::string key = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
        if (key == "config") continue;
        if (equals == std::string::npos && key != "scramble" && key != "push-notices" && key != "verbose") {
            error = "missing value for --" + key;
            return false;
        }
        if (!Apply(key, value, config, error)) return false;
    }
    return ValidateSimConfig(config, error);
}

bool ValidateSimConfig(const SimConfig& config, std::string& error) {
    if (!IsLoopbackAddress(config.listenAddress)) {
        error = "the simulated service serves loopback addresses only, not " + config.listenAddress;
        return false;
    }
    if (config.serverPath.empty() || config.serverPath[0] != '/') {
        error = "the server path must start with /";
        return false;
    }
    for (const ForwardServer& server : config.forwardServers) {
        // Clients connect by dotted address, so a name such as localhost does not do.
        if (!IsLoopbackAddress(server.host)) {
            error = "forwarding servers serve loopback addresses only, not " + server.host;
            return false;
        }
    }
    if (config.databasePath.empty()) {
        error = "no database path";
        return false;
    }
    return true;
}

std::string SimUsage() {
    return "usage: larkview-sim [--config=FILE] [--listen=127.0.0.1] [--master-port=N] [--proxy-port=N]\n"
           "                    [--db=FILE] [--cameras=N] [--chunk=ROWS] [--upload-url=URL] [--server-path=/master]\n"
           "                    [--update-url=URL] [--state=FILE] [--forward=HOST:PORT,...] [--clip-seconds=N]\n"
           "                    [--camera-video=WxH@FPS] [--clip-cache-mb=N] [--alarm-interval-ms=N]\n"
           "                    [--fault-interval-ms=N]\n"
           "                    [--scramble] [--push-notices] [--verbose]\n"
           "ini file: section [Sim], keys ListenAddress MasterPort ProxyPort Database CameraCount ListChunkRows\n"
           "          UploadUrl ServerPath UpdateUrl StateFile ForwardServers ClipSeconds CameraVideo\n"
           "          ClipCacheMegabytes AlarmIntervalMs FaultIntervalMs Scramble PushNotices Verbose\n";
}

}  // namespace sim
