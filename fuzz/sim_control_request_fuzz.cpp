// Requests arriving at the simulated proxy server: any bytes, before and after a login.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/control_service.h"
#include "sim/service_store.h"

namespace {

class NullChannel final : public sim::ReplyChannel {
public:
    bool Send(sim::ConnectionId, const std::string& message) override { return !message.empty(); }
    bool SendRaw(sim::ConnectionId, const std::string&) override { return true; }
    void Close(sim::ConnectionId) override {}
};

struct World {
    World() {
        sim::SeedOptions seed;
        seed.cameraCount = 24;
        store.Open(":memory:", seed);
        service = std::make_unique<sim::ControlService>(store, channel, nullptr, options());
        const std::string login = std::string(1, '\0') +
                                  "{\"id\":1,\"msgType\":2,\"params\":{\"oemId\":\"1\",\"password\":"
                                  "\"E744A3AA6019D2B8526D6FC49C5336CF\",\"userName\":\"demo\"},\"realm\":1}\n";
        service->OnMessage(kLoggedIn, login.data(), login.size());
    }
    static sim::ControlOptions options() {
        sim::ControlOptions o;
        o.listChunkRows = 7;
        return o;
    }
    static constexpr sim::ConnectionId kLoggedIn = 1;
    static constexpr sim::ConnectionId kStranger = 2;
    sim::ServiceStore store;
    NullChannel channel;
    std::unique_ptr<sim::ControlService> service;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    if (size == 0) return 0;
    // The first byte picks the connection: a logged-in one or a stranger.
    const sim::ConnectionId connection = (data[0] & 1) ? World::kLoggedIn : World::kStranger;
    world.service->OnMessage(connection, reinterpret_cast<const char*>(data + 1), size - 1);
    return 0;
}
