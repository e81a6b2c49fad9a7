// The clock in the user's regional formats, as Windows gives them (wine_run.sh runs the
// tests with English (United States) as the user's locale).
#include <gtest/gtest.h>

#include <ctime>

#include "app/clock_text.h"

namespace {

std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(ClockTextWin, ShortDateAndLongTimeMidnightDateAlone) {
    struct Case {
        std::time_t when;
        const char* text;
    };
    for (const Case& c : {Case{localTime(2026, 12, 8, 9, 5, 7), "12/8/2026 9:05:07 AM"},
                          Case{localTime(2026, 12, 8, 23, 59, 59), "12/8/2026 11:59:59 PM"},
                          Case{localTime(2027, 1, 1, 0, 0, 0), "1/1/2027"},
                          Case{localTime(2027, 1, 1, 0, 0, 1), "1/1/2027 12:00:01 AM"}}) {
        EXPECT_EQ(app::clockText(c.when), c.text);
    }
}

}  // namespace
