#pragma once
// One waiting place per synchronous request type: the prepared request with its fixed
// id, the event its reply handler sets, and the reply values. Replies are matched by
// message type only, so at most one request of a type may wait at a time.

#include <map>
#include <mutex>
#include <string>

#include "control/control_client.h"
#include "platform/sync.h"
#include "platform/tick.h"

namespace control {

struct ControlClient::SyncRequestSlot {
    explicit SyncRequestSlot(int msgType) {
        request.id = static_cast<std::int32_t>(platform::TickCount());
        request.msgType = msgType;
        request.realm = 1;
    }

    // Held by the caller from sending the request to taking the reply. Callers of one
    // type come from many threads (every video link's supervision, the open tasks, the
    // reconnection supervisor): without it they would write the one request record at
    // once and wake each other with one another's replies.
    std::mutex caller;
    platform::Event event{false, false};
    ControlMessage request;
    std::mutex mutex;  // the reply handler writes on the connection's thread
    int status = -1;
    std::map<std::string, std::string> reply;
};

}  // namespace control
