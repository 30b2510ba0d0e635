// The client's receive path for live video: a compact frame or a media sub-message
// through VideoLink's receive callback into the video packet queue, and back to the
// free list as the play thread does. Prints the cost and the heap allocations per
// packet after warm-up (target: none), first for the callback alone, then over
// Tether on loopback (the reader thread's framing included, the sender not counted).
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

#include "alloc_counter.h"
#include "libs/tether/tether.h"
#include "sim/forward_wire.h"
#include "transport/video_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using Message = std::vector<std::uint8_t>;

constexpr int kFrameRate = 25;
constexpr std::size_t kKeyFrameBytes = 60000;  // about a D1 key frame
constexpr std::size_t kPFrameBytes = 8000;

// One second of a stream: a key frame (parameter sets first) and 24 P frames of
// random bytes behind their start codes; the receive path reads no further.
std::vector<std::vector<std::uint8_t>> AccessUnits() {
    std::mt19937 random(7);
    std::vector<std::vector<std::uint8_t>> units;
    for (int i = 0; i < kFrameRate; ++i) {
        std::vector<std::uint8_t> unit(i == 0 ? kKeyFrameBytes : kPFrameBytes);
        for (auto& byte : unit) byte = static_cast<std::uint8_t>(random());
        const std::uint8_t start[] = {0, 0, 0, 1, static_cast<std::uint8_t>(i == 0 ? 0x67 : 0x41)};
        std::copy(std::begin(start), std::end(start), unit.begin());
        units.push_back(std::move(unit));
    }
    return units;
}

std::vector<Message> Messages(bool media, std::uint64_t firstTimestamp, int seconds) {
    const auto units = AccessUnits();
    std::vector<Message> messages;
    Message message;
    if (media) {
        sim::BuildVideoDescription(message, kFrameRate, 704, 576, firstTimestamp);
        messages.push_back(message);
    }
    for (int n = 0; n < seconds * kFrameRate; ++n) {
        const auto& unit = units[static_cast<std::size_t>(n % kFrameRate)];
        const std::uint64_t timestamp = firstTimestamp + static_cast<std::uint64_t>(n) * 40;
        if (media)
            sim::BuildMediaPacket(message, sim::kVideoPacket, static_cast<std::uint16_t>(n), timestamp, unit.data(),
                                  unit.size());
        else
            sim::BuildCompactFrame(message, static_cast<std::uint32_t>(timestamp), static_cast<std::uint16_t>(n), 704,
                                   576, kFrameRate, unit.data(), unit.size());
        messages.push_back(message);
    }
    return messages;
}

transport::LinkTiming Quiet() {
    transport::LinkTiming timing;
    timing.heartbeatStartMs = 3600000;
    timing.silenceMs = 3600000;
    return timing;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// The callback alone: receive a batch as the link's reader would, then drain it as
// the play thread would.
void Direct(bool media) {
    transport::PacketQueue video, audio;
    transport::VideoLink link(video, audio, nullptr, Quiet());
    const auto messages = Messages(media, 1000, 4);
    std::size_t next = 0;
    std::uint64_t bytes = 0;
    auto run = [&](int packets) {
        for (int i = 0; i < packets; ++i) {
            const Message& message = messages[next++ % messages.size()];
            link.Receive(0, message.data(), message.size());
            bytes += message.size();
            if (i % 8 == 7)  // the play thread keeps a few packets queued
                while (auto record = video.Pop()) video.Release(std::move(record));
        }
    };
    run(5000);  // warm-up: records and buffers reach their sizes
    bytes = 0;
    const int packets = 200000;
    const std::uint64_t allocations = bench::Allocations();
    const double cpu = ThreadCpuSeconds();
    const auto start = Clock::now();
    run(packets);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuSeconds = ThreadCpuSeconds() - cpu;
    std::printf("%-34s %8.0f ns/packet  %7.2f GB/s  allocations/packet %.4f  (%d packets, cpu %.2f s)\n",
                media ? "callback, media sub-messages" : "callback, compact frames", seconds * 1e9 / packets,
                bytes / seconds / 1e9, static_cast<double>(bench::Allocations() - allocations) / packets, packets,
                cpuSeconds);
}

// Over Tether on loopback: a sender thread (not counted) sends to one link at `rate`
// packets a second (0: as fast as it can); the link's reader thread and a consumer
// thread (counted) do the receiving.
void Loopback(bool media, double rate) {
    std::atomic<tether::Server::ConnectionId> connection{0};
    tether::Server* serverPointer = nullptr;
    tether::Server server(tether::Server::Handlers{
        [&](tether::Server::ConnectionId id, const std::string&) { connection = id; },
        [&](tether::Server::ConnectionId id, const char* data, std::size_t length) {
            auto request = control::DecodeMessage(data, length);
            if (request && request->msgType == 1) {
                const std::string reply = sim::LinkControlMessage(request->id, 1, {{"result", "1"}});
                serverPointer->Send(id, reply.data(), reply.size());
            }
        },
        [](tether::Server::ConnectionId) {}});
    serverPointer = &server;
    const int port = server.Listen("127.0.0.1", 0);
    transport::PacketQueue video, audio;
    transport::VideoLink link(video, audio, nullptr, Quiet());
    if (link.Open("31000001", "127.0.0.1", port, "") != 1) {
        std::printf("loopback open failed\n");
        return;
    }
    const auto messages = Messages(media, 1000, 4);

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> consumed{0};
    std::thread consumer([&] {
        while (!stop) {
            bool any = false;
            while (auto record = video.Pop()) {
                video.Release(std::move(record));
                ++consumed;
                any = true;
            }
            if (!any) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    struct Window {
        std::uint64_t allocations;
        double cpu;
        Clock::time_point wall;
        std::uint64_t receivedBytes;
    };
    Window begin{}, end{};
    double senderCpu = 0;
    std::uint64_t sentBytes = 0;
    // Warm-up (at the same pace): records and their buffers reach their sizes.
    const int warmup = rate > 0 ? static_cast<int>(rate * 3) : 3000;
    const int measured = rate > 0 ? static_cast<int>(rate * 5) : 60000;
    Clock::time_point paceStart = Clock::now();
    const std::uint64_t base = tether::ReceivedBytes();
    auto arrived = [&] { return tether::ReceivedBytes() - base; };
    std::thread sender([&] {
        bench::IgnoreThisThread();
        for (int i = 0; i < warmup + measured; ++i) {
            if (i == warmup) {
                // Let the warm-up arrive, then open the window.
                while (arrived() < sentBytes) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                begin = {bench::Allocations(), ProcessCpuSeconds(), Clock::now(), tether::ReceivedBytes()};
                senderCpu = ThreadCpuSeconds();
                paceStart = Clock::now();
            }
            if (rate > 0) {
                // Paced: the consumer keeps up, as the play threads do in steady streaming.
                const auto due = paceStart + std::chrono::microseconds(static_cast<std::int64_t>(
                                                 (i < warmup ? i : i - warmup) * 1e6 / rate));
                std::this_thread::sleep_until(due);
            }
            const Message& message = messages[static_cast<std::size_t>(i) % messages.size()];
            if (!server.Send(connection, message.data(), message.size())) break;
            sentBytes += message.size();
        }
        senderCpu = ThreadCpuSeconds() - senderCpu;
    });
    sender.join();
    // Every message sent in the window has reached the callback (and the queue).
    while (arrived() < sentBytes) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    end = {bench::Allocations(), ProcessCpuSeconds(), Clock::now(), tether::ReceivedBytes()};
    stop = true;
    consumer.join();
    const double packets = measured;
    const double receiveCpu = end.cpu - begin.cpu - senderCpu;
    const double seconds = std::chrono::duration<double>(end.wall - begin.wall).count();
    char what[80];
    std::snprintf(what, sizeof what, "loopback %s, %s", rate > 0 ? "paced" : "flood", media ? "media" : "compact");
    std::printf("%-34s %8.0f ns cpu/packet  %8.0f packets/s  allocations/packet %.4f  (%.0f packets, %.0f MB)\n",
                what, receiveCpu * 1e9 / packets,
                packets / seconds, static_cast<double>(end.allocations - begin.allocations) / packets, packets,
                (end.receivedBytes - begin.receivedBytes) / 1e6);
    link.Close();
}

}  // namespace

int main() {
    std::printf("video packets of %zu (key, one a second) and %zu bytes, %d a second\n", kKeyFrameBytes, kPFrameBytes,
                kFrameRate);
    Direct(false);
    Direct(true);
    // 2000 packets a second: 80 cameras' worth on one link, which the consumer keeps up with.
    Loopback(false, 2000);
    Loopback(true, 2000);
    // As fast as the sender can: the queue overflows and its drop policy runs.
    Loopback(false, 0);
    Loopback(true, 0);
    return 0;
}
