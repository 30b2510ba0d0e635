// A camera's answer to a video-parameter read: arbitrary keys and values, as the
// link hands them over. The parser must accept only sound numbers and never crash.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "mainwin/video_params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // "key=value" lines; the five known keys are likely enough to appear by mutation.
    std::map<std::string, std::string> reply;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(begin, end - begin);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) reply[line.substr(0, eq)] = line.substr(eq + 1);
        begin = end + 1;
    }
    if (auto record = tasks::ParseVideoParameters(reply, 3)) {
        if (record->width < 0 || record->height < 0 || record->recorder < 0 || record->recorder > 1) __builtin_trap();
        tasks::VideoParameterCommand(*record);
        mainwin::SizeText(record->width, record->height);
        mainwin::FrameRateIndex(record->frameRate);
    }
    for (const auto& [key, value] : reply) mainwin::LeadingNumber(value);
    return 0;
}
