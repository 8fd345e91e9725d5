// Field splitting, flag parsing and reply bytes: the pieces every command
// handler relies on to read requests and build answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/message.h"

namespace nelv::chat {
namespace {

using Fields = std::vector<std::string>;

struct SplitCase {
    std::string text;
    char separator;
    unsigned maxFields, minFields;
    Fields expected;
};

TEST(SplitFields, Table) {
    const SplitCase cases[] = {
        {"", '\x01', 2, 2, {"", ""}},
        {"", '\x01', 6, 6, {"", "", "", "", "", ""}},
        {"", '\x01', 2, 1, {""}},
        {"X\x01Y\x01Z", '\x01', 2, 2, {"X", "Y\x01Z"}},
        {"X\x01", '\x01', 2, 2, {"X", ""}},
        {"X\x01", '\x01', 2, 1, {"X"}},
        {"\x01X", '\x01', 2, 2, {"", "X"}},
        {"X\x01\x01Y", '\x01', 6, 1, {"X", "", "Y"}},
        {"X", '\x01', 2, 2, {"X", ""}},
        {"X\x01Y", '\x01', 1, 1, {"X\x01Y"}},
        // A trailing separator inside the last field stays part of it.
        {"X\x01Y\x01", '\x01', 2, 2, {"X", "Y\x01"}},
        {"a\x01" "b\x01" "c\x01" "d\x01" "e\x01" "f\x01g", '\x01', 6, 6,
         {"a", "b", "c", "d", "e", "f\x01g"}},
        {"a\x01" "b", '\x01', 6, 6, {"a", "b", "", "", "", ""}},
        // Other bytes, the zero byte included, are plain text.
        {std::string("a\0b\x02" "c", 5), '\x01', 2, 2, {std::string("a\0b\x02" "c", 5), ""}},
        {"10.0.0.1", '.', 4, 4, {"10", "0", "0", "1"}},
        {"1.2.3.4.5", '.', 4, 4, {"1", "2", "3", "4.5"}},
        {"10.*", '.', 4, 4, {"10", "*", "", ""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitFields(c.text, c.separator, c.maxFields, c.minFields), c.expected)
            << "text of " << c.text.size() << " bytes, max " << c.maxFields << ", min "
            << c.minFields;
    }
}

TEST(ParseFlag, Table) {
    struct Case {
        std::string text;
        int fallback, expected;
    };
    const Case cases[] = {
        {"", 1, 1},    {"", 0, 0},     {"0", 1, 0},   {"1", 0, 1},  {"a", 0, 0},
        {"a", 1, 1},   {"1x", 0, 1},   {"1x", 1, 1},  {"0x", 1, 0}, {"2", 0, 0},
        {"2", 1, 1},   {" 1", 0, 0},   {"10", 0, 1},  {std::string("\0", 1), 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseFlag(c.text, c.fallback), c.expected)
            << "\"" << c.text << "\" with default " << c.fallback;
    }
}

TEST(BuildReply, HeaderIsThreeBytesEvenWhenZero) {
    EXPECT_EQ(BuildReply(Command::kLogin, 0, 5, ""), std::string("\x1A\x00\x05", 3));
    EXPECT_EQ(BuildReply(Command::kJoin, 0, 0, ""), std::string(3, '\0'));
    EXPECT_EQ(BuildReply(Command::kLogin, 0, 0, "FF0000"), std::string("\x1A\x00\x00" "FF0000", 9));
    EXPECT_EQ(BuildReply(static_cast<Command>(255), 254, 253, std::string("\x01\0", 2)),
              std::string("\xFF\xFE\xFD\x01\0", 5));
}

}  // namespace
}  // namespace nelv::chat
