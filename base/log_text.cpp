#include "base/log_text.h"

namespace nelv {

std::string LogSafe(std::string_view clientText) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(clientText.size());
    for (char ch : clientText) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace nelv
