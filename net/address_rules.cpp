#include "net/address_rules.h"

#include <arpa/inet.h>

namespace nelv::net {

std::array<std::string, 4> SplitDotted4(std::string_view text) {
    std::array<std::string, 4> parts;
    std::size_t count = 0;
    while (!text.empty()) {
        std::size_t dot = text.find('.');
        if (dot == std::string_view::npos || count == 3) {
            parts[count++] = std::string(text);
            break;
        }
        parts[count++] = std::string(text.substr(0, dot));
        text.remove_prefix(dot + 1);
    }
    return parts;
}

bool MatchAddress(std::string_view address, const std::vector<std::string>& rules, bool fallback) {
    const auto addressParts = SplitDotted4(address);
    for (const std::string& rule : rules) {
        if (rule.empty()) continue;
        const auto pattern = SplitDotted4(std::string_view(rule).substr(1));
        bool matches = true;
        for (std::size_t i = 0; i < 4 && matches; ++i) {
            matches = pattern[i] == "*" || pattern[i] == addressParts[i];
        }
        if (!matches) continue;
        switch (rule[0]) {
            case 'A': case 'a': return true;
            case 'D': case 'd': return false;
            default: return fallback;
        }
    }
    return fallback;
}

std::string AddressText(unsigned int networkOrderAddress) {
    in_addr a{};
    a.s_addr = networkOrderAddress;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

}  // namespace nelv::net
