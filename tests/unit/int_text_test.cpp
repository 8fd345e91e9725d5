// Integer text and colour text: how numbers are read from configuration
// values, protocol fields and passwords, and how they are written back.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/int_text.h"

namespace nelv {
namespace {

TEST(ParseIntText, Table) {
    struct Case {
        std::string text;
        std::optional<std::int32_t> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"-0", 0},
        {"007", 7},
        {"   12", 12},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"$7CB", 1995},
        {"$7cb", 1995},
        {"$00ff80", 0xFF80},
        {"  $10", 16},
        {"$FFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"$100000000", std::nullopt},
        {"$000000010", std::nullopt},  // nine digits, whatever their value
        {"$0000000A", 10},
        {"$", std::nullopt},
        {"$G", std::nullopt},
        {"$-5", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"12 ", std::nullopt},
        {"12abc", std::nullopt},
        {"abc", std::nullopt},
        {"1.5", std::nullopt},
        {"1 2", std::nullopt},
        {"+-1", std::nullopt},
        {"0x10", std::nullopt},  // only the configuration reader knows "0x"
        {std::string("5\0", 2), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseIntText(c.text), c.expected) << "\"" << c.text << "\"";
    }
    EXPECT_EQ(IntTextOr("abc", 15), 15);
    EXPECT_EQ(IntTextOr("", -1), -1);
    EXPECT_EQ(IntTextOr("0", 15), 0);
}

TEST(IntToText, PlainDecimal) {
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(7), "7");
    EXPECT_EQ(IntToText(-7), "-7");
    EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToText(INT32_MAX), "2147483647");
}

TEST(ColorText, ConversionsBothWays) {
    struct Case {
        std::int32_t number;
        const char* text;
    };
    const Case shown[] = {
        {0xFF80, "00FF80"},   {0xAB12CD, "AB12CD"}, {16711680, "FF0000"}, {65280, "00FF00"},
        {0, "000000"},        {0xFFFFFF, "FFFFFF"}, {0x1234567, "1234567"},
        {-1, "FFFFFFFF"},  // read as unsigned 32-bit
    };
    for (const auto& c : shown) EXPECT_EQ(ColorNumberToText(c.number), c.text) << c.number;

    EXPECT_EQ(ColorTextToNumber("00FF80"), 0xFF80);
    EXPECT_EQ(ColorTextToNumber("ab12cd"), 0xAB12CD);
    EXPECT_EQ(ColorNumberToText(ColorTextToNumber("ab12cd")), "AB12CD");
    EXPECT_EQ(ColorTextToNumber("GGGGGG"), 0);

    struct ColorCase {
        std::string text;
        bool valid;
    };
    const ColorCase colors[] = {
        {"00FF80", true},  {"ab12cd", true},  {"AbCdEf", true},  {"000000", true},
        {"GGGGGG", false}, {"red", false},    {"12345", false},  {"1234567", false},
        {"", false},       {"-12345", false}, {"+12345", false}, {" 12345", false},
        {"12345 ", false}, {"$12345", false},
    };
    for (const auto& c : colors) EXPECT_EQ(IsColorText(c.text), c.valid) << "\"" << c.text << "\"";
}

}  // namespace
}  // namespace nelv
