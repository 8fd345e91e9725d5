// Small helpers for the tests of rooms and messages between users: the bytes of room events
// and room information, a settle probe that needs a logged-in client, and a group of
// connected clients that keeps up with the announcements every login causes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"

namespace nelv::test {

// Command 14 as a member receives it.
inline std::string RoomEvent(uint8_t code, char value, std::string_view room, std::string_view actor,
                             std::string_view color, std::string_view data) {
    std::string payload(1, value);
    payload += Fields({room, actor, color, data});
    return ReplyBytes(14, code, 0, payload);
}

// Room information text: name, topic, colour, members, limit, permanent, closed, hidden.
inline std::string RoomInfo(std::string_view name, std::string_view topic, std::string_view color,
                            int members, int limit, bool permanent, bool closed, bool hidden) {
    return Fields({name, topic, color, std::to_string(members), std::to_string(limit),
                   permanent ? "1" : "0", closed ? "1" : "0", hidden ? "1" : "0"});
}

// A user room with default settings as the room information shows it.
inline std::string UserRoomInfo(std::string_view name, int members) {
    return RoomInfo(name, "", "FFFFFF", members, 0, false, false, false);
}

// A private message to a name that no user can have (it holds blanks): its refusal must be the
// next message, which proves that nothing else was pending. Logged-in clients only.
inline ::testing::AssertionResult Settle(TestClient& client) {
    static std::atomic<unsigned> counter{0};
    const std::string probe = "settle probe " + std::to_string(++counter);
    if (!client.Send(24, 0, Fields({probe, "x"}))) {
        return ::testing::AssertionFailure() << "settle: could not send";
    }
    auto got = client.Next();
    if (!got) return ::testing::AssertionFailure() << "settle: no answer";
    if (*got != ReplyBytes(24, 0, 15, probe)) {
        return ::testing::AssertionFailure() << "settle: expected the probe's answer, got "
                                             << DescribeMessage(*got);
    }
    return ::testing::AssertionSuccess();
}

// Reads and throws away everything up to the answer of a settle probe.
inline ::testing::AssertionResult Drain(TestClient& client) {
    static std::atomic<unsigned> counter{0};
    const std::string probe = "drain probe " + std::to_string(++counter);
    if (!client.Send(24, 0, Fields({probe, "x"}))) {
        return ::testing::AssertionFailure() << "drain: could not send";
    }
    const std::string answer = ReplyBytes(24, 0, 15, probe);
    while (auto got = client.Next()) {
        if (*got == answer) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "drain: the probe was not answered";
}

// Connected clients, each either logged in under a nickname or left without a login (empty
// nickname). Adding a client consumes the announcement its login causes at every client.
class Crowd {
public:
    explicit Crowd(const TestServer& server) : server_(server) {}

    ::testing::AssertionResult Add(std::string_view nickname, const ClientOptions& options = {}) {
        auto client = std::make_unique<TestClient>();
        if (auto connected = client->ConnectAndGreet(server_.Port(), options); !connected) return connected;
        if (!nickname.empty()) {
            if (auto in = client->LoginAsGuest(nickname); !in) return in;
            const std::string announced = Fields({nickname, "000000", "0"});
            for (auto& other : clients_) {
                if (auto seen = other->Expect(11, 19, 0, announced); !seen) return seen;
            }
        }
        clients_.push_back(std::move(client));
        return ::testing::AssertionSuccess();
    }

    TestClient& operator[](std::size_t i) { return *clients_[i]; }
    std::size_t size() const { return clients_.size(); }

    // Every client receives this message next.
    ::testing::AssertionResult AllExpect(std::string_view message) {
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            if (auto got = clients_[i]->ExpectMessage(message); !got) {
                return ::testing::AssertionFailure() << "client " << i << ": " << got.message();
            }
        }
        return ::testing::AssertionSuccess();
    }

private:
    const TestServer& server_;
    std::vector<std::unique_ptr<TestClient>> clients_;
};

}  // namespace nelv::test
