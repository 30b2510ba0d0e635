#pragma once
// The recorder's sense of time: wall-clock seconds (file names, the length limit,
// the packed frame time) and the millisecond tick of the frame records. Tests put a
// clock of their own, so minutes of recording take no time.

#include <cstdint>
#include <functional>

namespace record {

struct RecordClock {
    std::function<std::int64_t()> nowSeconds;
    std::function<std::uint32_t()> tickMs;

    static RecordClock System();
};

}  // namespace record
