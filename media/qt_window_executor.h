#pragma once
// Runs window-message closures on the Qt user-interface thread, so that the play
// thread and the link threads post to a video window like to any other window.
// (A small stand-in until the user-interface toolkit's executor is shared.)

#include <memory>

#include "platform/window_handles.h"

namespace media {

// The executor of the thread the QApplication lives on; call after it exists.
// Closures posted after the application is gone are destroyed unrun.
std::shared_ptr<platform::MessageExecutor> QtWindowExecutor();

}  // namespace media
