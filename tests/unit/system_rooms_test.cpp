// Colour and topic of a permanent room's configuration entry.
#include <gtest/gtest.h>

#include <string>

#include "chat/room.h"

namespace nelv::chat {
namespace {

TEST(ParseSystemRoomValue, Table) {
    struct Case {
        std::string value, color, topic;
    };
    const Case cases[] = {
        {"00FF00,Welcome, all", "00FF00", "Welcome, all"},
        {"abcdef", "abcdef", ""},
        {"GGGGGG,Games", "FFFFFF", "Games"},
        {"red,Chat", "FFFFFF", "Chat"},
        {"1234567", "FFFFFF", ""},
        {"1234567,Long", "FFFFFF", "Long"},
        {"", "FFFFFF", ""},
        {",Topic only", "FFFFFF", "Topic only"},
        {"123456,", "123456", ""},
        {"123456,,x", "123456", ",x"},
        {"-12345,Sign", "FFFFFF", "Sign"},
        {"+12345,Sign", "FFFFFF", "Sign"},
        {"12345 ,Blank", "FFFFFF", "Blank"},
        {"00ff00 Welcome", "FFFFFF", ""},
    };
    for (const auto& c : cases) {
        const SystemRoomValue parsed = ParseSystemRoomValue(c.value);
        EXPECT_EQ(parsed.color, c.color) << "\"" << c.value << "\"";
        EXPECT_EQ(parsed.topic, c.topic) << "\"" << c.value << "\"";
    }
}

}  // namespace
}  // namespace nelv::chat
