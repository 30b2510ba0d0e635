#pragma once
// Decoded control messages as fuzz input, in a text a mutator handles well: messages
// are separated by an empty line; each line is "key=value" (the value runs to the line
// end and may hold any other byte); "#type=" and "#id=" set the message type and id.
// Lines without "=" are ignored.
#include <string>
#include <string_view>
#include <vector>

#include "control/control_message.h"
#include "platform/numbers.h"

namespace fuzz_input {

inline std::vector<control::ControlMessage> ReadMessages(std::string_view text) {
    std::vector<control::ControlMessage> messages(1);
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        if (line.empty()) {
            if (!messages.back().params.empty() || messages.back().msgType != 0) messages.emplace_back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string key(line.substr(0, equals));
        const std::string value(line.substr(equals + 1));
        if (key == "#type")
            messages.back().msgType = platform::ParseInt(value);
        else if (key == "#id")
            messages.back().id = platform::ParseInt(value);
        else
            messages.back().params[key] = value;
    }
    return messages;
}

}  // namespace fuzz_input
