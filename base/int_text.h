// Integer text: the one way numbers are read from and written to text,
// in the configuration, in protocol fields and in passwords.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nelv {

// Reads a signed 32-bit integer. Leading blanks are skipped; then either an
// optional sign and decimal digits within the signed 32-bit range, or "$"
// and one to eight hexadecimal digits (either case, taken as two's
// complement). Nothing may follow. Anything else gives nullopt.
std::optional<std::int32_t> ParseIntText(std::string_view text);

// ParseIntText with a default for invalid text.
std::int32_t IntTextOr(std::string_view text, std::int32_t fallback);

// Decimal, "-" for negatives, no leading zeros, no "+".
std::string IntToText(std::int64_t value);

// Six hexadecimal digits in either case: the accepted form of a colour text.
bool IsColorText(std::string_view text);

// A colour number shown with at least six upper-case hexadecimal digits,
// zero-filled, the number taken as unsigned 32-bit.
std::string ColorNumberToText(std::int32_t color);

// The number a colour text stands for; 0 when the text is not hexadecimal.
std::int32_t ColorTextToNumber(std::string_view text);

}  // namespace nelv
