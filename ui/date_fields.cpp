#include "ui/date_fields.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace ui {

DateTimeFields DateTimeFields::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

namespace date_rules {
namespace {

// The digits at [at, at + count) as a number; -1 when the text is shorter or they
// are not all digits.
int DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
    if (text.size() < at + count) return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool Take(int value, int low, int high, int& field) {
    if (value < low || value > high) return false;
    field = value;
    return true;
}

}  // namespace

int DaysInMonth(int year, int month) {
    using namespace std::chrono;
    if (month < 1 || month > 12) return 31;
    return static_cast<int>(unsigned(year_month_day_last(std::chrono::year(year) / std::chrono::month(month) / last).day()));
}

int FirstWeekday(int year, int month) {
    using namespace std::chrono;
    const weekday first{sys_days{std::chrono::year(year) / std::chrono::month(month) / 1}};
    return static_cast<int>(first.c_encoding());
}

static void KeepDayInMonth(DateTimeFields& fields) {
    fields.day = std::clamp(fields.day, 1, DaysInMonth(fields.year, fields.month));
}

void StepMonth(DateTimeFields& fields, int delta) {
    fields.month += delta;
    if (fields.month > 12) {
        fields.month = 1;
        fields.year = std::min(fields.year + 1, kMaxYear);
    } else if (fields.month < 1) {
        fields.month = 12;
        fields.year = std::max(fields.year - 1, kMinYear);
    }
    KeepDayInMonth(fields);
}

void StepYear(DateTimeFields& fields, int delta) {
    fields.year = std::clamp(fields.year + delta, kMinYear, kMaxYear);
    KeepDayInMonth(fields);
}

int WrapStep(int value, int delta, int max) {
    value += delta;
    if (value > max) return 0;
    if (value < 0) return max;
    return value;
}

int TypedValue(std::string_view text, int max) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty() || text.size() > 9) return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value > max ? 0 : value;
}

bool SelectDay(DateTimeFields& fields, int day) {
    if (day < 1 || day > DaysInMonth(fields.year, fields.month)) return false;
    fields.day = day;
    return true;
}

std::string FormatDateTime(const DateTimeFields& f) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
                  f.second);
    return text;
}

std::string FormatDate(const DateTimeFields& f) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", f.year, f.month, f.day);
    return text;
}

bool ReadDate(std::string_view text, DateTimeFields& fields) {
    DateTimeFields read = fields;
    bool all = Take(DigitsAt(text, 0, 4), kMinYear, kMaxYear, read.year);
    all = Take(DigitsAt(text, 5, 2), 1, 12, read.month) && all;
    // The day is checked against the month that will be shown.
    const int day = DigitsAt(text, 8, 2);
    all = Take(day, 1, DaysInMonth(read.year, read.month), read.day) && all;
    KeepDayInMonth(read);
    fields = read;
    return all;
}

bool ReadDateTime(std::string_view text, DateTimeFields& fields) {
    bool all = ReadDate(text, fields);
    all = Take(DigitsAt(text, 11, 2), 0, 23, fields.hour) && all;
    all = Take(DigitsAt(text, 14, 2), 0, 59, fields.minute) && all;
    all = Take(DigitsAt(text, 17, 2), 0, 59, fields.second) && all;
    return all;
}

}  // namespace date_rules
}  // namespace ui
