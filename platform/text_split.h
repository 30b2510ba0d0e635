#pragma once

#include <string>
#include <vector>

namespace platform {

// The pieces of `text` between separators, empty ones kept: "a;;b;" gives
// "a", "", "b", "" and "" gives one empty piece, so positions in parallel lists match.
std::vector<std::string> SplitKeepingEmpty(const std::string& text, char separator);

}  // namespace platform
