#pragma once
// Shared pieces of the simulator tests: a fixed clock and time zone, a store seeded
// into a temporary file, and a reply channel that records what the service sends.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "control/control_message.h"
#include "sim/control_service.h"
#include "sim/service_store.h"
#include "support/temp_dir.h"

namespace simtest {

// 2023-11-14 22:13:20 UTC: every seeded date is placed around it.
constexpr std::time_t kReference = 1700000000;

// Seeded dates are local time; pin the zone so the golden texts hold anywhere.
inline void UseUtc() {
    static const bool done = [] {
        setenv("TZ", "UTC", 1);
        tzset();
        return true;
    }();
    (void)done;
}

inline sim::SeedOptions Seed(int cameras) {
    sim::SeedOptions seed;
    seed.cameraCount = cameras;
    seed.referenceTime = kReference;
    return seed;
}

class SeededStore {
public:
    explicit SeededStore(int cameras = 40) {
        UseUtc();
        store.SetClock([] { return kReference; });
        opened = store.Open(dir.File("sim.db"), Seed(cameras));
    }
    testing_support::TempDir dir;
    sim::ServiceStore store;
    bool opened = false;
};

class RecordingChannel final : public sim::ReplyChannel {
public:
    struct Sent {
        sim::ConnectionId connection;
        std::string bytes;
        bool raw;
    };
    bool Send(sim::ConnectionId connection, const std::string& message) override {
        std::lock_guard<std::mutex> guard(lock);
        sent.push_back({connection, message, false});
        return true;
    }
    bool SendRaw(sim::ConnectionId connection, const std::string& bytes) override {
        std::lock_guard<std::mutex> guard(lock);
        sent.push_back({connection, bytes, true});
        return true;
    }
    void Close(sim::ConnectionId connection) override {
        std::lock_guard<std::mutex> guard(lock);
        closed.push_back(connection);
    }
    std::vector<Sent> Take() {
        std::lock_guard<std::mutex> guard(lock);
        return std::exchange(sent, {});
    }
    std::vector<control::ControlMessage> TakeDecoded() {
        std::vector<control::ControlMessage> out;
        for (const Sent& s : Take()) {
            auto message = control::DecodeMessage(s.bytes.data(), s.bytes.size());
            if (message) out.push_back(*message);
        }
        return out;
    }
    std::mutex lock;
    std::vector<Sent> sent;
    std::vector<sim::ConnectionId> closed;
};

// Keeps scheduled tasks until the test runs them, recording their delays.
class ManualScheduler {
public:
    sim::Scheduler Get() {
        return [this](std::chrono::milliseconds delay, std::function<void()> task) {
            delays.push_back(delay);
            tasks.push_back(std::move(task));
        };
    }
    void RunAll() {
        auto pending = std::exchange(tasks, {});
        for (auto& task : pending) task();
    }
    std::vector<std::chrono::milliseconds> delays;
    std::vector<std::function<void()>> tasks;
};

// One request as the client puts it on the wire: type byte 0, JSON text.
inline std::string Request(std::int32_t id, std::int32_t msgType, std::map<std::string, std::string> params = {}) {
    control::ControlMessage message;
    message.id = id;
    message.msgType = msgType;
    message.params = std::move(params);
    return control::EncodeRequest(message);
}

inline std::string Xor5A(std::string bytes) {
    for (std::size_t i = 1; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    return bytes;
}

// The password digest the client sends: MD5 of "larkview", upper-case hex.
constexpr const char* kDemoDigest = "E744A3AA6019D2B8526D6FC49C5336CF";

inline std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> items;
    std::size_t begin = 0;
    for (;;) {
        std::size_t end = text.find(';', begin);
        items.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos) return items;
        begin = end + 1;
    }
}

}  // namespace simtest
