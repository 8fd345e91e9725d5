// UserRecord: one registered nickname, kept in memory as the very bytes of
// its 466-byte slot in the user database file. Accessors decode and encode
// single fields; nothing else of the image is touched by a setter.
//
//   offset size field           encoding
//   0      21   Nickname        length byte (0..20) + characters; 0 = free slot
//   21     4    Password        int32, little-endian
//   25     81   Profile1        length byte (0..80) + characters
//   106    81   Profile2        length byte (0..80) + characters
//   187    256  Profile3        length byte (0..255) + characters
//   443    4    Color           int32, little-endian (24-bit RGB in practice)
//   447    1    LoginInvisible  0/1
//   448    8    RegisteredAt    IEEE double, days since 1899-12-30 (local time)
//   456    8    LastLoginAt     IEEE double, 0.0 when never logged in
//   464    1    Enabled         0 = logins refused
//   465    1    Privileged      non-zero = privileged
//
// Records from the file are not trusted: a length byte beyond its field is
// read as the field's maximum, and flag bytes read as "non-zero".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nelv::userdb {

inline constexpr std::size_t kRecordSize = 466;

class UserRecord {
public:
    using Bytes = std::array<std::uint8_t, kRecordSize>;

    static constexpr std::size_t kNicknameOffset = 0, kNicknameMax = 20;
    static constexpr std::size_t kPasswordOffset = 21;
    static constexpr std::size_t kProfile1Offset = 25, kProfile1Max = 80;
    static constexpr std::size_t kProfile2Offset = 106, kProfile2Max = 80;
    static constexpr std::size_t kProfile3Offset = 187, kProfile3Max = 255;
    static constexpr std::size_t kColorOffset = 443;
    static constexpr std::size_t kLoginInvisibleOffset = 447;
    static constexpr std::size_t kRegisteredAtOffset = 448;
    static constexpr std::size_t kLastLoginAtOffset = 456;
    static constexpr std::size_t kEnabledOffset = 464;
    static constexpr std::size_t kPrivilegedOffset = 465;

    UserRecord() { bytes_.fill(0); }
    explicit UserRecord(const Bytes& bytes) : bytes_(bytes) {}

    const Bytes& bytes() const { return bytes_; }

    std::string Nickname() const { return ShortString(kNicknameOffset, kNicknameMax); }
    std::string Profile1() const { return ShortString(kProfile1Offset, kProfile1Max); }
    std::string Profile2() const { return ShortString(kProfile2Offset, kProfile2Max); }
    std::string Profile3() const { return ShortString(kProfile3Offset, kProfile3Max); }
    std::int32_t Password() const { return Int32(kPasswordOffset); }
    std::int32_t Color() const { return Int32(kColorOffset); }
    bool LoginInvisible() const { return bytes_[kLoginInvisibleOffset] != 0; }
    double RegisteredAt() const { return Double(kRegisteredAtOffset); }
    double LastLoginAt() const { return Double(kLastLoginAtOffset); }
    bool Enabled() const { return bytes_[kEnabledOffset] != 0; }
    bool Privileged() const { return bytes_[kPrivilegedOffset] != 0; }

    // Texts longer than the field are cut; the spare bytes become zeros.
    void SetNickname(std::string_view s) { SetShortString(kNicknameOffset, kNicknameMax, s); }
    void SetProfile1(std::string_view s) { SetShortString(kProfile1Offset, kProfile1Max, s); }
    void SetProfile2(std::string_view s) { SetShortString(kProfile2Offset, kProfile2Max, s); }
    void SetProfile3(std::string_view s) { SetShortString(kProfile3Offset, kProfile3Max, s); }
    void SetPassword(std::int32_t v) { SetInt32(kPasswordOffset, v); }
    void SetColor(std::int32_t v) { SetInt32(kColorOffset, v); }
    void SetLoginInvisible(bool v) { bytes_[kLoginInvisibleOffset] = v ? 1 : 0; }
    void SetRegisteredAt(double v) { SetDouble(kRegisteredAtOffset, v); }
    void SetLastLoginAt(double v) { SetDouble(kLastLoginAtOffset, v); }
    void SetEnabled(bool v) { bytes_[kEnabledOffset] = v ? 1 : 0; }
    void SetPrivileged(bool v) { bytes_[kPrivilegedOffset] = v ? 1 : 0; }

    // Marks the slot free by zeroing only the nickname's length byte.
    void MarkFree() { bytes_[kNicknameOffset] = 0; }

    // The password check: the stored number's plain decimal text must equal
    // `text` byte for byte.
    bool PasswordMatches(std::string_view text) const;

private:
    std::string ShortString(std::size_t offset, std::size_t max) const;
    void SetShortString(std::size_t offset, std::size_t max, std::string_view s);
    std::int32_t Int32(std::size_t offset) const;
    void SetInt32(std::size_t offset, std::int32_t v);
    double Double(std::size_t offset) const;
    void SetDouble(std::size_t offset, double v);

    Bytes bytes_;
};

// A password text as stored: its integer value, 0 when it is not a number.
std::int32_t PasswordFromText(std::string_view text);

}  // namespace nelv::userdb
