#pragma once
// The rules of the video-parameter window's controls for the camera in the selected
// live cell; the record and the task handlers are in tasks/video_param_tasks.h.

#include <string>
#include <utility>

#include "tasks/video_param_tasks.h"

namespace mainwin {

using tasks::VideoParamRecord;

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

}  // namespace mainwin
