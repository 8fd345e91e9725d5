// Bounding password guesses per address: five wrong ones within a minute
// block the address for a minute from the fifth; refusals do not extend it.
#include "chat/password_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace nelv::chat {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kStart = 45000.5;
constexpr std::uint32_t kA = 1, kB = 2;

TEST(PasswordGuard, Table) {
    // Each step: seconds since the start, address, 'w' for a wrong password
    // or '?' for a look, and what Blocked says before the step ("-" or "B")
    // and whether a wrong one starts a block ("!").
    struct Step {
        double at;
        std::uint32_t address;
        char what;
        std::string expect;
    };
    const Step steps[] = {
        {0, kA, 'w', "-"},  {1, kA, 'w', "-"},  {2, kA, 'w', "-"}, {3, kA, 'w', "-"},
        {4, kB, 'w', "-"},                      // another address counts on its own
        {59, kA, 'w', "-!"},                    // the fifth within 60 s starts the block
        {60, kA, '?', "B"}, {100, kA, '?', "B"}, {118.9, kA, '?', "B"},
        {119.1, kA, '?', "-"},                  // 60 s after the fifth, not after the refusals
        {120, kA, 'w', "-"},                    // counting starts afresh
        {121, kB, '?', "-"},
        {200, kB, 'w', "-"}, {201, kB, 'w', "-"}, {202, kB, 'w', "-"}, {203, kB, 'w', "-"},
        {264, kB, 'w', "-"},                    // the first four have left the window
    };
    PasswordGuard guard;
    for (const Step& step : steps) {
        const double now = kStart + step.at * kSecond;
        std::string got = guard.Blocked(step.address, now) ? "B" : "-";
        if (step.what == 'w' && guard.Wrong(step.address, now)) got += "!";
        EXPECT_EQ(got, step.expect) << "at " << step.at << " s from " << step.address;
    }
}

}  // namespace
}  // namespace nelv::chat
