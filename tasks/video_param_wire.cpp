// The wire form of video parameters; kept apart from the handlers so that the parser
// can be fuzzed on its own.
#include <charconv>

#include "tasks/video_param_tasks.h"

namespace tasks {
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

}  // namespace tasks
