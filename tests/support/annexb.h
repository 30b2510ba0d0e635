#pragma once
// Splitting of an H.264 Annex B byte stream into NAL units and access units, the way a
// camera's packetiser hands them over: each piece keeps its start codes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

struct NalUnit {
    std::size_t offset = 0;  // of the start code (including a leading zero byte)
    std::size_t size = 0;    // up to the next start code
    int type = 0;
    bool firstSliceOfPicture = false;  // VCL unit whose first_mb_in_slice is 0
};

inline std::vector<NalUnit> SplitNalUnits(std::string_view stream) {
    std::vector<NalUnit> units;
    for (std::size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        NalUnit unit;
        unit.offset = (i > 0 && stream[i - 1] == 0) ? i - 1 : i;
        const std::size_t header = i + 3;
        if (header < stream.size()) unit.type = static_cast<unsigned char>(stream[header]) & 0x1F;
        if ((unit.type == 1 || unit.type == 5) && header + 1 < stream.size())
            unit.firstSliceOfPicture = (static_cast<unsigned char>(stream[header + 1]) & 0x80) != 0;
        if (!units.empty()) units.back().size = unit.offset - units.back().offset;
        units.push_back(unit);
        i += 2;
    }
    if (!units.empty()) units.back().size = stream.size() - units.back().offset;
    return units;
}

// An access unit ends before a delimiter, SEI or parameter set, or before the first
// slice of the next picture, once it holds a slice.
inline std::vector<std::string> SplitAccessUnits(std::string_view stream) {
    std::vector<std::string> units;
    std::size_t start = 0;
    bool holdsSlice = false;
    for (const NalUnit& nal : SplitNalUnits(stream)) {
        const bool nonVclLead = nal.type == 6 || nal.type == 7 || nal.type == 8 || nal.type == 9 ||
                                (nal.type >= 14 && nal.type <= 18);
        const bool vcl = nal.type >= 1 && nal.type <= 5;
        if (holdsSlice && (nonVclLead || (vcl && nal.firstSliceOfPicture))) {
            units.emplace_back(stream.substr(start, nal.offset - start));
            start = nal.offset;
            holdsSlice = false;
        }
        holdsSlice = holdsSlice || vcl;
    }
    if (start < stream.size() && holdsSlice) units.emplace_back(stream.substr(start));
    return units;
}

}  // namespace testing_support
