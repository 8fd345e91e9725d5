// A reader for INI text that behaves like the Windows profile-string
// service: [sections] of key=value lines, section and key names compared
// ignoring case, the first occurrence of a section or key wins, values
// trimmed and freed of enclosing quotes, ";" lines are comments. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nelv::server {

class IniFile {
public:
    // Longest value returned; longer ones are cut.
    static constexpr std::size_t kMaxValue = 1023;
    // Most bytes of key names (each counted with one terminating byte) that
    // a section listing takes.
    static constexpr std::size_t kMaxKeyNames = 8192;

    static IniFile Parse(std::string_view text);

    // The value of `key` in `section`, or nullopt when either is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;
    // Integer value: "0x" + hex is read as "$" + hex; invalid gives fallback.
    std::int32_t GetInteger(std::string_view section, std::string_view key,
                            std::int32_t fallback) const;
    bool GetBool(std::string_view section, std::string_view key, bool fallback) const;

    // "key=value" for each distinct key of the section in first-occurrence
    // order, leaving out keys whose value is empty.
    std::vector<std::string> SectionLines(std::string_view section) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;
    };
    const Section* FindSection(std::string_view name) const;

    std::vector<Section> sections_;
};

// Integer text of a configuration value ("0x1F" is taken as "$1F").
std::int32_t IniInteger(std::string_view value, std::int32_t fallback);

// Splits a comma/blank separated list; "quoted" entries may hold blanks and
// commas, "" inside quotes stands for one quote, ",," gives an empty entry.
std::vector<std::string> SplitRuleList(std::string_view text);

// Lines of a text file: ends at CR LF, lone CR or lone LF; stops at the first
// zero byte; a final line break adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

}  // namespace nelv::server
