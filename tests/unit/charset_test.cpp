// nelv3chat's conversion between the terminal's character set and the
// chat's Windows-1252, in a UTF-8 locale and in the plain C locale.
#include <gtest/gtest.h>
#include <locale.h>

#include <string>

#include "tools/chat/charset.h"

namespace nelv::client {
namespace {

// Runs the calling thread in `name`'s character set while it lives.
class ThreadLocale {
public:
    explicit ThreadLocale(const char* name) : locale_(newlocale(LC_CTYPE_MASK, name, nullptr)) {
        previous_ = uselocale(locale_);
    }
    ~ThreadLocale() {
        uselocale(previous_);
        freelocale(locale_);
    }
    bool Ok() const { return locale_ != nullptr; }

private:
    locale_t locale_;
    locale_t previous_ = nullptr;
};

TEST(Charset, Utf8TerminalAndWindows1252Wire) {
    ThreadLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    struct Row {
        std::string typed, wire;
    };
    const Row rows[] = {
        {"grüße, café 5€", "gr\xFC\xDF" "e, caf\xE9 5\x80"},
        {"‘quotes’ … Ÿ", "\x91quotes\x92 \x85 \x9F"},
        {"日本 ok", "?? ok"},           // no byte for these
        {"\xC3(", "?("},                 // not UTF-8 at all
    };
    for (const Row& row : rows) EXPECT_EQ(ToWire(row.typed), row.wire) << row.typed;
    for (const Row& row : rows) {
        if (row.wire.find('?') == std::string::npos) {
            EXPECT_EQ(FromWire(row.wire), row.typed) << row.typed;
        }
    }
    EXPECT_EQ(FromWire("\x81"), "\u0081");  // a byte without a character keeps its value
}

TEST(Charset, TheCLocalePassesBytesThrough) {
    ThreadLocale plain("C");
    const std::string bytes = "gr\xFC\xDF" "e \x80 \xC3\xA9";
    EXPECT_EQ(ToWire(bytes), bytes);
    EXPECT_EQ(FromWire(bytes), bytes);
}

}  // namespace
}  // namespace nelv::client
