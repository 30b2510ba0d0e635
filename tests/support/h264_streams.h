#pragma once
// Test streams made on the spot with the ffmpeg command-line tool (libx264), and
// FFmpeg's own decode of them as the reference.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

struct StreamRecipe {
    int width = 352;
    int height = 288;
    int frames = 25;
    std::string profile = "main";   // baseline, main, high, high422, high444
    int bFrames = 0;
    std::string pixelFormat = "yuv420p";
    std::string bitstreamFilter;    // for example h264_metadata=crop_right=2
    std::string preset = "veryfast";
    std::string extraOptions;       // further encoder options, for example "-g 50 -b:v 1M"
};

inline bool RunQuiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Writes an Annex B H.264 stream of the recipe (25 frames per second).
inline bool EncodeStream(const StreamRecipe& recipe, const std::string& path) {
    std::ostringstream command;
    command << "ffmpeg -hide_banner -nostdin -y -loglevel error -f lavfi -i testsrc2=size=" << recipe.width << "x"
            << recipe.height << ":rate=25 -frames:v " << recipe.frames << " -c:v libx264 -preset " << recipe.preset
            << " -profile:v " << recipe.profile << " -bf " << recipe.bFrames << " -pix_fmt " << recipe.pixelFormat;
    if (!recipe.extraOptions.empty()) command << " " << recipe.extraOptions;
    if (!recipe.bitstreamFilter.empty()) command << " -bsf:v " << recipe.bitstreamFilter;
    command << " -f h264 '" << path << "'";
    return RunQuiet(command.str());
}

// FFmpeg's single-threaded decode of `input` as raw planes of `pixelFormat`, every
// decoded picture once (no frame-rate duplication or dropping).
inline bool DecodeReference(const std::string& input, const std::string& pixelFormat, const std::string& output) {
    return RunQuiet("ffmpeg -hide_banner -nostdin -y -loglevel error -threads 1 -i '" + input +
                    "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixelFormat + " '" + output + "'");
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace testing_support
