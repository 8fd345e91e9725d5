#include "base/int_text.h"

#include <cstdio>

namespace nelv {

std::optional<std::int32_t> ParseIntText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) return std::nullopt;

    if (text[i] == '$') {
        ++i;
        // One to eight digits, leading zeros counted.
        if (i == text.size() || text.size() - i > 8) return std::nullopt;
        std::uint64_t value = 0;
        for (; i < text.size(); ++i) {
            char c = text[i];
            int digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else return std::nullopt;
            value = value * 16 + static_cast<std::uint64_t>(digit);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t IntTextOr(std::string_view text, std::int32_t fallback) {
    auto v = ParseIntText(text);
    return v ? *v : fallback;
}

std::string IntToText(std::int64_t value) { return std::to_string(value); }

bool IsColorText(std::string_view text) {
    if (text.size() != 6) return false;
    std::string dollar = "$";
    dollar.append(text);
    return ParseIntText(dollar).has_value();
}

std::string ColorNumberToText(std::int32_t color) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.6X", static_cast<unsigned>(static_cast<std::uint32_t>(color)));
    return buf;
}

std::int32_t ColorTextToNumber(std::string_view text) {
    std::string dollar = "$";
    dollar.append(text);
    return IntTextOr(dollar, 0);
}

}  // namespace nelv
