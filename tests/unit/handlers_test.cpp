// Every command group as a table: requests in, every message to every
// client out, on a fresh fake chat per row.
#include <gtest/gtest.h>

#include "support/handler_table.h"

namespace nelv::testing {
namespace {

// Alice and Bob logged in, both in the room Lobby that Alice opened.
const std::vector<std::string> kLobby = {"alice 26/0 Alice|", "bob 26/0 Bob|", "alice 0/0 Lobby",
                                         "bob 0/0 Lobby"};

std::vector<std::string> With(std::vector<std::string> steps, const std::vector<std::string>& more) {
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

TEST(Handlers, Dispatch) {
    HandlerTable().Check({
        {{}, "alice connect",
         {"alice: 8/0/0 3.263"}},
        {{}, "alice 23/0",
         {"alice: 23/0/14"}},
        {{}, "alice 5/0 x", {}},
        {{}, "alice 8/0",
         {"alice: 10/1/0 My NELV Chat|",
          "alice: 10/4/0",
          "alice: 10/5/0"}},
        {{}, "alice 25/7", {}},
        {{}, "alice 0/0 Lobby",
         {"alice: 0/0/14"}},
        {{"alice 26/0 Alice|"}, "alice 200/0", {}},
        {{}, "alice 9/21",
         {"alice: 9/0/14"}},
        // A one-field command reads the whole payload, separators included.
        {{"alice 26/0 Alice|"}, "alice 23/0 Bob|x",
         {"alice: 23/0/15 Bob|x"}},
    });
}

TEST(Handlers, ConnectionsPerAddress) {
    ServerConfig settings;
    settings.MaxConnectionsPerAddress = 2;
    HandlerTable(settings).Check({
        {{"alice connect", "alice connect"}, "alice connect",
         {"alice: 15/0/3"}},
        {{"alice connect", "alice connect"}, "bob connect",
         {"bob: 8/0/0 3.263"}},
        {{"alice connect", "alice connect", "alice close"}, "alice connect",
         {"alice: 8/0/0 3.263"}},
    });
}

TEST(Handlers, Login) {
    HandlerTable({}, {Account("Reg", 42), Account("Priv", 7, true, 0x00FF00)}).Check({
        {{"bob 26/0 Bob|"}, "alice 26/0 Alice|",
         {"bob: 11/19/0 Alice|000000|0",
          "alice: 11/19/0 Alice|000000|0",
          "alice: 26/0/0"}},
        {{}, "alice 26/0 |",
         {"alice: 26/0/1"}},
        {{}, "alice 26/0 Al ice|",
         {"alice: 26/0/1"}},
        {{}, "alice 26/0 ABCDEFGHIJKLMNOPQRSTU|",
         {"alice: 26/0/1"}},
        {{"bob 26/0 Bob|"}, "alice 26/0 BOB|",
         {"alice: 26/0/5"}},
        {{}, "alice 26/0 reg|41",
         {"alice: 26/0/4"}},
        {{}, "alice 26/0 reg|42",
         {"alice: 11/19/0 reg|000000|0",
          "alice: 26/0/0 000000"}},
        {{}, "alice 26/0 Priv|7",
         {"alice: 11/19/0 Priv|00FF00|3",
          "alice: 26/0/0 00FF00"}},
        {{"alice 26/0 Alice|", "alice 0/0 Lobby", "bob 0/0 Lobby"}, "alice 26/0 Alicia|",
         {"alice: 14/10/0 {0}Lobby|Alicia|000000|Alice|2",
          "alice: 11/20/0 Alice",
          "alice: 11/19/0 Alicia|000000|0",
          "alice: 26/0/0",
          "bob: 11/20/0 Alice",
          "bob: 11/19/0 Alicia|000000|0"}},
        {{"alice 26/0 Alice|", "alice 9/21"}, "alice 26/0 Alicia|",
         {"alice: 26/0/0"}},
    });
    ServerConfig onlyRegistered;
    onlyRegistered.OnlyRegisteredUsers = true;
    HandlerTable(onlyRegistered, {Account("Reg", 42)}).Check({
        {{}, "alice 26/0 Alice|",
         {"alice: 26/0/2"}},
        {{}, "alice 26/0 Reg|42",
         {"alice: 11/19/0 Reg|000000|0",
          "alice: 26/0/0 000000"}},
    });
}

TEST(Handlers, PasswordGuessing) {
    const std::vector<std::string> fiveWrong = {"alice 26/0 Reg|1", "alice 26/0 Reg|2", "alice 26/0 Reg|3",
                                                "alice 26/0 Reg|4", "alice 26/0 Reg|5"};
    ServerConfig settings;
    settings.RegistrationPassword = 99;
    HandlerTable(settings, {Account("Reg", 42)}).Check({
        {fiveWrong, "alice 26/0 Reg|42", {"alice: 26/0/4"}},
        {fiveWrong, "alice 7/15 New|99||||", {"alice: 7/15/4"}},
        {With(fiveWrong, {"tick 59"}), "alice 26/0 Reg|42", {"alice: 26/0/4"}},
        {With(fiveWrong, {"tick 60"}), "alice 26/0 Reg|42",
         {"alice: 11/19/0 Reg|000000|0", "alice: 26/0/0 000000"}},
        {fiveWrong, "bob 26/0 Reg|42",  // another address
         {"alice: 11/19/0 Reg|000000|0", "bob: 11/19/0 Reg|000000|0", "bob: 26/0/0 000000"}},
        {{"alice 26/0 Reg|1", "alice 26/0 Reg|2", "alice 26/0 Reg|3", "alice 26/0 Reg|4"}, "alice 26/0 Reg|42",
         {"alice: 11/19/0 Reg|000000|0", "alice: 26/0/0 000000"}},
    });
    // The block's start is one console line.
    ::testing::internal::CaptureStdout();
    HandlerTable({}, {Account("Reg", 42)}).Check({{With(fiveWrong, {"alice 26/0 Reg|6"}), "alice 26/0 Reg|7",
                                                   {"alice: 26/0/4"}}});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "WARNING: Too many wrong passwords from 127.0.0.1\n");
}

TEST(Handlers, ServerInfo) {
    ServerConfig settings;
    settings.ChatName = "Test Chat";
    settings.WelcomeLines = {"Hello", "there"};
    settings.BannerUpdateInterval = 30;
    settings.BannerLines = {"one=1"};
    settings.SystemRoomLines = {"Main=00FF00,Welcome"};
    HandlerTable(settings).Check({
        {{"bob 26/0 Bob|", "ghost connect", "bob 0/0 Mine"}, "alice 8/0",
         {"alice: 10/1/0 Test Chat|Hello{13}{10}there{13}{10}",
          "alice: 10/3/0 30:one=1{13}{10}",
          "alice: 10/4/0 Main|Welcome|00FF00|0|0|1|0|0^Mine||FFFFFF|1|0|0|0|0^",
          "alice: 10/5/0 Bob|000000|0^"}},
        {{"bob 26/0 Bob|", "bob 0/0 Mine", "bob 4/64 Mine|||||1"}, "alice 8/0",
         {"alice: 10/1/0 Test Chat|Hello{13}{10}there{13}{10}",
          "alice: 10/3/0 30:one=1{13}{10}",
          "alice: 10/4/0 Main|Welcome|00FF00|0|0|1|0|0^",
          "alice: 10/5/0 Bob|000000|0^"}},
        // Lists kept from an earlier answer follow logins, rooms, settings
        // and disconnects.
        {{"alice 8/0", "bob 26/0 Bob|", "bob 0/0 Mine", "carol 26/0 Carol|", "alice 8/0", "carol close", "alice 8/0",
          "bob 4/64 Mine|||||1"},
         "alice 8/0",
         {"alice: 10/1/0 Test Chat|Hello{13}{10}there{13}{10}",
          "alice: 10/3/0 30:one=1{13}{10}",
          "alice: 10/4/0 Main|Welcome|00FF00|0|0|1|0|0^",
          "alice: 10/5/0 Bob|000000|0^"}},
    });
}

TEST(Handlers, Presence) {
    HandlerTable({}, {Account("Reg", 1)}).Check({
        {kLobby, "alice 9/0",
         {"alice: 11/20/0 Alice",
          "alice: 9/49/0",
          "bob: 11/20/0 Alice"}},
        {kLobby, "alice 9/21",
         {"alice: 11/20/0 Alice",
          "alice: 9/49/0",
          "bob: 11/20/0 Alice"}},
        {kLobby, "alice 9/22", {}},
        {With(kLobby, {"alice 9/21"}), "alice 9/22",
         {"alice: 11/19/0 Alice|000000|0",
          "alice: 9/48/0",
          "bob: 11/19/0 Alice|000000|0"}},
        {kLobby, "alice 13/0 lunch",
         {"alice: 14/4/0 1Lobby|Alice|000000|lunch|4",
          "alice: 11/19/0 Alice|000000|4",
          "bob: 14/4/0 1Lobby|Alice|000000|lunch|4",
          "bob: 11/19/0 Alice|000000|4"}},
        {With(kLobby, {"alice 13/0 lunch"}), "alice 13/22",
         {"alice: 14/4/0 0Lobby|Alice|000000|lunch|2",
          "alice: 11/19/0 Alice|000000|0",
          "bob: 14/4/0 0Lobby|Alice|000000|lunch|2",
          "bob: 11/19/0 Alice|000000|0"}},
        {kLobby, "alice 13/22", {}},
        {kLobby, "alice 18/0 ff0000",
         {"alice: 14/7/0 {0}Lobby|Alice|ff0000|",
          "alice: 11/19/0 Alice|ff0000|0",
          "bob: 14/7/0 {0}Lobby|Alice|ff0000|",
          "bob: 11/19/0 Alice|ff0000|0"}},
        {kLobby, "alice 18/0 red", {}},
        {{"carol 26/0 Reg|1"}, "carol 18/0 00FF00",
         {"carol: 11/19/0 Reg|00FF00|0"}},
    });
}

TEST(Handlers, PrivateMessages) {
    HandlerTable().Check({
        {kLobby, "alice 24/0 bob|hi|there",
         {"alice: 24/0/0 bob|000000|hi|there",
          "bob: 5/0/0 {0}Alice|000000|hi|there"}},
        {kLobby, "alice 24/0 Nobody|hi",
         {"alice: 24/0/15 Nobody"}},
        {With(kLobby, {"bob 13/0 out"}), "alice 24/0 Bob|hi",
         {"alice: 24/6/0 Bob|out|",
          "alice: 24/0/0 Bob|000000|hi",
          "bob: 5/0/0 {0}Alice|000000|hi"}},
        {kLobby, "alice 2/0 Bob|call me",
         {"bob: 5/3/0 {0}Alice|000000|127.0.0.1|call me"}},
        {With(kLobby, {"carol 26/0 Carol|"}), "alice 1/0 Lobby|Carol",
         {"alice: 1/0/0 Lobby|Carol",
          "carol: 5/1/0 {0}Alice|000000|Lobby"}},
        {With(kLobby, {"carol 26/0 Carol|"}), "bob 1/0 Lobby|Carol",
         {"bob: 1/0/17 Lobby"}},
        {kLobby, "alice 1/0 Lobby|Bob", {}},
        {kLobby, "alice 1/0 Lobby|Nobody",
         {"alice: 1/0/15 Lobby|Nobody"}},
        {With(kLobby, {"carol 26/0 Carol|", "bob 17/0 Lobby", "alice 1/0 Lobby|Carol"}),
         "carol 0/0",
         {"alice: 14/2/0 {0}Lobby|Carol|000000|0",
          "alice: 19/19/0 Lobby||FFFFFF|2|0|0|0|0",
          "bob: 19/19/0 Lobby||FFFFFF|2|0|0|0|0",
          "carol: 0/0/0 Lobby|FFFFFF",
          "carol: 14/0/0 {0}Lobby|Alice|000000|2",
          "carol: 14/2/0 {0}Lobby|Carol|000000|0",
          "carol: 19/19/0 Lobby||FFFFFF|2|0|0|0|0"}},
    });
}

TEST(Handlers, RoomMessages) {
    HandlerTable().Check({
        {kLobby, "alice 3/0 lobby|hello|you",
         {"alice: 14/1/0 {0}Lobby|Alice|000000|hello|you",
          "bob: 14/1/0 {0}Lobby|Alice|000000|hello|you"}},
        {kLobby, "alice 3/13 Lobby|attention",
         {"alice: 14/1/0 {13}Lobby|Alice|000000|attention",
          "bob: 14/1/0 {13}Lobby|Alice|000000|attention"}},
        {kLobby, "bob 3/13 Lobby|attention",
         {"bob: 3/13/17 Lobby"}},
        {kLobby, "alice 3/0 Elsewhere|hello", {}},
        {With(kLobby, {"alice 20/21 Lobby|Bob"}), "bob 3/0 Lobby|hello",
         {"bob: 3/0/18 Lobby"}},
    });
}

TEST(Handlers, RoomCommands) {
    ServerConfig settings;
    settings.SystemRoomLines = {"Main=00FF00,Welcome"};
    settings.MaxUserRooms = 1;
    HandlerTable(settings).Check({
        {{"alice 26/0 Alice|"}, "alice 0/0 Lobby",
         {"alice: 0/0/0 Lobby|FFFFFF",
          "alice: 14/2/0 {0}Lobby|Alice|000000|2",
          "alice: 19/19/0 Lobby||FFFFFF|1|0|0|0|0"}},
        {With(kLobby, {"carol 26/0 Carol|"}), "carol 0/0 LOBBY",
         {"alice: 14/2/0 {0}Lobby|Carol|000000|0",
          "alice: 19/19/0 Lobby||FFFFFF|3|0|0|0|0",
          "bob: 14/2/0 {0}Lobby|Carol|000000|0",
          "bob: 19/19/0 Lobby||FFFFFF|3|0|0|0|0",
          "carol: 0/0/0 Lobby|FFFFFF",
          "carol: 14/0/0 {0}Lobby|Alice|000000|2",
          "carol: 14/0/0 {0}Lobby|Bob|000000|0",
          "carol: 14/2/0 {0}Lobby|Carol|000000|0",
          "carol: 19/19/0 Lobby||FFFFFF|3|0|0|0|0"}},
        {{"alice 26/0 Alice|", "alice 0/0 Lobby"}, "alice 0/0 Other",
         {"alice: 0/0/19"}},
        {{"alice 26/0 Alice|"}, "alice 0/0 Main",
         {"alice: 0/0/0 Main|00FF00",
          "alice: 14/2/0 {0}Main|Alice|000000|0",
          "alice: 19/19/0 Main|Welcome|00FF00|1|0|1|0|0"}},
        {With(kLobby, {"alice 4/56 Lobby|News|123456|2||"}), "alice 6/0 Lobby",
         {"alice: 6/49/0 Lobby|News|123456|2|2|0|0|0"}},
        {kLobby, "bob 4/8 Lobby|Mine||||",
         {"bob: 4/0/17 Lobby"}},
        {kLobby, "alice 4/128 Lobby|||||",
         {"alice: 14/12/0 {128}Lobby|Alice|000000|Lobby||FFFFFF|2|0|0|1|0",
          "alice: 19/19/0 Lobby||FFFFFF|2|0|0|1|0",
          "bob: 14/12/0 {128}Lobby|Alice|000000|Lobby||FFFFFF|2|0|0|1|0",
          "bob: 19/19/0 Lobby||FFFFFF|2|0|0|1|0"}},
        {With(kLobby, {"alice 4/128 Lobby||||1|", "carol 26/0 Carol|"}), "carol 0/0 Lobby",
         {"alice: 14/13/0 {0}Lobby|||Carol",
          "bob: 14/13/0 {0}Lobby|||Carol",
          "carol: 0/0/8 Lobby"}},
        {With(kLobby, {"alice 4/32 Lobby|||2||", "carol 26/0 Carol|"}), "carol 0/0 Lobby",
         {"alice: 14/13/0 {0}Lobby|||Carol",
          "bob: 14/13/0 {0}Lobby|||Carol",
          "carol: 0/0/3 Lobby"}},
        {kLobby, "bob 6/0 Lobby",
         {"bob: 6/48/0 Lobby||FFFFFF|2|0|0|0|0"}},
        {kLobby, "bob 17/0 Lobby",
         {"alice: 14/3/0 {0}Lobby|Bob|000000|",
          "alice: 19/19/0 Lobby||FFFFFF|1|0|0|0|0",
          "bob: 19/19/0 Lobby||FFFFFF|1|0|0|0|0"}},
        {With(kLobby, {"bob 17/0 Lobby"}), "alice 17/0 Lobby",
         {"alice: 19/20/0 Lobby",
          "bob: 19/20/0 Lobby"}},
        {kLobby, "bob close",
         {"alice: 14/3/0 {0}Lobby|Bob|000000|",
          "alice: 19/19/0 Lobby||FFFFFF|1|0|0|0|0",
          "alice: 11/20/0 Bob"}},
    });
}

TEST(Handlers, Moderation) {
    HandlerTable({}, {Account("Priv", 7, true)}).Check({
        {kLobby, "alice 12/49 Lobby|bob",
         {"alice: 14/11/0 {7}Lobby|Alice|000000|Bob|1",
          "bob: 14/11/0 {7}Lobby|Alice|000000|Bob|1"}},
        {kLobby, "bob 12/49 Lobby|Alice",
         {"bob: 12/0/17 Lobby"}},
        {With(kLobby, {"alice 12/49 Lobby|Bob"}), "alice 12/48 Lobby|Bob",
         {"alice: 14/11/0 {8}Lobby|Alice|000000|Bob|0",
          "bob: 14/11/0 {8}Lobby|Alice|000000|Bob|0"}},
        {With(kLobby, {"alice 12/49 Lobby|Bob"}), "bob 12/48 Lobby|Alice",
         {"bob: 12/0/17 Lobby"}},
        {kLobby, "alice 12/48 Lobby|Bob", {}},
        {kLobby, "alice 12/50 Lobby|Bob",
         {"alice: 14/11/0 {10}Lobby|||Alice|1",
          "alice: 14/11/0 {9}Lobby|Alice|000000|Bob|2",
          "bob: 14/11/0 {10}Lobby|||Alice|1",
          "bob: 14/11/0 {9}Lobby|Alice|000000|Bob|2"}},
        {kLobby, "alice 12/51 Lobby|Bob",
         {"alice: 14/11/0 3Lobby|Alice|000000|Bob|0",
          "bob: 14/11/0 3Lobby|Alice|000000|Bob|0"}},
        {kLobby, "alice 12/49 Lobby|Nobody",
         {"alice: 12/0/15 Lobby|Nobody"}},
        {kLobby, "alice 16/0 Lobby|Bob",
         {"alice: 14/9/0 {0}Lobby|Alice|000000|Bob",
          "alice: 14/3/0 {0}Lobby|Bob|000000|",
          "alice: 19/19/0 Lobby||FFFFFF|1|0|0|0|0",
          "bob: 14/9/0 {0}Lobby|Alice|000000|Bob",
          "bob: 19/19/0 Lobby||FFFFFF|1|0|0|0|0",
          "bob: 5/2/0 {0}Alice|000000|Lobby"}},
        {kLobby, "bob 16/0 Lobby|Alice",
         {"bob: 16/0/17 Lobby"}},
        {kLobby, "alice 20/0 Lobby|Bob",
         {"alice: 14/8/0 1Lobby|Alice|000000|Bob",
          "bob: 14/8/0 1Lobby|Alice|000000|Bob"}},
        {With(kLobby, {"alice 20/21 Lobby|Bob"}), "alice 20/21 Lobby|Bob", {}},
        {kLobby, "alice 20/22 Lobby|Bob", {}},
        {kLobby, "bob 20/0 Lobby|Alice",
         {"bob: 20/0/17 Lobby"}},
        {kLobby, "alice 21/21 Lobby|Bob",
         {"alice: 14/5/0 1Lobby|Alice|000000|Bob",
          "bob: 14/5/0 1Lobby|Alice|000000|Bob"}},
        {With(kLobby, {"alice 21/21 Lobby|Bob", "bob 17/0 Lobby"}), "bob 0/0 Lobby",
         {"bob: 0/0/7 Lobby"}},
        {kLobby, "bob 21/21 Lobby|Alice",
         {"bob: 21/0/17 Lobby"}},
        {With(kLobby, {"carol 26/0 Priv|7", "carol 0/0 Lobby"}), "carol 16/0 Lobby|Alice",
         {"carol: 16/0/17 Lobby"}},
    });
}

TEST(Handlers, ServerKick) {
    HandlerTable({}, {Account("Priv", 7, true)}).Check({
        {With(kLobby, {"carol 26/0 Priv|7"}), "carol 22/0 Bob|5",
         {"alice: 14/6/0 {0}Lobby|Priv|000000|Bob",
          "alice: 14/3/0 {0}Lobby|Bob|000000|",
          "alice: 19/19/0 Lobby||FFFFFF|1|0|0|0|0",
          "alice: 11/20/0 Bob",
          "bob: 14/6/0 {0}Lobby|Priv|000000|Bob",
          "bob: 15/0/10 Priv",
          "carol: 22/0/0 Bob",
          "carol: 19/19/0 Lobby||FFFFFF|1|0|0|0|0",
          "carol: 11/20/0 Bob"}},
        {With(kLobby, {"carol 26/0 Priv|7", "carol 22/0 Bob|5", "bob close"}), "bob connect",
         {"bob: 15/0/9"}},
        {With(kLobby, {"carol 26/0 Priv|7"}), "carol 22/0 Nobody",
         {"carol: 22/0/15 Nobody"}},
        {kLobby, "alice 22/0 Bob",
         {"alice: 22/0/17"}},
    });
}

TEST(Handlers, Registration) {
    ServerConfig settings;
    settings.RegistrationPassword = 99;
    HandlerTable(settings, {Account("Reg", 42)}).Check({
        {{"alice 26/0 Alice|", "alice 18/0 00ff00"}, "alice 7/15 Alice|99|a|b|c|0",
         {"alice: 7/15/0"}},
        {{"alice 26/0 Alice|"}, "alice 7/15 alice|99|a|b|c|1",
         {"alice: 7/15/0"}},
        {{"alice 26/0 Alice|"}, "alice 7/15 Bob|099|a|b|c|0",
         {"alice: 7/15/4"}},
        {{"alice 26/0 Alice|", "bob 26/0 Bob|"}, "alice 7/15 bob|99||||",
         {"alice: 7/15/5"}},
        {{"alice 7/15 Carol|99|a|b|c|0"}, "bob 26/0 carol|99",
         {"alice: 11/19/0 carol|000000|0",
          "bob: 11/19/0 carol|000000|0",
          "bob: 26/0/0 000000"}},
        {{}, "alice 7/15 reg|5|||||99",
         {"alice: 7/15/6"}},
        {{"alice 26/0 Reg|42"}, "alice 7/16 42",
         {"alice: 7/16/0 |||0"}},
        {{"alice 26/0 Reg|42"}, "alice 7/16 41",
         {"alice: 7/16/4"}},
        {{"alice 26/0 Reg|42"}, "alice 7/17 42|43|x|y|z|1",
         {"alice: 7/17/0"}},
        {{"alice 26/0 Reg|42"}, "alice 7/18 42",
         {"alice: 7/18/0"}},
        {{"alice 26/0 Reg|42", "alice 7/18 42"}, "alice 7/16 42", {}},
        {{"alice 26/0 Alice|"}, "alice 7/16 42", {}},
        {{}, "alice 7/16 42",
         {"alice: 7/0/14"}},
        {{}, "alice 7/19 42", {}},
    });
}

TEST(Handlers, UserLookup) {
    HandlerTable({}, {Account("Reg", 42, false, 0x123456), Account("Priv", 7, true)}).Check({
        {With(kLobby, {"bob 13/0 away"}), "alice 23/0 BOB",
         {"alice: 23/0/0 Bob|000000|1|away|0|||||"}},
        {kLobby, "alice 23/0 reg",
         {"alice: 23/0/0 Reg|123456||||||||0"}},
        {With(kLobby, {"carol 26/0 Priv|7"}), "carol 23/0 Bob",
         {"carol: 23/0/0 Bob|000000|0||0|127.0.0.2||||"}},
        {kLobby, "alice 23/0 Nobody",
         {"alice: 23/0/15 Nobody"}},
    });
}

}  // namespace
}  // namespace nelv::testing
