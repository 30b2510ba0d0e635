#pragma once
// Video parameters of the camera in the selected live cell: the record that travels
// between the window and the task threads (1039 write, 1040 read and its answer), the
// rules of the window's controls, and the task handlers that talk to the camera's
// forwarding link (commands 9 and 10).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/message.h"

namespace app {
class CAppInteance;
}

namespace mainwin {

constexpr std::uint32_t kTaskWriteVideoParameters = 1039;
constexpr std::uint32_t kTaskReadVideoParameters = 1040;
constexpr std::uint32_t kVideoParametersRead = 1040;  // to the window, payload VideoParamRecord

struct VideoParamRecord {
    int cell = 0;
    int width = 0;
    int height = 0;
    int quality = 0;
    int frameRate = 0;
    int recorder = 0;
};

// The frame rates the "Frame" combo offers, in its order.
inline constexpr int kFrameRates[] = {1, 3, 5, 7, 9, 11, 12, 15, 18, 21, 24};
// The combo index of a rate; -1 when the combo does not offer it.
int FrameRateIndex(int rate);
// The sizes the "Resolution" combo offers after "自动" (automatic), in its order.
inline constexpr std::pair<int, int> kResolutions[] = {{352, 240}, {352, 288},  {704, 288},
                                                       {704, 576}, {1280, 720}, {1920, 1080}};
// Automatic: the smallest offered size that fills a cell of `cellPixels` (width, height
// in device pixels) without enlarging the picture; the largest when none is that big.
// A camera sends no more than its cell can show, and full screen asks for more.
std::pair<int, int> AutomaticResolution(std::pair<int, int> cellPixels);
// The picture size of a "Resolution" index: 0 automatic for the cell, 1..6 the offered
// sizes, anything else 1920×1080.
std::pair<int, int> ResolutionOfIndex(int index, std::pair<int, int> cellPixels);
// "%dX%d".
std::string SizeText(int width, int height);
// The leading decimal number of a combo text ("15" of "15 fps"); 0 when there is none.
int LeadingNumber(const std::string& text);

// The camera's answer to a read, as the link hands it over. Every value must be a
// plain decimal number in range; anything else makes the answer unusable.
std::optional<VideoParamRecord> ParseVideoParameters(const std::map<std::string, std::string>& reply, int cell);
// The parameters a write sends ("width", "height", "qp", "fr", "recoder").
std::map<std::string, std::string> VideoParameterCommand(const VideoParamRecord& record);

struct VideoParamEnvironment {
    // The link of a cell's camera; false when the cell has none or it did not answer.
    std::function<bool(int cell, const std::map<std::string, std::string>&)> write;
    std::function<bool(int cell, std::map<std::string, std::string>&)> read;
    std::function<bool(platform::Message)> postNotify;
};

// 1039: payload VideoParamRecord.
void HandleWriteVideoParameters(platform::Message& message, const VideoParamEnvironment& environment);
// 1040: wParam the cell; answers with 1040 and a record when the camera replied.
void HandleReadVideoParameters(platform::Message& message, const VideoParamEnvironment& environment);

// Both handlers on the application's dispatcher, reaching the camera registry.
void RegisterVideoParamTasks(app::CAppInteance& application);

}  // namespace mainwin
