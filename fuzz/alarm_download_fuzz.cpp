// What the alarm picture download reads from outside: the HTTP status line of the
// answer, and the picture URL of an alarm turned into a cache file name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/live_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int status = ui::HttpStatusOf(text);
    if (status < 0 || status > 999) std::abort();

    // Whatever the URL, the file stays directly in the cache folder.
    const std::string file = ui::AlarmPictureCacheFile("/cache", text);
    if (file.rfind("/cache/", 0) != 0) std::abort();
    const std::string name = file.substr(7);
    if (name.find('/') != std::string::npos || name.find("..") != std::string::npos || name.size() > 32 + 5)
        std::abort();
    return 0;
}
