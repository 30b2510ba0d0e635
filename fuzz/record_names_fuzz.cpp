// Recording file names as the sweeper reads them: arbitrary bytes as the name of a
// file below the record root. Checked: a name read as a finished recording is exactly
// the name the recorder writes for its two times (it round-trips), its start is a
// time; and the sweeper itself, run over a folder holding just that file, deletes it
// only when the name was read and its start lies before the cut-off, never otherwise.
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/paths.h"
#include "record/frame_record.h"
#include "record/sweeper.h"

namespace {

// The record root, beside a program folder that takes the sweeper's log.
const std::string& Folder() {
    static const std::string base = [] {
        char pattern[] = "/tmp/larkview-fuzz-sweep-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) std::abort();
        std::filesystem::create_directories(std::string(made) + "/records");
        std::filesystem::create_directories(std::string(made) + "/program");
        platform::SetProgramDirectory(std::string(made) + "/program");
        return std::string(made);
    }();
    static const std::string folder = [] {
        std::atexit([] { std::error_code error; std::filesystem::remove_all(base, error); });
        return base + "/records";
    }();
    return folder;
}

// A name the file system takes as one entry of a folder.
bool OneEntry(const std::string& name) {
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const auto times = record::ReadFinishedName(name);
    const auto start = record::StartOfFinishedName(name);
    if (times) {
        if (record::FinishedName(times->start, times->end) != name) std::abort();
        if (!start) std::abort();
    } else if (start) {
        std::abort();
    }
    if (!OneEntry(name)) return 0;

    const std::string& folder = Folder();
    const std::string path = folder + "/" + name;
    { std::ofstream file(path, std::ios::binary | std::ios::trunc); }
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return 0;  // a name this file system refuses
    if (start) {
        // Started exactly at the cut-off: kept; a second later: deleted.
        if (record::RecordSweeper::Sweep(folder, 0, *start) != 0 || !std::filesystem::exists(path, error))
            std::abort();
        if (record::RecordSweeper::Sweep(folder, 0, *start + 1) != 1 || std::filesystem::exists(path, error))
            std::abort();
    } else {
        if (record::RecordSweeper::Sweep(folder, 0, INT64_MAX / 2) != 0 || !std::filesystem::exists(path, error))
            std::abort();
        std::filesystem::remove(path, error);
    }
    return 0;
}
