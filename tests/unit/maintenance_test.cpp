// The idle sweep and the CUI text, on a fake chat with the clock under the
// test's control.
#include <gtest/gtest.h>

#include <string>

#include "base/clock.h"
#include "server/maintenance.h"
#include "support/fake_chat.h"

namespace nelv {
namespace {

using namespace std::string_literals;

ServerConfig WithTimeout(int minutes) {
    ServerConfig settings;
    settings.TimeoutMinutes = minutes;
    return settings;
}

TEST(IdleSweep, DropsOnlyAfterTheTimeoutHasStrictlyPassed) {
    testing::FakeChat fake(WithTimeout(15));
    const auto idle = fake.Connect();
    auto& wire = fake.client(idle).wire;
    EXPECT_EQ(wire.TakeSent(), std::vector{"\x08\x00\x00" "3.263"s});

    // Exactly the time-out later the connection stays.
    server::IdleSweep(fake.chat(), fake.now() + 15 * kMinute);
    EXPECT_FALSE(wire.Closed());

    // A request renews the activity time; a minute past the time-out drops it.
    fake.now() += 1.0 / 86400;
    fake.Send(idle, "\x17\x00?"s);
    server::IdleSweep(fake.chat(), fake.now() + 15 * kMinute);
    EXPECT_FALSE(wire.Closed());
    server::IdleSweep(fake.chat(), fake.now() + 16 * kMinute);
    EXPECT_EQ(wire.TakeSent(), (std::vector{"\x17\x00\x0E"s, "\x0F\x00\x0B"s}));
    EXPECT_TRUE(wire.Closed());
}

TEST(IdleSweep, NoTimeoutNeverDrops) {
    testing::FakeChat fake(WithTimeout(0));
    const auto peer = fake.Connect();
    server::IdleSweep(fake.chat(), fake.now() + 100000);
    EXPECT_FALSE(fake.client(peer).wire.Closed());
}

TEST(CuiText, ListsVisibleUsersInConnectOrder) {
    testing::FakeChat fake;
    const auto alice = fake.Connect();
    fake.Connect();  // never logs in: invisible and left out
    const auto bob = fake.Connect();
    fake.Send(alice, "\x1A\x00" "Alice\x01"s);
    fake.Send(bob, "\x1A\x00" "Bob\x01"s);
    fake.Send(bob, "\x12\x00" "00ff00"s);
    ServerLockGuard lock;
    EXPECT_EQ(server::CuiText(fake.chat()), "Alice 000000\r\nBob 00ff00\r\n");
}

}  // namespace
}  // namespace nelv
