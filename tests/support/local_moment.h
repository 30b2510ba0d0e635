#pragma once
// Seconds since 1970 of a local date and time, wherever the tests run.

#include <cstdint>
#include <ctime>

#include "record/frame_record.h"

namespace testing_support {

inline std::int64_t Moment(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return *record::SecondsOfLocalTime(t);
}

}  // namespace testing_support
