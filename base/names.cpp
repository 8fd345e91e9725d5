#include "base/names.h"

namespace nelv {

unsigned char FoldCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
    // Latin-1 lower-case letters, except the division sign 0xF7.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
    switch (c) {
        case 0x9A: return 0x8A;  // s caron
        case 0x9C: return 0x8C;  // oe ligature
        case 0x9E: return 0x8E;  // z caron
        case 0xFF: return 0x9F;  // y diaeresis
        default: return c;
    }
}

std::string FoldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
    return folded;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool ValidNickname(std::string_view nickname) {
    if (nickname.empty() || nickname.size() > kMaxNicknameLength) return false;
    for (char ch : nickname) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0xA0) return false;
    }
    return true;
}

}  // namespace nelv
