#pragma once
// Export of a recording to an MP4 file: the recorded H.264 access units remuxed by
// libavformat without re-encoding, stamped with the recorded frame times.

#include <cstdint>
#include <string>

#include "libs/rewind/rewind.h"

namespace rewindlib {

struct ExportRequest {
    std::string path;
    std::string outPath;
    std::int64_t fromTime = 0;  // seconds since 1970, recorded time; 0 and 0: the whole file
    std::int64_t toTime = 0;
    TARN_PB_ExportProgress progress = nullptr;
    void* user = nullptr;
};

// TARN_PB_OK or one of the TARN_PB_ERR_ codes. The output appears only when whole:
// it is written beside `outPath` under a passing name and renamed at the end.
int ExportToMp4(const ExportRequest& request);

}  // namespace rewindlib
