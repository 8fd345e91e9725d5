// Helpers for the moderation and server-kick tests. These tests look at replies and room events
// in order; the user-list and room-list broadcasts (commands 11 and 19) that every connection
// receives on each login, join and leave are read past, since other suites check those.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "e2e/chat_test_helpers.h"
#include "support/test_client.h"

namespace nelv::test {

inline constexpr std::string_view kGuestColor = "000000";

inline bool IsBroadcast(std::string_view message) {
    return !message.empty() && (message[0] == 11 || message[0] == 19);
}

// The next message that is not a user-list or room-list broadcast.
inline std::optional<std::string> NextSkippingBroadcasts(TestClient& client,
                                                         Duration timeout = kDefaultTimeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<Duration>(deadline - Clock::now());
        if (left <= Duration::zero()) return std::nullopt;
        auto got = client.Next(left);
        if (!got || !IsBroadcast(*got)) return got;
    }
}

inline ::testing::AssertionResult ExpectSkippingBroadcasts(TestClient& client,
                                                           std::string_view wanted) {
    auto got = NextSkippingBroadcasts(client);
    if (!got) {
        return ::testing::AssertionFailure() << "expected " << DescribeMessage(wanted)
                                             << " but nothing came"
                                             << (client.PeerClosed() ? " (closed)" : "");
    }
    if (*got != wanted) {
        return ::testing::AssertionFailure() << "expected " << DescribeMessage(wanted)
                                             << " but got " << DescribeMessage(*got);
    }
    return ::testing::AssertionSuccess();
}

// Every listed client receives `wanted` next, broadcasts aside.
inline ::testing::AssertionResult AllSee(std::initializer_list<TestClient*> clients,
                                         std::string_view wanted) {
    int i = 0;
    for (TestClient* client : clients) {
        if (auto r = ExpectSkippingBroadcasts(*client, wanted); !r) {
            return ::testing::AssertionFailure() << "client " << i << ": " << r.message();
        }
        ++i;
    }
    return ::testing::AssertionSuccess();
}

// Proves that nothing but broadcasts is pending for a logged-in client: an address ban aimed at
// a name no user can have (it holds blanks) is refused to the sender alone, room or not.
inline ::testing::AssertionResult NothingElse(TestClient& client) {
    static std::atomic<unsigned> counter{0};
    const std::string ghost = "ghost probe " + std::to_string(++counter);
    if (!client.Send(21, 21, Fields({"probe", ghost}))) {
        return ::testing::AssertionFailure() << "probe: could not send";
    }
    return ExpectSkippingBroadcasts(client, ReplyBytes(21, 0, 15, Fields({"probe", ghost})));
}

inline ::testing::AssertionResult NothingElse(std::initializer_list<TestClient*> clients) {
    for (TestClient* client : clients) {
        if (auto r = NothingElse(*client); !r) return r;
    }
    return ::testing::AssertionSuccess();
}

// Connects (from `from` when given) and logs in; `answer` is the login reply's payload (empty for
// a guest, the record's colour for a registered nickname).
inline ::testing::AssertionResult LogIn(TestClient& client, uint16_t port, std::string_view nick,
                                        std::string_view from = {},
                                        std::string_view password = {},
                                        std::string_view answer = {}) {
    ClientOptions options;
    options.source_address = std::string(from);
    if (auto r = client.ConnectAndGreet(port, options); !r) return r;
    if (!client.Send(26, 0, Fields({nick, password}))) {
        return ::testing::AssertionFailure() << "login: could not send";
    }
    return ExpectSkippingBroadcasts(client, ReplyBytes(26, 0, 0, answer));
}

// `joiner` enters `room` (its exact name) with the given rank; each member already there hears it.
inline ::testing::AssertionResult EnterRoom(TestClient& joiner, std::string_view nick,
                                            std::string_view room,
                                            std::initializer_list<TestClient*> members,
                                            char rank = '0',
                                            std::string_view color = kGuestColor) {
    if (!joiner.Send(0, 0, room)) return ::testing::AssertionFailure() << "join: could not send";
    if (auto r = ExpectSkippingBroadcasts(joiner, ReplyBytes(0, 0, 0, Fields({room, "FFFFFF"})));
        !r) {
        return r;
    }
    const std::string joined = RoomEvent(2, '\0', room, nick, color, std::string(1, rank));
    // One presence event per earlier member comes before the joiner's own join event.
    for (;;) {
        auto got = NextSkippingBroadcasts(joiner);
        if (!got) return ::testing::AssertionFailure() << "join: no join event for " << nick;
        if (*got == joined) break;
        if (got->size() < 2 || (*got)[0] != 14 || (*got)[1] != 0) {
            return ::testing::AssertionFailure() << "join: unexpected " << DescribeMessage(*got);
        }
    }
    return AllSee(members, joined);
}

}  // namespace nelv::test
