// Arbitrary bytes as a recording file: the frame-record walk over them in memory, and
// the recovery of the same bytes left behind as "tmp.mvd" (header walk, torn-tail cut,
// naming from the packed times, rename); the leading bytes as a camera id from the
// service must give a folder name directly below the record root.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "record/frame_record.h"
#include "platform/paths.h"
#include "record/recorder.h"
#include "record/recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t frames = 0, bytes = 0;
    const std::size_t sound = record::ScanFrameRecords(data, size, [&](const record::FoundFrame& frame) {
        ++frames;
        bytes += frame.dataLength;
        if (frame.offset + frame.header.recordLength > size || frame.data + frame.dataLength > data + size) abort();
        return true;
    });
    if (sound > size) abort();
    if (record::UnpackLocalTime(size >= 4 ? data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24 : 0))
        (void)frames;

    static const std::string folder = [] {
        char pattern[] = "/tmp/larkview-fuzz-record-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) abort();
        return std::string(made);
    }();
    // Gone at exit (the seed replay runs with every test run); registered after the
    // folder's text exists, so it runs before that text is gone.
    static const bool removedAtExit = std::atexit([] {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }) == 0;
    (void)removedAtExit;
    const std::string working = folder + "/tmp.mvd";
    if (FILE* file = std::fopen(working.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    std::string kept;
    const record::Recovery result = record::RecoverWorkingFile(folder, &kept);
    std::error_code error;
    if (result == record::Recovery::kKept) {
        // The finished file is exactly the sound prefix.
        if (std::filesystem::file_size(folder + "/" + kept, error) != sound) abort();
        std::filesystem::remove(folder + "/" + kept, error);
    } else if (result == record::Recovery::kTooShort) {
        if (std::filesystem::file_size(working, error) != sound) abort();
    }
    std::filesystem::remove(working, error);

    const std::string id(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
    const std::string name = record::CameraFolderName(id);
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
        name.size() > 64 || name != record::CameraFolderName(id))
        abort();
    if (std::filesystem::path(platform::JoinPath("/root-of-records", name)).parent_path() != "/root-of-records") abort();
    return 0;
}
