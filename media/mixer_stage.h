#pragma once
// The overlay stage: while the camera records, Glaze draws the recording mark into
// the decoded picture before it is shown.

#include "libs/glaze/glaze.h"
#include "media/stage.h"

namespace media {

// "●录像中" (recording) in GBK, as the on-screen-display block carries it.
inline constexpr char kRecordingMarkGbk[] = "\xA1\xF1\xC2\xBC\xCF\xF1\xD6\xD0";

// Fills the block (zeroed first) and the picture description for the recording mark
// of a width x height picture: entry 1 at x = width*7/8, y = height*9/10 - 30, font
// index 0 up to 352 pixels wide, 1 up to 704, 2 beyond.
void FillRecordingMark(std::uint8_t* picture, int width, int height, GLZ_OSD& osd, GLZ_PICTURE& description);

class CDoMixer final : public CDoHandle {
public:
    explicit CDoMixer(StageHost& host);
    ~CDoMixer() override;

    bool Init() override;
    bool Release() override;
    bool Process(StageFrame& frame) override;

private:
    int mixer_ = 0;
    platform::WindowHandle window_ = 0;
    int width_ = 0;
    int height_ = 0;
    GLZ_OSD osd_{};
};

}  // namespace media
