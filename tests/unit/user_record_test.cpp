// The 466-byte user record, checked against images built field by field
// elsewhere, and its handling of values the server itself never writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/int_text.h"
#include "tests/support/udb_image.h"
#include "userdb/user_record.h"

namespace nelv::userdb {
namespace {

using test::RecordImage;
using test::RecordEntry;

UserRecord FromImage(const std::string& image) {
    UserRecord::Bytes bytes{};
    for (std::size_t i = 0; i < kRecordSize; ++i) bytes[i] = static_cast<std::uint8_t>(image[i]);
    return UserRecord(bytes);
}

std::string ToImage(const UserRecord& record) {
    return std::string(reinterpret_cast<const char*>(record.bytes().data()), kRecordSize);
}

RecordEntry FullSpec() {
    RecordEntry entry;
    entry.nickname = "Alice";
    entry.password = -123456;
    entry.profile1 = "first profile";
    entry.profile2 = std::string(80, 'b');
    entry.profile3 = std::string(255, 'c');
    entry.color = 0xAB12CD;
    entry.loginInvisible = 1;
    entry.registeredAt = 37758.5;
    entry.lastLoginAt = 45351.25;
    entry.enabled = 1;
    entry.privileged = 1;
    return entry;
}

TEST(UserRecord, DecodesEveryFieldAtItsOffset) {
    const std::string image = RecordImage(FullSpec());
    ASSERT_EQ(image.size(), kRecordSize);
    const UserRecord r = FromImage(image);
    EXPECT_EQ(r.Nickname(), "Alice");
    EXPECT_EQ(r.Password(), -123456);
    EXPECT_EQ(r.Profile1(), "first profile");
    EXPECT_EQ(r.Profile2(), std::string(80, 'b'));
    EXPECT_EQ(r.Profile3(), std::string(255, 'c'));
    EXPECT_EQ(r.Color(), 0xAB12CD);
    EXPECT_EQ(ColorNumberToText(r.Color()), "AB12CD");
    EXPECT_TRUE(r.LoginInvisible());
    EXPECT_EQ(r.RegisteredAt(), 37758.5);
    EXPECT_EQ(r.LastLoginAt(), 45351.25);
    EXPECT_TRUE(r.Enabled());
    EXPECT_TRUE(r.Privileged());

    RecordEntry plain;
    plain.nickname = "Bob";
    plain.enabled = 0;
    const UserRecord b = FromImage(RecordImage(plain));
    EXPECT_EQ(b.Nickname(), "Bob");
    EXPECT_EQ(b.Profile1(), "");
    EXPECT_FALSE(b.LoginInvisible());
    EXPECT_FALSE(b.Enabled());
    EXPECT_FALSE(b.Privileged());
    EXPECT_EQ(b.LastLoginAt(), 0.0);
}

TEST(UserRecord, EncodesTheSameBytes) {
    const RecordEntry entry = FullSpec();
    UserRecord r;
    r.SetNickname(entry.nickname);
    r.SetPassword(entry.password);
    r.SetProfile1(entry.profile1);
    r.SetProfile2(entry.profile2);
    r.SetProfile3(entry.profile3);
    r.SetColor(entry.color);
    r.SetLoginInvisible(true);
    r.SetRegisteredAt(entry.registeredAt);
    r.SetLastLoginAt(entry.lastLoginAt);
    r.SetEnabled(true);
    r.SetPrivileged(true);
    EXPECT_EQ(ToImage(r), RecordImage(entry));

    // A few offsets spelled out, so a shifted layout shows where it went wrong.
    const auto& bytes = r.bytes();
    EXPECT_EQ(bytes[0], 5);
    EXPECT_EQ(bytes[1], 'A');
    EXPECT_EQ(bytes[21], 0xC0);  // -123456 = 0xFFFE1DC0, little-endian
    EXPECT_EQ(bytes[22], 0x1D);
    EXPECT_EQ(bytes[23], 0xFE);
    EXPECT_EQ(bytes[24], 0xFF);
    EXPECT_EQ(bytes[25], 13);
    EXPECT_EQ(bytes[26], 'f');
    EXPECT_EQ(bytes[106], 80);
    EXPECT_EQ(bytes[187], 255);
    EXPECT_EQ(bytes[442], 'c');
    EXPECT_EQ(bytes[443], 0xCD);
    EXPECT_EQ(bytes[444], 0x12);
    EXPECT_EQ(bytes[445], 0xAB);
    EXPECT_EQ(bytes[446], 0x00);
    EXPECT_EQ(bytes[447], 1);
    EXPECT_EQ(bytes[455], 0x40);  // high byte of 37758.5
    EXPECT_EQ(bytes[463], 0x40);  // high byte of 45351.25
    EXPECT_EQ(bytes[464], 1);
    EXPECT_EQ(bytes[465], 1);
}

TEST(UserRecord, OutOfRangeBytesReadSafely) {
    std::string image = RecordImage(FullSpec());
    image[0] = static_cast<char>(200);  // beyond the 20 characters of the field
    image[25] = static_cast<char>(255);
    image[106] = static_cast<char>(81);
    image[447] = 7;
    image[464] = static_cast<char>(0xFF);
    image[465] = 2;
    const UserRecord r = FromImage(image);
    EXPECT_EQ(r.Nickname().size(), 20u);
    EXPECT_EQ(r.Nickname().substr(0, 5), "Alice");
    EXPECT_EQ(r.Profile1().size(), 80u);
    EXPECT_EQ(r.Profile2(), std::string(80, 'b'));
    EXPECT_EQ(r.Profile3().size(), 255u);
    EXPECT_TRUE(r.LoginInvisible());
    EXPECT_TRUE(r.Enabled());
    EXPECT_TRUE(r.Privileged());

    // Writing a flag normalises it to 0 or 1 and leaves the neighbours alone.
    UserRecord w = FromImage(image);
    w.SetLoginInvisible(true);
    EXPECT_EQ(w.bytes()[447], 1);
    EXPECT_EQ(w.bytes()[448], r.bytes()[448]);
}

TEST(UserRecord, SettersWriteZerosAfterTheTextAndTouchNothingElse) {
    std::string garbage(kRecordSize, static_cast<char>(0xAA));
    UserRecord r = FromImage(garbage);

    r.SetNickname("Bob");
    EXPECT_EQ(r.bytes()[0], 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.bytes()[1]), 3), "Bob");
    for (std::size_t i = 4; i <= 20; ++i) EXPECT_EQ(r.bytes()[i], 0) << "offset " << i;
    EXPECT_EQ(r.bytes()[21], 0xAA);

    r.SetProfile1(std::string(100, 'x'));  // longer than the field
    EXPECT_EQ(r.bytes()[25], 80);
    EXPECT_EQ(r.Profile1(), std::string(80, 'x'));
    EXPECT_EQ(r.bytes()[106], 0xAA);

    r.SetProfile3("");
    EXPECT_EQ(r.bytes()[187], 0);
    for (std::size_t i = 188; i <= 442; ++i) ASSERT_EQ(r.bytes()[i], 0) << "offset " << i;
    EXPECT_EQ(r.bytes()[443], 0xAA);
    EXPECT_EQ(r.bytes()[186], 0xAA);

    const auto before = r.bytes();
    r.MarkFree();
    EXPECT_EQ(r.bytes()[0], 0);
    for (std::size_t i = 1; i < kRecordSize; ++i) ASSERT_EQ(r.bytes()[i], before[i]) << i;
    EXPECT_EQ(r.Nickname(), "");
}

TEST(UserRecordPassword, OnlyThePlainDecimalTextMatches) {
    struct Case {
        std::string stored;  // as the client sent it at registration
        std::string tried;
        bool matches;
    };
    const Case cases[] = {
        {"42", "42", true},        {"42", "042", false},     {"42", "+42", false},
        {"42", " 42", false},      {"42", "42 ", false},     {"42", "", false},
        {"0042", "42", true},      {"0042", "0042", false},  {"+42", "42", true},
        {"+42", "+42", false},     {"-7", "-7", true},       {"-7", "7", false},
        {"abc", "0", true},        {"abc", "abc", false},    {"abc", "", false},
        {"", "0", true},           {"0", "00", false},       {"0", "-0", false},
        {"99999999999", "0", true},
        {"-2147483648", "-2147483648", true},
        {"$10", "16", true},
    };
    for (const auto& c : cases) {
        UserRecord r;
        r.SetPassword(PasswordFromText(c.stored));
        EXPECT_EQ(r.PasswordMatches(c.tried), c.matches)
            << "registered with \"" << c.stored << "\", tried \"" << c.tried << "\"";
    }
}

}  // namespace
}  // namespace nelv::userdb
