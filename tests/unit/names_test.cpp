// Case-insensitive names in the chat's 8-bit text (Windows-1252), and the
// first-match list every registry is built on.
#include <gtest/gtest.h>

#include <string>

#include "base/names.h"

namespace nelv {
namespace {

TEST(FoldCase, Windows1252Letters) {
    struct Case {
        unsigned char in, out;
    };
    const Case cases[] = {
        {'a', 'A'},   {'z', 'Z'},   {'A', 'A'},   {'0', '0'},   {'[', '['},   {'{', '{'},
        {'`', '`'},   {'@', '@'},   {0xE9, 0xC9}, {0xE0, 0xC0}, {0xFE, 0xDE}, {0xC9, 0xC9},
        {0xF7, 0xF7},  // division sign, not a letter
        {0xD7, 0xD7},  // multiplication sign
        {0xDF, 0xDF},  // sharp s has no single-byte capital
        {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}, {0xB5, 0xB5}, {0xA0, 0xA0},
        {0x00, 0x00}, {0x7F, 0x7F},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FoldCase(c.in), c.out) << "byte 0x" << std::hex << int(c.in);
    }
}

TEST(SameName, Table) {
    struct Case {
        std::string a, b;
        bool same;
    };
    const Case cases[] = {
        {"Alice", "alice", true},
        {"Alice", "ALICE", true},
        {"Alice", "Alice ", false},
        {"Alice", "Alic", false},
        {"", "", true},
        {"Ren\xE9", "REN\xC9", true},
        {"\x9A\xFF", "\x8A\x9F", true},
        {"a\xF7" "b", "A\xD7" "B", false},
        {"[x]", "{X}", false},
        {"a@b", "A`B", false},
        {std::string("a\0", 2), std::string("A\0", 2), true},
        {std::string("a\0", 2), "a", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameName(c.a, c.b), c.same) << "\"" << c.a << "\" vs \"" << c.b << "\"";
        EXPECT_EQ(SameName(c.b, c.a), c.same) << "\"" << c.b << "\" vs \"" << c.a << "\"";
    }
}

TEST(NamedList, FirstMatchIgnoringCaseAndStablePositions) {
    NamedList<int> list;
    list.Append("Bob", 1);
    list.Append("alice", 2);
    list.Append("ALICE", 3);
    EXPECT_EQ(list.IndexOf("Alice"), 1u);
    ASSERT_NE(list.Find("aLiCe"), nullptr);
    EXPECT_EQ(*list.Find("aLiCe"), 2);
    EXPECT_EQ(list.Find("Carol"), nullptr);

    list.Rename(*list.IndexOf("ALICE"), "Carol");  // the first of the two
    EXPECT_EQ(list[1].name, "Carol");
    EXPECT_EQ(list[1].value, 2);
    EXPECT_EQ(*list.Find("alice"), 3);
    EXPECT_EQ(list.IndexOf("carol"), 1u);
    list.Rename(2, "bOB");  // a later entry of a name in use stays behind the first
    EXPECT_EQ(*list.Find("bob"), 1);

    list.RemoveAt(*list.IndexOf("bob"));
    EXPECT_EQ(*list.Find("bob"), 3);
    list.RemoveAt(*list.IndexOf("bob"));
    EXPECT_EQ(list.Find("bob"), nullptr);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "Carol");
    list.Append("Dave", 3);
    EXPECT_EQ(list.IndexOfValue(3), 1u);
}

}  // namespace
}  // namespace nelv
