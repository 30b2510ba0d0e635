#include "sim/sim_config.h"

#include <boost/asio/ip/address.hpp>

#include <charconv>
#include <map>

#include "platform/ini_file.h"
#include "platform/paths.h"

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
    } else if (key == "alarm-interval-ms") {
        if (!integer(0, 86400000)) return false;
        config.alarmPushIntervalMs = static_cast<int>(number);
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
    {"ForwardServers", "forward"}, {"AlarmIntervalMs", "alarm-interval-ms"}, {"Scramble", "scramble"},
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
    if (config.databasePath.empty()) {
        error = "no database path";
        return false;
    }
    return true;
}

std::string SimUsage() {
    return "usage: larkview-sim [--config=FILE] [--listen=127.0.0.1] [--master-port=N] [--proxy-port=N]\n"
           "                    [--db=FILE] [--cameras=N] [--chunk=ROWS] [--upload-url=URL] [--server-path=/master]\n"
           "                    [--update-url=URL] [--state=FILE] [--forward=HOST:PORT,...] [--alarm-interval-ms=N]\n"
           "                    [--scramble] [--push-notices] [--verbose]\n"
           "ini file: section [Sim], keys ListenAddress MasterPort ProxyPort Database CameraCount ListChunkRows\n"
           "          UploadUrl ServerPath UpdateUrl StateFile ForwardServers AlarmIntervalMs Scramble PushNotices Verbose\n";
}

}  // namespace sim
