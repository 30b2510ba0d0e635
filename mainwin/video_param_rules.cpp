// The rules of the video-parameter window's controls.
#include <charconv>
#include <cstdio>

#include "mainwin/video_params.h"

namespace mainwin {

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

}  // namespace mainwin
