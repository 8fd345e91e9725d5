#include "userdb/user_record.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/int_text.h"

namespace nelv::userdb {

std::string UserRecord::ShortString(std::size_t offset, std::size_t max) const {
    std::size_t length = std::min<std::size_t>(bytes_[offset], max);
    return std::string(reinterpret_cast<const char*>(bytes_.data() + offset + 1), length);
}

void UserRecord::SetShortString(std::size_t offset, std::size_t max, std::string_view s) {
    std::size_t length = std::min(s.size(), max);
    bytes_[offset] = static_cast<std::uint8_t>(length);
    std::memcpy(bytes_.data() + offset + 1, s.data(), length);
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(offset + 1 + length),
              bytes_.begin() + static_cast<std::ptrdiff_t>(offset + 1 + max), 0);
}

std::int32_t UserRecord::Int32(std::size_t offset) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes_[offset + static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(v);
}

void UserRecord::SetInt32(std::size_t offset, std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

double UserRecord::Double(std::size_t offset) const {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | bytes_[offset + static_cast<std::size_t>(i)];
    return std::bit_cast<double>(v);
}

void UserRecord::SetDouble(std::size_t offset, double value) {
    auto v = std::bit_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < 8; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool UserRecord::PasswordMatches(std::string_view text) const {
    return IntToText(Password()) == text;
}

std::int32_t PasswordFromText(std::string_view text) { return IntTextOr(text, 0); }

}  // namespace nelv::userdb
