#pragma once
// The tree refresh on the task threads: fetches the camera list again into the item
// table (1045 to the task threads, answered by 1045 to the window, wParam 0 on success).

#include <cstdint>
#include <functional>

#include "platform/message.h"

namespace session {
class CAppInteance;
}

namespace tasks {

struct RefreshEnvironment {
    // Replaces the item table with a freshly fetched list; false when it failed.
    std::function<bool()> refresh;
    std::function<bool(platform::Message)> postNotify;
};

void HandleRefreshTree(platform::Message& message, const RefreshEnvironment& environment);
void RegisterRefreshTask(session::CAppInteance& application);

}  // namespace tasks
