#pragma once
// The login sequence, run on a thread of its own: master lookup, proxy connection,
// login, updater, camera list. Progress and the outcome go to the notify window as
// blocking kAppNotify messages (wParam = progress, payload = the step text).

#include <atomic>
#include <functional>
#include <string>

#include "session/item_table.h"
#include "control/control_client.h"

namespace session {

// Fetches the camera and node list and replaces the rows of `items` with it.
// `isLive` tells whether a camera is open now. False when the list could not be had.
bool RefreshItemTable(control::ControlClient& client, ItemTable& items,
                      const std::function<bool(const std::string&)>& isLive);

// 1 on success, 0 on failure (the reason has gone to the notify window). When
// `cancelled` becomes true (the login window closed) the sequence stops at its next
// step, quietly: it saves no user, starts no updater and fetches no list.
int RunLoginSequence(const std::atomic<bool>* cancelled = nullptr);

}  // namespace session
