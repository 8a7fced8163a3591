#include "base/Timeutils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace {

class TimeOfDay : public ::testing::Test {
protected:
    void SetUp() override { UseZone("UTC"); }
    void TearDown() override { UseZone("UTC"); }
    static void UseZone(const char* zone) {
#ifdef _WIN32
        _putenv_s("TZ", zone);
        _tzset();
#else
        setenv("TZ", zone, 1);
        tzset();
#endif
    }
};

constexpr std::int64_t kDay = 24 * 3600;

TEST_F(TimeOfDay, FormatsHourMinuteSecondOfTheLocalDay) {
    EXPECT_STREQ(FormatTimeOfDay(7 * 3600 + 5 * 60 + 9), "07:05:09");
    EXPECT_STREQ(FormatTimeOfDay(19 * 3600 + 5 * 60 + 9), "19:05:09");
    EXPECT_STREQ(FormatTimeOfDay(kDay), "00:00:00"); // midnight (0 itself means now)
    EXPECT_STREQ(FormatTimeOfDay(1000 * kDay + 23 * 3600 + 59 * 60 + 59), "23:59:59");
#ifdef _WIN32
    // The Windows C library converts no time before 1970; the text says so.
    EXPECT_STREQ(FormatTimeOfDay(-1), "--:--:--");
#else
    EXPECT_STREQ(FormatTimeOfDay(-1), "23:59:59"); // before 1970
#endif
}

TEST_F(TimeOfDay, FollowsTheLocalZone) {
    UseZone("EST5"); // five hours behind, no summer time
    EXPECT_STREQ(FormatTimeOfDay(kDay + 12 * 3600 + 30), "07:00:30");
    EXPECT_STREQ(FormatTimeOfDay(kDay + 2 * 3600), "21:00:00");
}

TEST_F(TimeOfDay, ZeroMeansNowAndAgreesWithTimeOfDayText) {
    // The two readings straddle at most one second change; retry until they agree.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string text = TimeOfDayText();
        const std::string now = FormatTimeOfDay(0);
        const std::time_t after = std::time(nullptr);
        if (before != after) {
            continue;
        }
        EXPECT_EQ(text, now);
        EXPECT_EQ(now, FormatTimeOfDay(static_cast<std::int64_t>(before)));
        return;
    }
    FAIL() << "clock kept changing second";
}

TEST_F(TimeOfDay, TimeBeyondTheCalendarGivesAPlaceholder) {
    EXPECT_STREQ(FormatTimeOfDay(std::numeric_limits<std::int64_t>::max()), "--:--:--");
    EXPECT_STREQ(FormatTimeOfDay(std::numeric_limits<std::int64_t>::min()), "--:--:--");
    EXPECT_STREQ(FormatTimeOfDay(60), "00:01:00"); // and back to normal
}

} // namespace
