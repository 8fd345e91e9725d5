// User lookup (command 23).
#include "commands/user_lookup.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "base/console.h"
#include "base/int_text.h"
#include "chat/message.h"
#include "commands/commands.h"
#include "userdb/user_database.h"

namespace nelv::commands {

using namespace chat;

namespace {

// Seconds per day as the idle time has always been computed: an extended
// precision constant just under 86400.
constexpr long double kIdleSecondsPerDay = 86399.99999999980647L;

using namespace protocol::lookup;

std::string DecimalDateTime(double days) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", days);
    return buf;
}

}  // namespace

std::optional<std::int32_t> IdleSeconds(double lastActivity, double now) {
    const long double seconds =
        (static_cast<long double>(now) - static_cast<long double>(lastActivity)) * kIdleSecondsPerDay;
    if (std::isnan(seconds)) return std::nullopt;
    // Half to even, independent of the floating-point environment.
    long double whole = std::floor(seconds);
    const long double rest = seconds - whole;
    if (rest > 0.5L || (rest == 0.5L && std::fmod(whole, 2.0L) != 0)) whole += 1;
    if (whole < static_cast<long double>(std::numeric_limits<std::int32_t>::min()) ||
        whole > static_cast<long double>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(whole);
}

std::array<std::string, 2> IdleOverflowLines(double lastActivity, double now) {
    return {"Fatal error 915: the idle time of a user could not be computed. "
            "Please report this to the server's support, together with the next line.",
            "Additionally information: " + DecimalDateTime(lastActivity) + ":" +
                DecimalDateTime(now)};
}

std::string IdleSecondsText(double lastActivity, double now) {
    if (auto seconds = IdleSeconds(lastActivity, now)) return IntToText(*seconds);
    for (const std::string& line : IdleOverflowLines(lastActivity, now)) ConsoleLine(line);
    return "0";
}

void HandleUserLookup(ChatState& chat, TActUser& user, const Request& request) {
    constexpr Command kCommand = Command::kUserLookup;
    const std::string& name = request.fields[0];
    TActUser* online = FindOnlineUser(chat, name);
    const userdb::UserRecord* record = chat.RegisteredUsers.FindRegisteredUser(name);
    if (!online && !record) {
        SendReply(user, kCommand, 0, kNoSuchUser, name);
        return;
    }

    std::vector<std::string> fields(kFieldCount);
    if (online) {
        fields[kNickname] = online->Nickname;
        fields[kColor] = online->Color;
        fields[kAwayFlag] = FlagText(online->Away);
        fields[kAwayText] = online->AwayText;
        fields[kIdle] = IdleSecondsText(online->LastActivity, chat.Now());
        if (user.Account && user.Account->Privileged()) fields[kAddress] = online->PeerText();
    }
    // The record's spelling and colour win over the connection's.
    if (record) {
        fields[kNickname] = record->Nickname();
        fields[kColor] = ColorNumberToText(record->Color());
        fields[kProfile1] = record->Profile1();
        fields[kProfile2] = record->Profile2();
        fields[kProfile3] = record->Profile3();
        fields[kPrivileged] = FlagText(record->Privileged());
    }
    SendReply(user, kCommand, 0, kOk, JoinFields(fields));
}

}  // namespace nelv::commands
