// The configuration reader: INI text in, values and settings out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "server/config.h"
#include "server/ini.h"

namespace nelv::server {
namespace {

using Lines = std::vector<std::string>;

TEST(IniInteger, Table) {
    struct Case {
        std::string value;
        std::int32_t expected;  // with fallback 15
    };
    const Case cases[] = {
        {"0x7CB", 1995}, {"0X7cb", 1995}, {"$7CB", 1995},  {"1995", 1995},  {"+20", 20},
        {"-3", -3},      {"0", 0},        {"  8", 8},      {"abc", 15},     {"", 15},
        {"0x", 15},      {"0x0", 0},      {"0xG", 15},     {"0x-5", 15},    {"0x$5", 15},
        {"00x5", 15},    {"10x5", 15},    {"20 ", 15},     {"20min", 15},   {"x7CB", 15},
        {"2147483647", 2147483647},       {"2147483648", 15},
        {"-2147483648", INT32_MIN},       {"0xFFFFFFFF", -1},
        {"0x100000000", 15}, {"0x000000010", 15}, {"0x0000001F", 31},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniInteger(c.value, 15), c.expected) << "\"" << c.value << "\"";
    }
}

TEST(IniFile, SectionsKeysAndValues) {
    const IniFile ini = IniFile::Parse(
        "Orphan=before any section\r\n"
        "[General]\r\n"
        "Chatname = Spaced Out  \r\n"
        "PORT=2000\r\n"
        "port=3000\r\n"
        "; Commented=1\r\n"
        "  ;Indented=comment\r\n"
        "NoEquals\r\n"
        "Quoted=\"  kept blanks \"\r\n"
        "Single='one'\r\n"
        "Half=\"open\r\n"
        "Inner=a \"b\" c\r\n"
        "Empty=\r\n"
        "Eq=a=b\r\n"
        "\r\n"
        "[users]\n"
        "Timeout=5\n"
        "[GENERAL]\n"
        "Chatname=Second section\n"
        "Late=only here\n");

    EXPECT_EQ(ini.Get("general", "chatname"), "Spaced Out");
    EXPECT_EQ(ini.GetString("General", "Port", "x"), "2000");  // first occurrence wins
    EXPECT_EQ(ini.GetInteger("GENERAL", "port", 0), 2000);
    EXPECT_EQ(ini.Get("General", "Commented"), std::nullopt);
    EXPECT_EQ(ini.Get("General", "; Commented"), std::nullopt);
    EXPECT_EQ(ini.Get("General", ";Indented"), std::nullopt);
    EXPECT_EQ(ini.Get("General", "NoEquals"), std::nullopt);
    EXPECT_EQ(ini.Get("General", "Quoted"), "  kept blanks ");
    EXPECT_EQ(ini.Get("General", "Single"), "one");
    EXPECT_EQ(ini.Get("General", "Half"), "\"open");
    EXPECT_EQ(ini.Get("General", "Inner"), "a \"b\" c");
    EXPECT_EQ(ini.Get("General", "Empty"), "");
    EXPECT_EQ(ini.GetString("General", "Empty", "fallback"), "");
    EXPECT_EQ(ini.Get("General", "Eq"), "a=b");
    EXPECT_EQ(ini.Get("General", "Orphan"), std::nullopt);
    EXPECT_EQ(ini.Get("Users", "TIMEOUT"), "5");
    // A repeated section header does not open a second, later-read section.
    EXPECT_EQ(ini.Get("General", "Late"), std::nullopt);
    EXPECT_EQ(ini.Get("Missing", "Chatname"), std::nullopt);
    EXPECT_EQ(ini.GetString("Missing", "Chatname", "My NELV Chat"), "My NELV Chat");
    EXPECT_EQ(ini.GetInteger("General", "Missing", 1995), 1995);
    EXPECT_TRUE(ini.GetBool("General", "Missing", true));
}

TEST(IniFile, LongValuesAreCut) {
    const std::string long_value(1500, 'v');
    const IniFile ini = IniFile::Parse("[S]\nLong=" + long_value + "\nExact=" +
                                       std::string(1023, 'e') + "\nNext=1\n");
    EXPECT_EQ(ini.Get("S", "Long"), std::string(1023, 'v'));
    EXPECT_EQ(ini.Get("S", "Exact"), std::string(1023, 'e'));
    EXPECT_EQ(ini.Get("S", "Next"), "1");
}

TEST(IniFile, SectionLines) {
    const IniFile ini = IniFile::Parse(
        "[System rooms]\n"
        "Lobby=00FF00,Welcome\n"
        "Empty=\n"
        "Games=GGGGGG,Games\n"
        "LOBBY=FF0000,Duplicate\n"
        "Quiet=  \n"
        "Quoted=\"\"\n"
        "; Note=comment\n"
        "Last=abcdef\n"
        "[Other]\n"
        "Lobby=elsewhere\n");
    EXPECT_EQ(ini.SectionLines("system ROOMS"),
              (Lines{"Lobby=00FF00,Welcome", "Games=GGGGGG,Games", "Last=abcdef"}));
    EXPECT_EQ(ini.SectionLines("Missing"), Lines{});

    // A duplicate key whose first value is empty gives no line at all.
    const IniFile firstEmpty = IniFile::Parse("[B]\nKey=\nKey=later\n");
    EXPECT_EQ(firstEmpty.SectionLines("B"), Lines{});

    // Key names beyond the listing bound are not taken.
    std::string text = "[Many]\n";
    for (int i = 0; i < 2000; ++i) text += "Key" + std::to_string(10000 + i) + "=v\n";
    const Lines many = IniFile::Parse(text).SectionLines("Many");
    ASSERT_FALSE(many.empty());
    EXPECT_LT(many.size(), 2000u);
    EXPECT_LE(many.size() * 9, IniFile::kMaxKeyNames);  // "KeyNNNNN" plus its terminator
    EXPECT_EQ(many.front(), "Key10000=v");
    EXPECT_EQ(many.back(), "Key" + std::to_string(10000 + many.size() - 1) + "=v");
}

TEST(SplitRuleList, Table) {
    struct Case {
        std::string text;
        Lines expected;
    };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {"A127.0.0.1, D*.*.*.*", {"A127.0.0.1", "D*.*.*.*"}},
        {"A127.0.0.1,D*.*.*.*", {"A127.0.0.1", "D*.*.*.*"}},
        {"A1 D2", {"A1", "D2"}},
        {"A1 \t  D2", {"A1", "D2"}},
        {"A1\x01\x02" "D2", {"A1", "D2"}},
        {"  A1  ,  D2  ", {"A1", "D2"}},
        {"A1,,D2", {"A1", "", "D2"}},
        {"A1, ,D2", {"A1", "", "D2"}},
        {",A1", {"", "A1"}},
        {"\"A1 2,3\",D2", {"A1 2,3", "D2"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"open", {"open"}},
        {"\"\",A1", {"", "A1"}},
        {std::string("A1\0D2", 5), {"A1"}},
        {"A\xE9" "1", {"A\xE9" "1"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitRuleList(c.text), c.expected) << "\"" << c.text << "\"";
    }
}

TEST(SplitTextLines, Table) {
    struct Case {
        std::string text;
        Lines expected;
    };
    const Case cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\ntwo", {"one", "two"}},
        {"one\rtwo", {"one", "two"}},
        {"one\ntwo", {"one", "two"}},
        {"one\r\n", {"one"}},
        {"one\n", {"one"}},
        {"one\r", {"one"}},
        {"one\r\n\r\n", {"one", ""}},
        {"one\n\ntwo", {"one", "", "two"}},
        {"one\n\rtwo", {"one", "", "two"}},
        {"one\r\r\ntwo", {"one", "", "two"}},
        {"\r\n", {""}},
        {"\r\ntwo", {"", "two"}},
        {std::string("one\ntw\0o\nthree", 15), {"one", "tw"}},
        {std::string("\0one", 4), {}},
        {"caf\xE9\t x ", {"caf\xE9\t x "}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitTextLines(c.text), c.expected) << "text of " << c.text.size() << " bytes";
    }
}

TEST(ReadConfig, DefaultsWithoutAnyKey) {
    const ServerConfig c = ReadConfig(IniFile::Parse(""));
    EXPECT_EQ(c.ChatName, "My NELV Chat");
    EXPECT_EQ(c.ChatPort, 1995);
    EXPECT_EQ(c.ChatBindTo, "*");
    EXPECT_EQ(c.MaxUserRooms, -1);
    EXPECT_EQ(c.CuiFileName, "");
    EXPECT_TRUE(c.SystemRoomLines.empty());
    EXPECT_FALSE(c.OnlyRegisteredUsers);
    EXPECT_EQ(c.MaxUsers, 0);
    EXPECT_EQ(c.MaxConnectionsPerAddress, 32);
    EXPECT_EQ(c.RegistrationPassword, 0);
    EXPECT_TRUE(c.UsersIPList.empty());
    EXPECT_EQ(c.TimeoutMinutes, 15);
    EXPECT_EQ(c.BannerUpdateInterval, 0);
    EXPECT_TRUE(c.BannerLines.empty());
}

TEST(ReadConfig, Examples) {
    const ServerConfig c = ReadConfig(IniFile::Parse(
        "[general]\n"
        "chatname=Test Chat\n"
        "Port=0x7CB\n"
        "BindTo=127.0.0.1\n"
        "Maximum number of user rooms=0\n"
        "CUI file=/tmp/cui.txt\n"
        "[System rooms]\n"
        "Lobby=00FF00,Welcome, all\n"
        "[USERS]\n"
        "Only registered users=2\n"
        "Maximum number of users=abc\n"
        "Maximum number of connections per address=0\n"
        "Registration password=0042\n"
        "IPList=A127.0.0.1, D*.*.*.*\n"
        "Timeout=0\n"
        "[Banners]\n"
        "First=Hello\n"
        "update INTERVAL=30\n"
        "Blank=\n"
        "Second=Bye\n"));
    EXPECT_EQ(c.ChatName, "Test Chat");
    EXPECT_EQ(c.ChatPort, 1995);
    EXPECT_EQ(c.ChatBindTo, "127.0.0.1");
    EXPECT_EQ(c.MaxUserRooms, 0);
    EXPECT_EQ(c.CuiFileName, "/tmp/cui.txt");
    EXPECT_EQ(c.SystemRoomLines, Lines{"Lobby=00FF00,Welcome, all"});
    EXPECT_TRUE(c.OnlyRegisteredUsers);
    EXPECT_EQ(c.MaxUsers, 0);
    EXPECT_EQ(c.MaxConnectionsPerAddress, 0);
    EXPECT_EQ(c.RegistrationPassword, 42);
    EXPECT_EQ(c.UsersIPList, (Lines{"A127.0.0.1", "D*.*.*.*"}));
    EXPECT_EQ(c.TimeoutMinutes, 0);
    EXPECT_EQ(c.BannerUpdateInterval, 30);
    EXPECT_EQ(c.BannerLines, (Lines{"First=Hello", "Second=Bye"}));
}

TEST(ReadConfig, ValueKinds) {
    struct Case {
        const char* ini;
        bool onlyRegistered;
        std::uint16_t port;
        std::int32_t timeout;
    };
    const Case cases[] = {
        {"[Users]\nOnly registered users=1\n", true, 1995, 15},
        {"[Users]\nOnly registered users=yes\n", false, 1995, 15},
        {"[Users]\nOnly registered users=-1\n", true, 1995, 15},
        {"[Users]\nOnly registered users=0\n", false, 1995, 15},
        {"[Users]\nOnly registered users=\n", false, 1995, 15},
        {"[General]\nPort=$7CB\n", false, 1995, 15},
        {"[General]\nPort=70000\n", false, 70000 & 0xFFFF, 15},
        {"[General]\nPort=http\n", false, 1995, 15},
        {"[Users]\nTimeout=abc\n", false, 1995, 15},
        {"[Users]\nTimeout=\n", false, 1995, 15},
        {"[Users]\nTimeout=-5\n", false, 1995, -5},
        {"[Users]\nTimeout=\"30\"\n", false, 1995, 30},
    };
    for (const auto& k : cases) {
        const ServerConfig c = ReadConfig(IniFile::Parse(k.ini));
        EXPECT_EQ(c.OnlyRegisteredUsers, k.onlyRegistered) << k.ini;
        EXPECT_EQ(c.ChatPort, k.port) << k.ini;
        EXPECT_EQ(c.TimeoutMinutes, k.timeout) << k.ini;
    }

    // Only the interval line leaves the banners, and only its first occurrence counts.
    const ServerConfig banners =
        ReadConfig(IniFile::Parse("[Banners]\nUpdate interval=0x1E\nUPDATE INTERVAL=5\nA=b\n"));
    EXPECT_EQ(banners.BannerUpdateInterval, 30);
    EXPECT_EQ(banners.BannerLines, Lines{"A=b"});
}

}  // namespace
}  // namespace nelv::server
