// Arbitrary bytes as an ini file: reading any key must not fail, and a write must
// make the value readable while keeping every other section's values as they were.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/ini_file.h"

namespace {

const std::string& ScratchPath() {
    static const std::string path = "/tmp/larkview-fuzz-ini-" + std::to_string(getpid()) + ".ini";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = ScratchPath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    // Names the program really reads, and one taken from the input itself.
    const std::string fromInput(reinterpret_cast<const char*>(data), size < 8 ? size : 8);
    for (const char* section : {"Config", "User 0", "Record"})
        for (const char* key : {"Ip", "Port", "UserName", "path"})
            (void)platform::ReadProfileString(section, key, "", path);
    (void)platform::ReadProfileString(fromInput, fromInput, "d", path, 16);

    const std::string before = platform::ReadProfileString("Other", "Keep", "<none>", path);
    if (!platform::WriteProfileString("Fuzz Section", "Fuzz Key", "value 1", path)) abort();
    if (platform::ReadProfileString("Fuzz Section", "Fuzz Key", "", path) != "value 1") abort();
    if (platform::ReadProfileString("Other", "Keep", "<none>", path) != before) abort();
    std::remove(path.c_str());
    return 0;
}
