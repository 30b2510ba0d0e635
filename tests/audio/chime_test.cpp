// Chime's A-law codec and players, Earshot's capture, without sound devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "libs/chime/chime.h"
#include "libs/earshot/earshot.h"
#include "sim/alaw_audio.h"

namespace {

class CollectingSink final : public chime::AudioSink {
public:
    explicit CollectingSink(std::vector<std::uint8_t>& out) : out_(out) {}
    bool Start() override { return true; }
    void Write(const std::uint8_t* pcm, std::size_t length) override { out_.insert(out_.end(), pcm, pcm + length); }

private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace

TEST(Alaw, EveryCodeSurvivesTheRoundTripAndKnownValuesHold) {
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(chime::LinearToAlaw(chime::AlawToLinear(static_cast<std::uint8_t>(code))), code) << code;
    EXPECT_EQ(chime::AlawToLinear(0xD5), 8);
    EXPECT_EQ(chime::AlawToLinear(0x55), -8);
    EXPECT_EQ(chime::AlawToLinear(0xAA), 32256);
    EXPECT_EQ(chime::AlawToLinear(0x2A), -32256);
    EXPECT_EQ(chime::LinearToAlaw(0), 0xD5);
    EXPECT_EQ(chime::LinearToAlaw(32767), 0xAA);
    EXPECT_EQ(chime::LinearToAlaw(-32768), 0x2A);
    // Quantisation error stays within half a step of the segment.
    for (int v = -32768; v <= 32767; v += 7) {
        const int back = chime::AlawToLinear(chime::LinearToAlaw(static_cast<std::int16_t>(v)));
        EXPECT_LE(std::abs(back - v), std::max(16, std::abs(v) / 16)) << v;
    }
}

TEST(Alaw, CodecHandlesEncodeAndDecodeWithinTheirBuffers) {
    EXPECT_EQ(chime::InitDec(7), 0u) << "only codec 101";
    const chime::Handle encoder = chime::InitEnc(chime::kCodecAlaw);
    const chime::Handle decoder = chime::InitDec(chime::kCodecAlaw);
    ASSERT_NE(encoder, 0u);
    ASSERT_NE(decoder, 0u);
    std::vector<std::uint8_t> pcm(640);
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i * 37);
    std::vector<std::uint8_t> coded(320);
    EXPECT_EQ(chime::Encode(encoder, pcm.data(), 640, coded.data()), 320);
    std::vector<std::uint8_t> decoded(chime::kDecodeBufferBytes + 16, 0xEE);
    EXPECT_EQ(chime::Decode(decoder, coded.data(), 320, decoded.data()), 640);

    // A coded packet longer than the buffer holds is cut, never written past it.
    std::vector<std::uint8_t> huge(10000, 0xD5);
    EXPECT_EQ(chime::Decode(decoder, huge.data(), 10000, decoded.data()), chime::kDecodeBufferBytes);
    EXPECT_EQ(decoded[chime::kDecodeBufferBytes], 0xEE);

    chime::DelInitDec(decoder);
    chime::DelInitEnc(encoder);
    EXPECT_EQ(chime::Decode(decoder, coded.data(), 320, decoded.data()), 0) << "a released handle does nothing";
    EXPECT_EQ(chime::Encode(encoder, pcm.data(), 640, coded.data()), 0);
    EXPECT_EQ(chime::Decode(chime::InitDec(chime::kCodecAlaw), coded.data(), -5, decoded.data()), 0);
}

TEST(Player, NoOutputDeviceGivesNoPlayerAndASinkGetsTheSound) {
    // No application object here, so no device: the player handle is 0.
    EXPECT_EQ(chime::OpenAudio(0, 1, 8000, 16), 0u);
    EXPECT_EQ(chime::Play(0), 0);
    chime::AddAudioData(0, nullptr, 10);

    std::vector<std::uint8_t> played;
    chime::AudioFormat opened;
    chime::SetSinkFactory([&](const chime::AudioFormat& format) {
        opened = format;
        return std::make_unique<CollectingSink>(played);
    });
    EXPECT_EQ(chime::OpenAudio(0, 1, 0, 16), 0u) << "a rate of 0 is refused";
    EXPECT_EQ(chime::OpenAudio(0, 1, 8000, 12), 0u);
    const chime::Handle player = chime::OpenAudio(0, 2, 16000, 16);
    ASSERT_NE(player, 0u);
    EXPECT_EQ(opened, (chime::AudioFormat{2, 16000, 16}));
    EXPECT_EQ(chime::Play(player), 1);
    const std::uint8_t pcm[4] = {1, 2, 3, 4};
    chime::AddAudioData(player, pcm, 4);
    chime::CloseAudio(player);
    chime::AddAudioData(player, pcm, 4);
    EXPECT_EQ(played, std::vector<std::uint8_t>({1, 2, 3, 4}));
    chime::SetSinkFactory({});
}

TEST(Capture, InitIsFalseWithoutAMicrophoneAndTheCallbackStopsWithStop) {
    EXPECT_FALSE(TARN_AudioCap_Init()) << "no application object, no input device";

    struct Source final : earshot::CaptureSource {
        bool Start(Deliver deliver) override {
            running = true;
            thread = std::thread([this, deliver] {
                const std::uint8_t pcm[640] = {};
                while (running) {
                    deliver(pcm, sizeof pcm);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            return true;
        }
        void Stop() override {
            running = false;
            if (thread.joinable()) thread.join();
        }
        std::atomic<bool> running{false};
        std::thread thread;
    };
    earshot::SetSourceFactory([] { return std::make_unique<Source>(); });
    ASSERT_TRUE(TARN_AudioCap_Init());
    static std::atomic<int> calls{0};
    static std::atomic<std::thread::id> caller;
    TARN_AudioCap_Start(
        [](const std::uint8_t*, int length, void* user) {
            EXPECT_EQ(length, 640);
            EXPECT_EQ(user, &calls);
            caller = std::this_thread::get_id();
            ++calls;
        },
        &calls);
    while (calls < 3) std::this_thread::yield();
    TARN_AudioCap_Stop();
    const int afterStop = calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(calls, afterStop) << "no callback after Stop returned";
    EXPECT_NE(caller.load(), std::this_thread::get_id()) << "delivered from the library's thread";
    TARN_AudioCap_DelInit();
    earshot::SetSourceFactory({});
}

// A real device hands over chunks of whatever size it likes; the talk link sends only
// whole 640-byte blocks, so every byte must reach the callback inside one, in order.
TEST(Capture, OddChunksReachTheCallbackAsWholeBlocksWithNoByteLostOrReordered) {
    static const std::vector<std::size_t> kChunks = {1, 333, 640, 1000, 7, 1279, 2, 1920, 639, 641, 100};
    std::vector<std::uint8_t> spoken;
    for (std::size_t size : kChunks)
        for (std::size_t i = 0; i < size; ++i) spoken.push_back(static_cast<std::uint8_t>((spoken.size() * 7 + 3) % 251));

    struct Source final : earshot::CaptureSource {
        explicit Source(const std::vector<std::uint8_t>& spokenPcm) : pcm(spokenPcm) {}
        bool Start(Deliver deliver) override {
            thread = std::thread([this, deliver] {
                std::size_t at = 0;
                for (std::size_t size : kChunks) {
                    deliver(pcm.data() + at, size);
                    at += size;
                }
                done = true;
            });
            return true;
        }
        void Stop() override {
            if (thread.joinable()) thread.join();
        }
        const std::vector<std::uint8_t>& pcm;
        std::atomic<bool> done{false};
        std::thread thread;
    };
    Source* source = nullptr;
    earshot::SetSourceFactory([&] {
        auto made = std::make_unique<Source>(spoken);
        source = made.get();
        return made;
    });
    ASSERT_TRUE(TARN_AudioCap_Init());
    struct Heard {
        std::vector<std::uint8_t> bytes;
        std::vector<int> lengths;
    } heard;
    TARN_AudioCap_Start(
        [](const std::uint8_t* pcm, int length, void* user) {
            auto& into = *static_cast<Heard*>(user);
            into.lengths.push_back(length);
            into.bytes.insert(into.bytes.end(), pcm, pcm + length);
        },
        &heard);
    while (!source->done) std::this_thread::yield();
    TARN_AudioCap_Stop();

    for (int length : heard.lengths) EXPECT_TRUE(length > 0 && length % 640 == 0) << length;
    const std::size_t whole = spoken.size() / 640 * 640;
    ASSERT_EQ(heard.bytes.size(), whole) << "everything but the last unfinished block";
    EXPECT_TRUE(std::equal(heard.bytes.begin(), heard.bytes.end(), spoken.begin()));
    TARN_AudioCap_DelInit();
    earshot::SetSourceFactory({});
}

// libavcodec rounds to the nearest step where G.711 truncates, so the codes of the
// two encoders may differ by one step, never by more and never in sign.
TEST(Alaw, AgreesWithLibavcodecsEncoderWithinOneStep) {
    std::vector<std::int16_t> samples;
    for (int v = -32768; v <= 32767; v += 3) samples.push_back(static_cast<std::int16_t>(v));
    const std::vector<std::uint8_t> reference = sim::EncodeAlaw(samples.data(), samples.size());
    ASSERT_EQ(reference.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int ours = chime::LinearToAlaw(samples[i]) ^ 0x55;
        const int theirs = reference[i] ^ 0x55;
        ASSERT_EQ(ours & 0x80, theirs & 0x80) << samples[i];
        ASSERT_LE(std::abs((ours & 0x7F) - (theirs & 0x7F)), 1) << samples[i];
    }
}
