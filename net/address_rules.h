// Allow/deny rules for peer addresses. A rule is an action letter ("A"/"a"
// allows, "D"/"d" denies, anything else decides nothing) followed by a
// dotted pattern whose parts are compared as text or are "*". The first
// matching rule decides. Pure functions.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace nelv::net {

// Cuts a dotted text at the first three dots; the fourth part keeps the rest
// (dots included); missing parts are empty.
std::array<std::string, 4> SplitDotted4(std::string_view text);

// True to admit `address` (dotted decimal) under `rules`, in order;
// `fallback` when no rule matches or the matching rule has no valid action.
bool MatchAddress(std::string_view address, const std::vector<std::string>& rules, bool fallback);

// Dotted decimal text of an IPv4 address in network byte order.
std::string AddressText(unsigned int networkOrderAddress);

}  // namespace nelv::net
