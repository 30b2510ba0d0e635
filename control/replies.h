#pragma once
// What the replies of the control channel mean once the envelope is read: the login's
// session, the camera list's chunks, forwarding addresses, alarm rows (searched and
// pushed) and the authority list. Everything here works on a reply's text params
// alone, so the requests of ControlClient and the fuzz targets share it.

#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "core/app_config.h"
#include "control/control_message.h"
#include "control/control_types.h"

namespace control {

using ReplyParams = std::map<std::string, std::string>;

// A reply's "status" as a number (missing or not a number: 0; beyond int: saturated,
// never wrapped round into an accepted value).
int ReplyStatus(const ReplyParams& params);

// The session a login reply with `status` opens for `userName` and `password`; nothing
// unless the status is 1 or 2 (accepted).
std::optional<core::LoginSession> SessionFromLoginReply(int status, const ReplyParams& reply,
                                                       const std::string& userName, const std::string& password);

// What the login sequence makes of a login's result (0: no reply in time): nothing
// when it goes on (1, the one status that opens a session the sequence accepts),
// otherwise the reason it shows. A status nobody knows (3, 99) fails with its number
// instead of going on without a session.
std::optional<std::string> LoginRefusal(int status);

// The camera and node list as it comes, in one or more replies of type 29: each
// chunk's 13 lists are appended, joined with ";" from the second chunk on (counted,
// not read off the camera-id list: a first chunk of a single node has an empty one),
// until a chunk whose "end" reads 1. The whole is capped: a list beyond any real
// account makes the request fail rather than hold ever more memory.
class CameraListAssembly {
public:
    enum class Step { kMore, kEnd, kOverflow };

    explicit CameraListAssembly(std::size_t limitBytes) : limitBytes_(limitBytes) {}

    // Takes one chunk; after kEnd or kOverflow further chunks change nothing.
    Step Add(const ReplyParams& chunk);

    bool Overflowed() const { return overflow_; }
    std::size_t Chunks() const { return chunks_; }
    std::size_t Bytes() const { return bytes_; }
    // The status of the last chunk taken (-1 before any).
    int Status() const { return status_; }
    const CameraListReply& Lists() const { return lists_; }

private:
    std::size_t limitBytes_;
    std::size_t chunks_ = 0;
    std::size_t bytes_ = 0;
    bool overflow_ = false;
    bool ended_ = false;
    int status_ = -1;
    CameraListReply lists_;
};

// The reply keys of a forwarding-address request, and the address they give.
extern const char* const kAddressReplyKeys[5];
TransportAddress AddressFromReply(int status, const ReplyParams& reply);

// The picture URL of an alarm: the upload URL followed by the picture value; empty
// when the value is.
AlarmRecord MakeAlarmRecord(const std::string& uploadUrl, const std::string& nodeId, const std::string& nodeName,
                            const std::string& cameraId, const std::string& cameraName, const std::string& kindName,
                            const std::string& message, const std::string& picture, const std::string& time);

// The list keys of an alarm search reply, in AlarmRecord field order.
extern const char* const kAlarmListKeys[8];
// Appends the rows of an alarm search reply: row i takes item i of every list, while
// every list has one and up to the first row missing an identifying text (node id and
// name, camera id and name, kind, message; picture and time may be empty).
void AppendAlarmRows(const ReplyParams& reply, const std::string& uploadUrl, AlarmSearchResult& out);

// A pushed alarm (msgType 7) as a record.
AlarmRecord AlarmFromPush(const ControlMessage& message, const std::string& uploadUrl);

// The authority reply grants what it names only with a status above 0. A status that
// is no number at all (the decoder lets such replies through) counts as given.
bool AuthorityGranted(const std::string& status);
// Every value of the reply, in ascending key order, each followed by ";".
std::string AuthorityListText(const ReplyParams& reply);

}  // namespace control
