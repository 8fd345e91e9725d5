// Cutting a received byte stream into messages at the terminator 0x1F.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/framing.h"

namespace nelv::net {
namespace {

std::vector<std::string> Drain(FrameCutter& cutter) {
    std::vector<std::string> messages;
    while (auto m = cutter.Next()) messages.push_back(*m);
    return messages;
}

using Messages = std::vector<std::string>;

TEST(FrameCutter, CutsChunksIntoMessages) {
    struct Case {
        std::vector<std::string> chunks;
        Messages expected;  // everything complete after the last chunk
        std::size_t pending;
    };
    const Case cases[] = {
        {{"A\x1F" "B\x1F" "C"}, {"A", "B"}, 1},
        {{"A\x1F" "B\x1F" "C", "\x1F"}, {"A", "B", "C"}, 0},
        {{"\x1F\x1F"}, {"", ""}, 0},
        {{"\x1F"}, {""}, 0},
        {{""}, {}, 0},
        {{"He", "ll", "o\x1F"}, {"Hello"}, 0},
        {{"He", "", "llo"}, {}, 5},
        {{std::string("a\0b\x1F\0\x1F", 6)}, {std::string("a\0b", 3), std::string("\0", 1)}, 0},
        {{std::string("\x1A\x00", 2), "\x1F"}, {std::string("\x1A\x00", 2)}, 0},
    };
    for (const auto& c : cases) {
        FrameCutter cutter;
        for (const auto& chunk : c.chunks) cutter.Feed(chunk);
        EXPECT_EQ(Drain(cutter), c.expected) << "after " << c.chunks.size() << " chunks";
        EXPECT_EQ(cutter.Pending(), c.pending);
    }
}

TEST(FrameCutter, MessagesComeOutOnlyWhenTheirTerminatorArrives) {
    FrameCutter cutter;
    cutter.Feed("A\x1F" "B\x1F" "C");
    EXPECT_EQ(cutter.Next(), "A");
    EXPECT_EQ(cutter.Next(), "B");
    EXPECT_EQ(cutter.Next(), std::nullopt);
    EXPECT_EQ(cutter.Next(), std::nullopt);  // asking again changes nothing
    cutter.Feed("D");
    EXPECT_EQ(cutter.Next(), std::nullopt);
    cutter.Feed("\x1F" "E\x1F");
    EXPECT_EQ(cutter.Next(), "CD");
    EXPECT_EQ(cutter.Next(), "E");
    EXPECT_EQ(cutter.Pending(), 0u);

    // A long stream of small messages fed in odd-sized pieces comes out whole and in order.
    std::string stream;
    for (int i = 0; i < 3000; ++i) stream += "message " + std::to_string(i) + "\x1F";
    Messages got;
    for (std::size_t at = 0; at < stream.size(); at += 997) {
        cutter.Feed(std::string_view(stream).substr(at, 997));
        for (auto& m : Drain(cutter)) got.push_back(m);
    }
    ASSERT_EQ(got.size(), 3000u);
    EXPECT_EQ(got.front(), "message 0");
    EXPECT_EQ(got[1234], "message 1234");
    EXPECT_EQ(got.back(), "message 2999");
    EXPECT_EQ(cutter.Pending(), 0u);

    cutter.Feed("left over");
    cutter.Clear();
    EXPECT_EQ(cutter.Pending(), 0u);
    cutter.Feed("\x1F");
    EXPECT_EQ(cutter.Next(), "");
}

TEST(FrameCutter, OverflowBoundCountsOnlyTheUnfinishedMessage) {
    const std::size_t bound = FrameCutter::kMaxPartial;
    EXPECT_EQ(bound, 64u * 1024u);

    FrameCutter cutter;
    std::string block(1000, 'x');
    std::size_t fed = 0;
    while (fed + block.size() <= bound) {
        cutter.Feed(block);
        fed += block.size();
        ASSERT_EQ(cutter.Next(), std::nullopt);
        ASSERT_FALSE(cutter.Overflowed()) << fed;
    }
    cutter.Feed(std::string(bound - fed, 'x'));
    EXPECT_FALSE(cutter.Overflowed()) << "exactly at the bound";
    cutter.Feed("x");
    EXPECT_TRUE(cutter.Overflowed()) << "one byte over";

    // Complete messages, taken or not, never count toward the bound.
    FrameCutter busy;
    for (int i = 0; i < 200; ++i) busy.Feed(block + "\x1F");
    EXPECT_FALSE(busy.Overflowed());
    busy.Feed(std::string(bound, 'y'));
    EXPECT_FALSE(busy.Overflowed());
    EXPECT_EQ(Drain(busy).size(), 200u);
    EXPECT_FALSE(busy.Overflowed());
    busy.Feed("y");
    EXPECT_TRUE(busy.Overflowed());
    busy.Feed("\x1F");
    EXPECT_FALSE(busy.Overflowed());
    EXPECT_EQ(busy.Next(), std::string(bound + 1, 'y'));
}

}  // namespace
}  // namespace nelv::net
