#pragma once
// The default output of Chime's players: Qt Multimedia's default audio device.

#include <memory>

#include "libs/chime/chime.h"

namespace chime {

// nullptr without an application object or an output device.
std::unique_ptr<AudioSink> MakeDefaultOutput(const AudioFormat& format);

}  // namespace chime
