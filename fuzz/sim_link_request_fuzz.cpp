// Arbitrary bytes as messages a client sends to a simulated forwarding server. Byte 0
// chooses the set-up: bit 0 opens a talk link first, bit 1 also opens its voice
// channel, bit 2 writes the link's real talk id into talk audio messages (which the
// fuzzer cannot guess). The rest is split into messages at 0xFF 0xFE markers and fed
// to one link, whose replies go nowhere.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/forward_session.h"

namespace {

class LastReplySink final : public sim::LinkSink {
public:
    bool Send(const void* data, std::size_t length) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        if (length > 0 && bytes[0] == 0) last.assign(bytes, bytes + length);
        return true;
    }
    void Close() override {}
    std::vector<std::uint8_t> last;
};

struct Service {
    Service() {
        store.Open(":memory:", [] {
            sim::SeedOptions seed;
            seed.cameraCount = 24;
            return seed;
        }());
        // Opens that reach a live camera stream it: keep the pictures tiny.
        store.SetCameraPicture({}, 64, 64, 1);
    }
    sim::ServiceStore store;
    sim::ClipCache clips{[] {
        sim::ClipCache::Options options;
        options.clipSeconds = 1;
        return options;
    }()};
    sim::VoiceLoops voices;
    sim::StreamSettingsTable settings;
    sim::CameraHeads heads;
    sim::FaultSwitches faults;
    sim::ForwardStats stats;
    sim::LinkMarks marks;
    sim::ForwardContext context{store, clips, voices, settings, heads, faults, stats, marks, {}};
};

void SendCommand(sim::ForwardSession& session, int msgType, std::map<std::string, std::string> params) {
    const std::string wire = sim::LinkControlMessage(1, msgType, params);
    session.OnMessage(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Service* service = new Service;  // one database for the whole run
    if (size == 0) return 0;
    const std::uint8_t setup = data[0];
    auto owned = std::make_unique<LastReplySink>();
    LastReplySink* sink = owned.get();
    sim::ForwardSession session(service->context, std::move(owned));

    std::string talkId;
    if (setup & 1) {
        SendCommand(session, 1, {{"nodeId", "31000001"}, {"pwd", ""}, {"major", "1"}, {"minor", "0"}});
        if (auto reply = control::DecodeMessage(reinterpret_cast<const char*>(sink->last.data()), sink->last.size()))
            talkId = reply->Param("TalkId");
        if (setup & 2) SendCommand(session, 1005, {});
    }

    std::vector<std::uint8_t> message;
    std::size_t start = 1;
    for (std::size_t i = 1; i <= size; ++i) {
        const bool boundary = i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE;
        if (!boundary && i != size) continue;
        message.assign(data + start, data + i);
        if ((setup & 4) && message.size() >= 31 && message[0] == 2 && !talkId.empty())
            std::memcpy(message.data() + 13, talkId.c_str(), talkId.size() + 1);
        session.OnMessage(message.data(), message.size());
        start = i + 2;
        ++i;
    }
    return 0;
}
