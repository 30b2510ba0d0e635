#pragma once
// The values behind the calendar and the date picker, and their rules: month and
// year steps, wrapping time steps, typed times, and the texts the pickers read and
// write. Pure functions, so the rules are tested exactly.

#include <string>
#include <string_view>

namespace ui {

struct DateTimeFields {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    static DateTimeFields Now();
    bool operator==(const DateTimeFields&) const = default;
};

namespace date_rules {

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;

int DaysInMonth(int year, int month);
// 0 = Sunday … 6 = Saturday, of the first day of the month.
int FirstWeekday(int year, int month);

// Month ± 1: past December is January of the next year, before January is December
// of the year before. Year ± 1. Both keep the day inside the new month.
void StepMonth(DateTimeFields& fields, int delta);
void StepYear(DateTimeFields& fields, int delta);
// value ± 1 inside 0..max, wrapping at both ends (hours: max 23; minutes, seconds: 59).
int WrapStep(int value, int delta, int max);
// A typed hour, minute or second: its number, or 0 when it is above `max`, below 0
// or not a number.
int TypedValue(std::string_view text, int max);
// Selects a day of the shown month; false (nothing changes) for a day it does not have.
bool SelectDay(DateTimeFields& fields, int day);

// "%04d-%02d-%02d %02d:%02d:%02d"
std::string FormatDateTime(const DateTimeFields& fields);
// "%04d/%02d/%02d"
std::string FormatDate(const DateTimeFields& fields);
// Reads a field's text by position: year 0-3, month 5-6, day 8-9 and, with the time,
// hour 11-12, minute 14-15, second 17-18 (any separators). A value that is missing,
// not a number or out of range leaves its field as it was; false when anything was
// left so.
bool ReadDateTime(std::string_view text, DateTimeFields& fields);
bool ReadDate(std::string_view text, DateTimeFields& fields);

}  // namespace date_rules
}  // namespace ui
