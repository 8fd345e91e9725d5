// Field splitting against its plain definition, and flags: any text, any
// separator, any field counts.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chat/message.h"
#include "fuzz/fuzz_check.h"

namespace {

// Cut at each separator while fewer than max-1 fields are taken; the rest
// is the last field whole; nothing follows a separator at the very end;
// then pad to min.
std::vector<std::string> Reference(std::string_view text, char separator, unsigned maxFields, unsigned minFields) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < text.size()) {
        if (fields.size() + 1 >= maxFields) {
            fields.emplace_back(text.substr(i));
            break;
        }
        std::size_t j = i;
        while (j < text.size() && text[j] != separator) ++j;
        fields.emplace_back(text.substr(i, j - i));
        i = j + 1;
    }
    while (fields.size() < minFields) fields.emplace_back();
    return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const char separator = static_cast<char>(data[0] % 3);  // mostly 0x01, sometimes 0x00 or 0x02
    const unsigned maxFields = data[1] % 8 + 1;
    const unsigned minFields = data[2] % 8;
    const std::string_view text(reinterpret_cast<const char*>(data) + 3, size - 3);

    const auto fields = nelv::chat::SplitFields(text, separator, maxFields, minFields);
    FUZZ_CHECK(fields == Reference(text, separator, maxFields, minFields));
    FUZZ_CHECK(fields.size() >= minFields);
    FUZZ_CHECK(fields.size() <= std::max(maxFields, minFields));

    const int flag = nelv::chat::ParseFlag(text, 7);
    FUZZ_CHECK(flag == (text.empty() || (text[0] != '0' && text[0] != '1') ? 7 : text[0] - '0'));
    return 0;
}
