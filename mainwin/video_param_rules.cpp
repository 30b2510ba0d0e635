// The rules of the video-parameter controls and the parsing of a camera's answer;
// kept apart from the task handlers so that the parser can be fuzzed on its own.
#include <charconv>
#include <cstdio>

#include "mainwin/video_params.h"

namespace mainwin {
namespace {

// A whole decimal number within [low, high].
std::optional<int> Number(const std::map<std::string, std::string>& reply, const char* key, int low, int high) {
    auto it = reply.find(key);
    if (it == reply.end() || it->second.empty()) return std::nullopt;
    const std::string& text = it->second;
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

}  // namespace

int FrameRateIndex(int rate) {
    for (int i = 0; i < static_cast<int>(std::size(kFrameRates)); ++i)
        if (kFrameRates[i] == rate) return i;
    return -1;
}

std::pair<int, int> AutomaticResolution(std::pair<int, int> cellPixels) {
    for (const auto& size : kResolutions)
        if (size.first >= cellPixels.first && size.second >= cellPixels.second) return size;
    return kResolutions[std::size(kResolutions) - 1];
}

std::pair<int, int> ResolutionOfIndex(int index, std::pair<int, int> cellPixels) {
    if (index == 0) return AutomaticResolution(cellPixels);
    if (index >= 1 && index <= static_cast<int>(std::size(kResolutions))) return kResolutions[index - 1];
    return {1920, 1080};
}

std::string SizeText(int width, int height) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%dX%d", width, height);
    return buffer;
}

int LeadingNumber(const std::string& text) {
    int value = 0;
    const char* begin = text.data();
    while (begin != text.data() + text.size() && *begin == ' ') ++begin;
    auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    return error == std::errc() ? value : 0;
}

std::optional<VideoParamRecord> ParseVideoParameters(const std::map<std::string, std::string>& reply, int cell) {
    const auto width = Number(reply, "width", 0, 16384);
    const auto height = Number(reply, "height", 0, 16384);
    const auto quality = Number(reply, "qp", 0, 255);
    const auto rate = Number(reply, "fr", 0, 1000);
    if (!width || !height || !quality || !rate) return std::nullopt;
    // The recorder flag is optional: cameras without a recorder leave it out.
    const auto recorder = Number(reply, "recoder", 0, 1);
    return VideoParamRecord{cell, *width, *height, *quality, *rate, recorder.value_or(0)};
}

std::map<std::string, std::string> VideoParameterCommand(const VideoParamRecord& record) {
    return {{"width", std::to_string(record.width)},
            {"height", std::to_string(record.height)},
            {"qp", std::to_string(record.quality)},
            {"fr", std::to_string(record.frameRate)},
            {"recoder", std::to_string(record.recorder)}};
}

}  // namespace mainwin
