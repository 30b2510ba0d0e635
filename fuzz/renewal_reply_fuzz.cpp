// The renewal reply: control messages (fuzz_messages.h) as the control client hands
// them to the renewal dialog, taken by the dialog's exchange, and what the live view
// makes of the answer. A message with a "#sent" line is the dialog sending its
// request, with that id (without one the request goes out first, with id 41).
//
// Checked: only the first message with the request's id after the request is taken,
// never one before it or with id 0; the reply carries its values, the status read as
// strtoll reads it ("4294967297" is no success); every status that is not a success
// has a text for the user.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz_messages.h"
#include "platform/numbers.h"
#include "ui/live_rules.h"

namespace {

int ReferenceNumber(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

void Check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<control::ControlMessage> messages =
        fuzz_input::ReadMessages(std::string_view(reinterpret_cast<const char*>(data), size));
    const bool sentByInput = std::any_of(messages.begin(), messages.end(),
                                         [](const control::ControlMessage& m) { return m.params.count("#sent") > 0; });
    ui::RenewalExchange exchange;
    std::optional<std::int32_t> sent;
    if (!sentByInput) {
        exchange.Sent(41);
        sent = 41;
    }
    bool taken = false;
    for (const control::ControlMessage& message : messages) {
        if (const auto it = message.params.find("#sent"); it != message.params.end() && !sent) {
            sent = platform::ParseInt(it->second);
            exchange.Sent(*sent);
            continue;
        }
        const std::optional<ui::RenewalReply> reply = exchange.Take(message.id, message.params);
        const bool ours = sent && *sent != 0 && message.id == *sent && !taken;
        Check(reply.has_value() == ours && exchange.Answered() == (taken || ours));
        if (!reply) continue;
        taken = true;
        Check(reply->status == ReferenceNumber(message.Param("status")));
        Check(reply->expiredDate == message.Param("expiredDate") && reply->cameraId == message.Param("cameraId") &&
              reply->expire == message.Param("expire"));
        // The live view renews the camera on 1 only, and otherwise says why.
        Check(reply->status == 1 || !ui::RenewalFailureText(reply->status).empty());
    }
    return 0;
}
