// Arbitrary bytes as a reply of the control channel (scrambled or plain).
#include <cstddef>
#include <cstdint>

#include "control/control_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto message = control::DecodeMessage(reinterpret_cast<const char*>(data), size);
    if (message) {
        // What the client then does with it: re-encode, look up keys.
        (void)control::EncodeRequest(*message);
        (void)message->Param("status");
    }
    return 0;
}
