// The status-bar clock under a fixed locale and time zone.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "app/clock_text.h"

namespace {

class ClockText : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            savedTz = tz;
        }
        savedLocale = std::setlocale(LC_TIME, nullptr);
        std::setlocale(LC_TIME, "C");
        useZone("UTC");
    }
    void TearDown() override {
        if (savedTz) {
            ::setenv("TZ", savedTz->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
        std::setlocale(LC_TIME, savedLocale.c_str());
    }
    static void useZone(const char* tz) {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    // 2026-12-08 at the given UTC time.
    static std::time_t utc(int hour, int minute, int second) {
        std::tm t{};
        t.tm_year = 2026 - 1900;
        t.tm_mon = 11;
        t.tm_mday = 8;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        return ::timegm(&t);
    }
    std::optional<std::string> savedTz;
    std::string savedLocale;
};

TEST_F(ClockText, DateAndTimeExceptExactlyAtMidnight) {
    const struct {
        std::time_t when;
        const char* text;
    } cases[] = {
        {utc(3, 1, 6), "12/08/26 03:01:06"}, {utc(0, 0, 0), "12/08/26"},
        {utc(0, 0, 1), "12/08/26 00:00:01"}, {utc(0, 1, 0), "12/08/26 00:01:00"},
        {utc(1, 0, 0), "12/08/26 01:00:00"}, {utc(23, 59, 59), "12/08/26 23:59:59"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::clockText(c.when), c.text);
    }
}

TEST_F(ClockText, MidnightIsLocalNotUtc) {
    useZone("XYZ-02");  // two hours east of UTC
    EXPECT_EQ(app::clockText(utc(22, 0, 0) - 24 * 3600), "12/08/26");
    EXPECT_EQ(app::clockText(utc(0, 0, 0)), "12/08/26 02:00:00");
}

}  // namespace
