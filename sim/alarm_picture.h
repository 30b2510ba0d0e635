#pragma once
// Alarm pictures: a synthetic scene with the camera's name, the alarm kind and its
// time drawn in, encoded as JPEG. Text needs a QGuiApplication in the process (fonts
// come from the platform integration); without one the picture carries no text.

#include <cstdint>
#include <string>

namespace sim {

struct AlarmPictureText {
    std::int64_t alarmId = 0;
    std::string cameraName;
    std::string nodeName;
    std::string kindName;
    std::string time;
};

// JPEG bytes, or empty when encoding fails.
std::string RenderAlarmPicture(const AlarmPictureText& text, int width = 640, int height = 360);

// Whether pictures get their text (a QGuiApplication exists).
bool AlarmPictureHasText();

}  // namespace sim
