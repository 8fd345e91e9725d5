// The idle seconds shown by a user lookup: rounding, the day length used,
// and what happens when the figure does not fit.
#include "commands/user_lookup.h"

#include <gtest/gtest.h>

#include <string>


namespace nelv::commands {
namespace {

constexpr double kSomeDay = 45123.5;  // a mid-2023 afternoon
constexpr double kSecond = 1.0 / 86400.0;

TEST(IdleSeconds, RoundsToTheNearestSecond) {
    struct Case {
        double secondsAgo;
        std::int32_t shown;
    };
    const Case cases[] = {
        {0.0, 0},     {0.4, 0},       {0.6, 1},   {90.4, 90},
        {90.6, 91},   {3600, 3600},   {86400, 86400},
        {-3.0, -3},  // the clock was set back since the last message
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IdleSeconds(kSomeDay - c.secondsAgo * kSecond, kSomeDay), c.shown)
            << c.secondsAgo << " s";
    }
}

TEST(IdleSeconds, ReportsWhatDoesNotFit) {
    EXPECT_FALSE(IdleSeconds(kSomeDay - 25000.0, kSomeDay));
    EXPECT_FALSE(IdleSeconds(kSomeDay + 25000.0, kSomeDay));
    // About 24855 days is the largest span that still fits.
    EXPECT_TRUE(IdleSeconds(kSomeDay - 24855.0, kSomeDay));
    EXPECT_FALSE(IdleSeconds(kSomeDay - 24856.0, kSomeDay));
}

TEST(IdleSeconds, OverflowLinesNameBothTimes) {
    const auto lines = IdleOverflowLines(20123.25, kSomeDay);
    EXPECT_TRUE(lines[0].starts_with("Fatal error 915: ")) << lines[0];
    EXPECT_GT(lines[0].size(), std::string("Fatal error 915: ").size());
    EXPECT_EQ(lines[1], "Additionally information: 20123.25:45123.5");
}

TEST(IdleSecondsText, FollowsTheTimeGiven) {
    const double last = kSomeDay;
    EXPECT_EQ(IdleSecondsText(last, kSomeDay + 90.4 * kSecond), "90");
    EXPECT_EQ(IdleSecondsText(last, kSomeDay + 90.6 * kSecond), "91");
    EXPECT_EQ(IdleSecondsText(last, kSomeDay), "0");
}

TEST(IdleSecondsText, OverflowGoesToTheConsoleAsZero) {
    const double last = kSomeDay - 25000.0;
    ::testing::internal::CaptureStdout();
    const std::string field = IdleSecondsText(last, kSomeDay);
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(field, "0");
    const auto lines = IdleOverflowLines(last, kSomeDay);
    EXPECT_EQ(console, lines[0] + "\n" + lines[1] + "\n");
    EXPECT_EQ(lines[1], "Additionally information: 20123.5:45123.5");
}

}  // namespace
}  // namespace nelv::commands
