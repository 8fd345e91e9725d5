#include "tools/chat/charset.h"

#include <langinfo.h>

#include <array>
#include <climits>
#include <cstring>
#include <cwchar>

namespace nelv::client {
namespace {

// The characters of the bytes 0x80 to 0x9F; 0 where the byte has none.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t Decode(unsigned char byte) {
    if (byte < 0x80 || byte >= 0xA0) return byte;
    const char32_t c = kHigh[byte - 0x80];
    return c != 0 ? c : byte;  // a byte without a character keeps its value
}

char Encode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// The "C" locale: no character set to convert from or to.
bool PassThrough() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset == nullptr || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

}  // namespace

std::string ToWire(std::string_view typed) {
    if (PassThrough()) return std::string(typed);
    std::string out;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < typed.size();) {
        wchar_t c = 0;
        const std::size_t n = std::mbrtowc(&c, typed.data() + at, typed.size() - at, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            out.push_back('?');  // not a character of the terminal's set
            state = {};
            ++at;
            continue;
        }
        out.push_back(Encode(static_cast<char32_t>(c)));
        at += n == 0 ? 1 : n;
    }
    return out;
}

std::string FromWire(std::string_view bytes) {
    if (PassThrough()) return std::string(bytes);
    std::string out;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (unsigned char byte : bytes) {
        const std::size_t n = std::wcrtomb(buffer, static_cast<wchar_t>(Decode(byte)), &state);
        if (n == static_cast<std::size_t>(-1)) {
            out.push_back('?');
            state = {};
        } else {
            out.append(buffer, n);
        }
    }
    return out;
}

}  // namespace nelv::client
