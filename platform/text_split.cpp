#include "platform/text_split.h"

namespace platform {

std::vector<std::string> SplitKeepingEmpty(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::string::size_type start = 0;
    for (;;) {
        auto end = text.find(separator, start);
        items.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return items;
        start = end + 1;
    }
}

}  // namespace platform
