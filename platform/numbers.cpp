#include "platform/numbers.h"

#include <climits>

namespace platform {

int ParseInt(std::string_view text) {
    std::size_t at = 0;
    // The blanks isspace knows in the C locale, as atoi skips them.
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    long long value = 0;  // the magnitude, held at INT_MAX + 1 once it passes it
    constexpr long long kCap = static_cast<long long>(INT_MAX) + 1;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > kCap) value = kCap;
    }
    if (negative) return static_cast<int>(-value);  // -(INT_MAX + 1) is INT_MIN
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int ParsePort(std::string_view text) {
    const int port = ParseInt(text);
    return port >= 1 && port <= 65535 ? port : 0;
}

}  // namespace platform
