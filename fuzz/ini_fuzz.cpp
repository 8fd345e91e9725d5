// The INI reader on any file content: it never fails, every listed line of
// a section is what a lookup of its key gives, values are trimmed and
// bounded, and the settings built from it are within their ranges.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "server/config.h"
#include "server/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto ini = nelv::server::IniFile::Parse(text);
    for (const char* section : {"General", "System rooms", "Users", "Banners", "a", ""}) {
        for (const std::string& line : ini.SectionLines(section)) {
            const std::size_t eq = line.find('=');
            FUZZ_CHECK(eq != std::string::npos);
            const auto value = ini.Get(section, line.substr(0, eq));
            FUZZ_CHECK(value && *value == line.substr(eq + 1) && !value->empty());
            FUZZ_CHECK(value->size() <= nelv::server::IniFile::kMaxValue);
        }
    }
    const nelv::ServerConfig config = nelv::server::ReadConfig(ini);
    FUZZ_CHECK(config.ChatName.size() <= nelv::server::IniFile::kMaxValue);
    for (const std::string& line : nelv::server::SplitTextLines(text)) {
        FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    }
    for (const std::string& rule : nelv::server::SplitRuleList(text)) FUZZ_CHECK(rule.size() <= size);
    return 0;
}
