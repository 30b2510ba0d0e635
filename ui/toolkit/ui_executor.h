#pragma once
// Runs window-message closures on the Qt user-interface thread. Every window handle
// of a skinned window uses this executor, so workers post and send to windows the
// same way they post to headless sinks.

#include <memory>

#include "platform/window_handles.h"

namespace ui {

// The executor of the Qt user-interface thread. Call first on that thread (after the
// QApplication exists). Closures posted after the application is gone are destroyed
// unrun, which completes any blocking send waiting on them with 0.
std::shared_ptr<platform::MessageExecutor> UiExecutor();

}  // namespace ui
