// Allow/deny rules on peer addresses: dotted parts compared as text, the
// first matching rule decides.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <array>
#include <string>
#include <vector>

#include "net/address_rules.h"

namespace nelv::net {
namespace {

using Parts = std::array<std::string, 4>;
using Rules = std::vector<std::string>;

TEST(SplitDotted4, Table) {
    struct Case {
        std::string text;
        Parts expected;
    };
    const Case cases[] = {
        {"10.0.0.1", {"10", "0", "0", "1"}},
        {"*.*.*.*", {"*", "*", "*", "*"}},
        {"1.2.3.4.5", {"1", "2", "3", "4.5"}},
        {"1.2.3.4.", {"1", "2", "3", "4."}},
        {"10.*", {"10", "*", "", ""}},
        {"10", {"10", "", "", ""}},
        {"", {"", "", "", ""}},
        {"1..2", {"1", "", "2", ""}},
        {"1.2.3.", {"1", "2", "3", ""}},
        {".1", {"", "1", "", ""}},
        {"....", {"", "", "", "."}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitDotted4(c.text), c.expected) << "\"" << c.text << "\"";
}

TEST(MatchAddress, Table) {
    struct Case {
        Rules rules;
        std::string address;
        bool fallback, expected;
    };
    const Rules allowOneFirst = {"A10.0.0.1", "D*.*.*.*"};
    const Rules denyAllFirst = {"D*.*.*.*", "A10.0.0.1"};
    const Case cases[] = {
        {{}, "10.0.0.1", true, true},
        {{}, "10.0.0.1", false, false},
        {{"A192.168.1.*"}, "192.168.1.7", false, true},
        {{"A192.168.1.*"}, "192.168.10.7", false, false},
        {{"D*.*.*.*"}, "1.2.3.4", true, false},
        {{"D*.*.*.*"}, "255.255.255.255", true, false},
        {allowOneFirst, "10.0.0.1", true, true},
        {allowOneFirst, "10.0.0.2", true, false},
        {allowOneFirst, "127.0.0.1", true, false},
        {denyAllFirst, "10.0.0.1", true, false},
        {{"a10.*.*.*"}, "10.1.2.3", false, true},
        {{"A10.*.*.*"}, "10.1.2.3", false, true},
        {{"a10.*.*.*"}, "11.1.2.3", false, false},
        {{"d10.*.*.*"}, "10.1.2.3", true, false},
        {{"A10.*"}, "10.1.2.3", false, false},
        {{"A10.*", "D*.*.*.*"}, "10.1.2.3", true, false},
        {{"A010.0.0.1"}, "10.0.0.1", false, false},
        {{"A19*.0.0.1"}, "192.0.0.1", false, false},
        {{"A19*.0.0.1"}, "19*.0.0.1", false, true},  // literal text, not a wildcard
        {{"A1.2.3.4.5"}, "1.2.3.4", false, false},
        {{"A1.2.3.*"}, "1.2.3.4", false, true},
        // No action letter: "1" is the action, "0.0.0.1" the pattern, and a match ends the
        // search with the default.
        {{"10.0.0.1", "D*.*.*.*"}, "0.0.0.1", true, true},
        {{"10.0.0.1", "A*.*.*.*"}, "0.0.0.1", false, false},
        {{"10.0.0.1", "D*.*.*.*"}, "10.0.0.1", true, false},
        {{"X*.*.*.*", "D*.*.*.*"}, "1.2.3.4", true, true},
        {{"", "A1.2.3.4"}, "1.2.3.4", false, true},
        {{"A", "D*.*.*.*"}, "1.2.3.4", true, false},
    };
    for (const auto& c : cases) {
        std::string rules;
        for (const auto& r : c.rules) rules += "[" + r + "]";
        EXPECT_EQ(MatchAddress(c.address, c.rules, c.fallback), c.expected)
            << c.address << " under " << rules << " with default " << c.fallback;
    }
}

TEST(AddressText, DottedDecimalWithoutLeadingZeros) {
    EXPECT_EQ(AddressText(inet_addr("10.0.0.5")), "10.0.0.5");
    EXPECT_EQ(AddressText(inet_addr("127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(AddressText(htonl(0xC0A8010A)), "192.168.1.10");
}

}  // namespace
}  // namespace nelv::net
