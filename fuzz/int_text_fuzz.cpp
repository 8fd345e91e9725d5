// Integer text against a plain reading of its rule, and the round trip of
// every value through its decimal text.
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/int_text.h"
#include "fuzz/fuzz_check.h"

namespace {

std::optional<std::int32_t> Reference(std::string_view text) {
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos) return std::nullopt;
    text.remove_prefix(i);
    if (text[0] == '$') {
        text.remove_prefix(1);
        if (text.empty() || text.size() > 8) return std::nullopt;
        for (char c : text) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        }
        return static_cast<std::int32_t>(std::stoul(std::string(text), nullptr, 16));
    }
    std::string_view digits = text;
    if (digits[0] == '+' || digits[0] == '-') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    const std::string plain(digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1)));
    if (plain.size() > 10) return std::nullopt;
    long long value = std::stoll(plain);
    if (text[0] == '-') value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto value = nelv::ParseIntText(text);
    FUZZ_CHECK(value == Reference(text));
    if (value) FUZZ_CHECK(nelv::ParseIntText(nelv::IntToText(*value)) == value);
    FUZZ_CHECK(nelv::IntTextOr(text, 12345) == value.value_or(12345));
    if (nelv::IsColorText(text)) {
        FUZZ_CHECK(text.size() == 6);
        FUZZ_CHECK(nelv::ColorNumberToText(nelv::ColorTextToNumber(text)).size() == 6);
    }
    return 0;
}
