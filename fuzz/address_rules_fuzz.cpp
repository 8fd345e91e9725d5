// Address rules on any rule list and address: the answer equals a plain
// reading of the rule (first match decides, "*" matches any part), and a
// dotted text cut into four parts joins back to itself.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/address_rules.h"

namespace {

bool Reference(const std::string& address, const std::vector<std::string>& rules, bool fallback) {
    const auto parts = nelv::net::SplitDotted4(address);
    for (const std::string& rule : rules) {
        if (rule.empty()) continue;
        const auto pattern = nelv::net::SplitDotted4(rule.substr(1));
        bool all = true;
        for (int i = 0; i < 4; ++i) all = all && (pattern[i] == "*" || pattern[i] == parts[i]);
        if (!all) continue;
        if (rule[0] == 'A' || rule[0] == 'a') return true;
        if (rule[0] == 'D' || rule[0] == 'd') return false;
        return fallback;
    }
    return fallback;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input is lines: the address first, then one rule per line.
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    const std::string address = lines[0];
    const std::vector<std::string> rules(lines.begin() + 1, lines.end());
    for (bool fallback : {false, true}) {
        FUZZ_CHECK(nelv::net::MatchAddress(address, rules, fallback) == Reference(address, rules, fallback));
    }
    const auto parts = nelv::net::SplitDotted4(address);
    std::string joined = parts[0];
    std::size_t used = 1;
    for (std::size_t i = 1; i < 4; ++i) {
        if (joined.size() < address.size()) {
            joined += "." + parts[i];
            used = i + 1;
        }
    }
    for (std::size_t i = used; i < 4; ++i) FUZZ_CHECK(parts[i].empty());
    FUZZ_CHECK(joined == address);
    return 0;
}
