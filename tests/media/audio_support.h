#pragma once
// Stand-ins for the sound devices: a player sink that records what it is given and a
// microphone the test speaks into.

#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libs/chime/chime.h"
#include "libs/earshot/earshot.h"

namespace media_testing {

// Every player opened, started and fed, in order ("open 8000", "start", "write 640").
class SinkLog {
public:
    void Add(const std::string& event, const std::uint8_t* pcm = nullptr, std::size_t length = 0) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        if (pcm) pcm_.insert(pcm_.end(), pcm, pcm + length);
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::uint8_t> Pcm() {
        std::lock_guard lock(mutex_);
        return pcm_;
    }
    std::size_t PcmBytes() {
        std::lock_guard lock(mutex_);
        return pcm_.size();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<std::uint8_t> pcm_;
};

class LoggingSink final : public chime::AudioSink {
public:
    explicit LoggingSink(SinkLog& log) : log_(log) {}
    bool Start() override {
        log_.Add("start");
        return true;
    }
    void Write(const std::uint8_t* pcm, std::size_t length) override {
        log_.Add("write " + std::to_string(length), pcm, length);
    }

private:
    SinkLog& log_;
};

// Installs a logging sink for every player while it lives.
class SinkCapture {
public:
    SinkCapture() {
        chime::SetSinkFactory([this](const chime::AudioFormat& format) {
            log.Add("open " + std::to_string(format.sampleRate));
            return std::make_unique<LoggingSink>(log);
        });
    }
    ~SinkCapture() { chime::SetSinkFactory({}); }
    SinkLog log;
};

// A microphone the test speaks into with Speak(); installed while it lives.
class FakeMicrophone {
public:
    FakeMicrophone() {
        earshot::SetSourceFactory([this]() -> std::unique_ptr<earshot::CaptureSource> {
            if (!present) return nullptr;
            return std::make_unique<Source>(*this);
        });
    }
    ~FakeMicrophone() {
        TARN_AudioCap_DelInit();
        earshot::SetSourceFactory({});
    }
    bool Speak(const std::uint8_t* pcm, std::size_t length) {
        std::lock_guard lock(mutex_);
        if (!deliver_) return false;
        deliver_(pcm, length);
        return true;
    }
    bool Capturing() {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(deliver_);
    }
    bool present = true;
    bool starts = true;  // false: the device is there but will not start

private:
    class Source final : public earshot::CaptureSource {
    public:
        explicit Source(FakeMicrophone& owner) : owner_(owner) {}
        bool Start(Deliver deliver) override {
            std::lock_guard lock(owner_.mutex_);
            if (!owner_.starts) return false;
            owner_.deliver_ = std::move(deliver);
            return true;
        }
        void Stop() override {
            std::lock_guard lock(owner_.mutex_);
            owner_.deliver_ = nullptr;
        }

    private:
        FakeMicrophone& owner_;
    };

    std::mutex mutex_;
    earshot::CaptureSource::Deliver deliver_;
};

// 16-bit little-endian PCM of a tone.
inline std::vector<std::uint8_t> TonePcm(std::size_t bytes, double hz = 440.0, double amplitude = 8000.0) {
    std::vector<std::uint8_t> pcm(bytes);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const auto value = static_cast<std::int16_t>(amplitude * std::sin(2 * 3.14159265358979 * hz * (i / 2) / 8000.0));
        pcm[i] = static_cast<std::uint8_t>(value & 0xFF);
        pcm[i + 1] = static_cast<std::uint8_t>((static_cast<std::uint16_t>(value) >> 8) & 0xFF);
    }
    return pcm;
}

}  // namespace media_testing
