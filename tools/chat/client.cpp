#include "tools/chat/client.h"

#include <cstdio>
#include <utility>

#include "base/int_text.h"
#include "protocol/wire.h"

namespace nelv::client {
namespace {

using protocol::Command;
using protocol::JoinFields;
using protocol::SplitFields;

constexpr char kSep = protocol::kFieldSeparator;

std::vector<std::string> Words(std::string_view line, std::size_t count) {
    // The first count-1 words, then the rest of the line as the last one.
    std::vector<std::string> words;
    std::size_t i = 0;
    while (words.size() + 1 < count) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i == line.size()) return words;
        std::size_t end = line.find(' ', i);
        if (end == std::string_view::npos) end = line.size();
        words.emplace_back(line.substr(i, end - i));
        i = end;
    }
    while (i < line.size() && line[i] == ' ') ++i;
    if (i < line.size()) words.emplace_back(line.substr(i));
    return words;
}

// What a refusal means, in words.
std::string Meaning(std::uint8_t status, Command command) {
    switch (status) {
        case protocol::kNicknameInvalid: return "the nickname is not valid";
        case protocol::kOnlyRegistered: return "only registered nicknames may log in";
        case protocol::kFull: return command == Command::kJoin ? "the room is full" : "the server is full";
        case protocol::kWrongPassword: return "wrong password";
        case protocol::kNicknameInUse: return "the nickname is in use";
        case protocol::kAlreadyRegistered: return "the nickname is registered already";
        case protocol::kAddressRefused:
            return command == Command::kJoin ? "your address is banned from the room" : "your address is not admitted";
        case protocol::kRoomClosed: return "the room is closed";
        case protocol::kTemporarilyBanned: return "your address is banned from the server for a while";
        case protocol::kIdleTimeout: return "idle time-out";
        case protocol::kShuttingDown: return "the server shuts down";
        case protocol::kNotLoggedIn: return "you are not logged in (/nick NAME)";
        case protocol::kNoSuchUser: return "no such user";
        case protocol::kNotPermitted: return "you are not permitted to";
        case protocol::kMuted: return "you are muted in that room";
        case protocol::kTooManyRooms: return "no more rooms may be opened";
        case protocol::kAccountDisabled: return "the account is disabled";
        default: return "status " + std::to_string(status);
    }
}

const char* What(Command command) {
    switch (command) {
        case Command::kJoin: return "join";
        case Command::kInvitation: return "invitation";
        case Command::kTextWithAddress: return "message";
        case Command::kRoomMessage: return "message";
        case Command::kRoomSettings: return "settings";
        case Command::kRoomInfo: return "room information";
        case Command::kAccount: return "registration";
        case Command::kInvisible: return "invisibility";
        case Command::kStanding: return "standing";
        case Command::kAway: return "away";
        case Command::kRoomKick: return "kick";
        case Command::kLeave: return "leave";
        case Command::kColor: return "colour";
        case Command::kMute: return "mute";
        case Command::kAddressBan: return "ban";
        case Command::kServerKick: return "kill";
        case Command::kUserLookup: return "whois";
        case Command::kPrivateMessage: return "message";
        case Command::kLogin: return "login";
        default: return "request";
    }
}

std::string Standing(char status) {
    switch (status) {
        case '1': return "operator";
        case '2': return "owner";
        case '3': return "privileged";
        case '4': return "away";
        default: return "member";
    }
}

}  // namespace

std::string Request(Command command, std::uint8_t sub, std::string_view payload) {
    return protocol::BuildRequest(command, sub, payload);
}

std::vector<std::string> Session::Help() {
    return {
        "/nick NAME [PASSWORD]       log in, or take another nickname",
        "/join ROOM                  join (or open) a room; it becomes the current room",
        "/leave [ROOM]               leave a room",
        "TEXT                        say something in the current room",
        "/announce TEXT              say something as an operator message",
        "/msg NICK TEXT              a private message",
        "/invite NICK [ROOM]         invite someone into a room",
        "/away [TEXT], /back         go away, come back",
        "/color RRGGBB               your colour",
        "/invisible on|off           hide from the user list, or show again",
        "/whois NICK                 who is behind a nickname",
        "/rooms, /users, /info       the rooms, the users, all server information",
        "/topic [ROOM] TEXT          a room's topic",
        "/set ROOM topic|color|limit|closed|hidden VALUE   a room's settings",
        "/roominfo [ROOM]            a room's settings",
        "/op, /deop, /owner, /kick, /mute, /unmute, /ban, /unban NICK [ROOM]   room operators",
        "/kill NICK [MINUTES]        throw someone off the server (privileged users)",
        "/register PASSWORD [REGPASSWORD]   register your nickname",
        "/profile PASSWORD           show your profile",
        "/quit                       leave",
        "/help                       this list",
    };
}

std::string Session::Paint(std::string_view nick, std::string_view color) const {
    if (!colors_ || !IsColorText(color)) return std::string(nick);
    const std::int32_t rgb = ColorTextToNumber(color);
    char code[32];
    std::snprintf(code, sizeof code, "\x1b[38;2;%d;%d;%dm", (rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255);
    return code + std::string(nick) + "\x1b[0m";
}

std::string Session::Nick(std::string_view nick) const {
    auto it = users_.find(std::string(nick));
    return Paint(nick, it == users_.end() ? std::string_view{} : std::string_view(it->second.first));
}

std::string Session::RoomOr(const std::vector<std::string>& words, std::size_t at) const {
    return words.size() > at ? words[at] : room_;
}

std::vector<std::string> Session::TakeFollowUps() { return std::exchange(followUps_, {}); }

std::string Session::SyncRequest() const { return Request(Command::kUserLookup, 0, kSyncName); }

bool Session::IsSyncAnswer(std::string_view message) const {
    if (message.size() < 3 || static_cast<Command>(message[0]) != Command::kUserLookup) return false;
    return message.substr(3) == kSyncName || (message.size() == 3 && message[2] == protocol::kNotLoggedIn);
}

Typed Session::Type(std::string_view line) {
    Typed typed;
    if (line.empty()) return typed;
    if (line[0] != '/') {
        if (room_.empty()) {
            typed.lines.push_back("! join a room first (/join ROOM)");
        } else {
            typed.requests.push_back(Request(Command::kRoomMessage, 0, JoinFields({room_, line})));
        }
        return typed;
    }
    const auto head = Words(line, 2);
    const std::string command = head[0];
    const std::string rest = head.size() > 1 ? head[1] : "";
    auto need = [&](bool ok, const char* usage) {
        if (!ok) typed.lines.push_back(std::string("! usage: ") + usage);
        return ok;
    };
    auto send = [&](Command c, std::uint8_t sub, std::string_view payload = {}) {
        typed.requests.push_back(Request(c, sub, payload));
    };
    // Commands on a member of a room: NICK [ROOM].
    auto onMember = [&](Command c, std::uint8_t sub, const char* usage) {
        const auto w = Words(rest, 2);
        if (need(!w.empty() && !RoomOr(w, 1).empty(), usage)) send(c, sub, JoinFields({RoomOr(w, 1), w[0]}));
    };

    if (command == "/nick") {
        const auto w = Words(rest, 2);
        if (need(!w.empty(), "/nick NAME [PASSWORD]")) {
            wanted_.push_back(w[0]);
            send(Command::kLogin, 0, JoinFields({w[0], w.size() > 1 ? w[1] : ""}));
        }
    } else if (command == "/join") {
        if (need(!rest.empty(), "/join ROOM")) {
            // The room asked for is the current one from now on, so that a
            // script may talk in it right away.
            room_ = rest;
            send(Command::kJoin, 0, rest);
        }
    } else if (command == "/leave") {
        const std::string room = rest.empty() ? room_ : rest;
        if (need(!room.empty(), "/leave [ROOM]")) send(Command::kLeave, 0, room);
    } else if (command == "/announce") {
        if (need(!room_.empty() && !rest.empty(), "/announce TEXT, in a room")) {
            send(Command::kRoomMessage, 13, JoinFields({room_, rest}));
        }
    } else if (command == "/msg") {
        const auto w = Words(rest, 2);
        if (need(w.size() == 2, "/msg NICK TEXT")) send(Command::kPrivateMessage, 0, JoinFields({w[0], w[1]}));
    } else if (command == "/invite") {
        onMember(Command::kInvitation, 0, "/invite NICK [ROOM]");
    } else if (command == "/away") {
        send(Command::kAway, 0, rest);
    } else if (command == "/back") {
        send(Command::kAway, protocol::kSwitchOff);
    } else if (command == "/color") {
        if (need(IsColorText(rest), "/color RRGGBB")) send(Command::kColor, 0, rest);
    } else if (command == "/invisible") {
        if (need(rest == "on" || rest == "off", "/invisible on|off")) {
            send(Command::kInvisible, rest == "on" ? protocol::kSwitchOn : protocol::kSwitchOff);
        }
    } else if (command == "/whois") {
        if (need(!rest.empty(), "/whois NICK")) send(Command::kUserLookup, 0, rest);
    } else if (command == "/rooms" || command == "/users" || command == "/info") {
        infoParts_.push_back(command == "/rooms" ? 4 : command == "/users" ? 5 : 0);
        send(Command::kServerInfo, 0);
    } else if (command == "/topic") {
        // "/topic TEXT" for the current room; "/topic ROOM TEXT" names the room when it is one of ours.
        if (need(!room_.empty() || !rest.empty(), "/topic [ROOM] TEXT")) {
            send(Command::kRoomSettings, 0x08, JoinFields({room_, rest, "", "", "", ""}));
        }
    } else if (command == "/set") {
        const auto w = Words(rest, 3);
        static const std::map<std::string, std::pair<std::uint8_t, int>> keys = {
            {"topic", {0x08, 1}}, {"color", {0x10, 2}}, {"limit", {0x20, 3}}, {"closed", {0x80, 4}}, {"hidden", {0x40, 5}}};
        auto key = w.size() == 3 ? keys.find(w[1]) : keys.end();
        if (need(key != keys.end(), "/set ROOM topic|color|limit|closed|hidden VALUE")) {
            std::vector<std::string> fields(6);
            fields[0] = w[0];
            std::string value = w[2];
            if (value == "on") value = "1";
            if (value == "off") value = "0";
            fields[static_cast<std::size_t>(key->second.second)] = value;
            send(Command::kRoomSettings, key->second.first, JoinFields(fields));
        }
    } else if (command == "/roominfo") {
        const std::string room = rest.empty() ? room_ : rest;
        if (need(!room.empty(), "/roominfo [ROOM]")) send(Command::kRoomInfo, 0, room);
    } else if (command == "/op") {
        onMember(Command::kStanding, '1', "/op NICK [ROOM]");
    } else if (command == "/deop") {
        onMember(Command::kStanding, '0', "/deop NICK [ROOM]");
    } else if (command == "/owner") {
        onMember(Command::kStanding, '2', "/owner NICK [ROOM]");
    } else if (command == "/kick") {
        onMember(Command::kRoomKick, 0, "/kick NICK [ROOM]");
    } else if (command == "/mute") {
        onMember(Command::kMute, protocol::kSwitchOn, "/mute NICK [ROOM]");
    } else if (command == "/unmute") {
        onMember(Command::kMute, protocol::kSwitchOff, "/unmute NICK [ROOM]");
    } else if (command == "/ban") {
        onMember(Command::kAddressBan, protocol::kSwitchOn, "/ban NICK [ROOM]");
    } else if (command == "/unban") {
        onMember(Command::kAddressBan, protocol::kSwitchOff, "/unban NICK [ROOM]");
    } else if (command == "/kill") {
        const auto w = Words(rest, 2);
        if (need(!w.empty(), "/kill NICK [MINUTES]")) {
            send(Command::kServerKick, 0, w.size() > 1 ? JoinFields({w[0], w[1]}) : w[0]);
        }
    } else if (command == "/register") {
        const auto w = Words(rest, 2);
        if (nickname_.empty() && !wanted_.empty()) nickname_ = wanted_.back();
        if (need(!w.empty() && !nickname_.empty(), "/register PASSWORD [REGPASSWORD], once logged in")) {
            // With a registration password the account starts with it, then gets its own.
            registerPassword_ = w[0];
            registerWith_ = w.size() > 1 ? w[1] : w[0];
            send(Command::kAccount, 15, JoinFields({nickname_, registerWith_, "", "", "", "0"}));
        }
    } else if (command == "/profile") {
        if (need(!rest.empty(), "/profile PASSWORD")) send(Command::kAccount, 16, rest);
    } else if (command == "/quit") {
        typed.quit = true;
    } else if (command == "/help") {
        typed.lines = Help();
    } else {
        typed.lines.push_back("! unknown command " + command + " (/help lists them)");
    }
    return typed;
}

std::vector<std::string> Session::Describe(std::string_view message) {
    std::vector<std::string> out;
    if (message.size() < 3) return out;
    const auto command = static_cast<Command>(message[0]);
    const auto sub = static_cast<std::uint8_t>(message[1]);
    const auto status = static_cast<std::uint8_t>(message[2]);
    const std::string_view payload = message.substr(3);
    auto say = [&](std::string line) { out.push_back(std::move(line)); };

    if (command == Command::kClose) {
        say("! disconnected by the server: " +
            (status == protocol::kKicked ? "kicked off the server by " + std::string(payload) : Meaning(status, command)));
        return out;
    }
    // The away notice of a private message, a text or an invitation.
    if (sub == 6 && status == protocol::kOk &&
        (command == Command::kPrivateMessage || command == Command::kTextWithAddress ||
         command == Command::kInvitation)) {
        const auto f = SplitFields(payload, kSep, 3, 3);
        say("* " + Nick(f[0]) + " is away: " + f[1]);
        return out;
    }
    if (status != protocol::kOk && command != Command::kServerData) {
        const auto f = SplitFields(payload, kSep, 2, 2);
        std::string line = std::string("! ") + What(command) + " refused: " + Meaning(status, command);
        if (status == protocol::kNoSuchUser) line += " " + std::string(f[f[1].empty() ? 0 : 1]);
        else if (!f[0].empty()) line += " (" + f[0] + ")";
        if (command == Command::kLogin && !wanted_.empty()) wanted_.pop_front();
        say(line);
        return out;
    }

    switch (command) {
        case Command::kServerInfo:
            say("* connected; the server speaks version " + std::string(payload));
            break;
        case Command::kLogin:
            if (!wanted_.empty()) {
                nickname_ = wanted_.front();
                wanted_.pop_front();
            }
            say("* you are " + Nick(nickname_) + " now");
            break;
        case Command::kJoin: {
            const auto f = SplitFields(payload, kSep, 2, 2);
            room_ = f[0];
            say("* you are in " + f[0] + " now");
            break;
        }
        case Command::kDelivery: {
            const auto f = SplitFields(payload.substr(payload.empty() ? 0 : 1), kSep, 3, 3);
            switch (sub) {
                case protocol::kDeliverPrivate: say("*" + Paint(f[0], f[1]) + "* " + f[2]); break;
                case protocol::kDeliverInvitation: say("* " + Paint(f[0], f[1]) + " invites you to " + f[2] + " (/join " + f[2] + ")"); break;
                case protocol::kDeliverKicked: say("* " + Paint(f[0], f[1]) + " kicked you out of " + f[2]); break;
                default: {
                    const auto t = SplitFields(f[2], kSep, 2, 2);
                    say("*" + Paint(f[0], f[1]) + "* (from " + t[0] + ") " + t[1]);
                }
            }
            break;
        }
        case Command::kPrivateMessage: {
            const auto f = SplitFields(payload, kSep, 3, 3);
            say("-> *" + Nick(f[0]) + "* " + f[2]);
            break;
        }
        case Command::kInvitation: {
            const auto f = SplitFields(payload, kSep, 2, 2);
            say("* you invited " + Nick(f[1]) + " to " + f[0]);
            break;
        }
        case Command::kInvisible:
            say(sub == '1' ? "* you are invisible now" : "* you are visible now");
            break;
        case Command::kUserList: {
            const auto f = SplitFields(payload, kSep, 3, 3);
            if (sub == 20) {
                users_.erase(f[0]);
                say("* " + std::string(f[0]) + " went offline");
                break;
            }
            const char now = f[2].empty() ? '0' : f[2][0];
            auto known = users_.find(f[0]);
            const bool seen = known != users_.end();
            const char before = seen ? known->second.second : '0';
            users_[f[0]] = {f[1], now};
            if (!seen) say("* " + Nick(f[0]) + " is online");
            else if (now == '4' && before != '4') say("* " + Nick(f[0]) + " is away");
            else if (now != '4' && before == '4') say("* " + Nick(f[0]) + " is back");
            break;
        }
        case Command::kRoomEvent: {
            if (payload.empty()) break;
            const auto value = static_cast<std::uint8_t>(payload[0]);
            const auto f = SplitFields(payload.substr(1), kSep, 4, 4);
            const std::string& room = f[0];
            const std::string actor = Paint(f[1], f[2]);
            const auto d = SplitFields(f[3], kSep, 2, 2);
            switch (sub) {
                case protocol::kMemberPresent: say("* " + actor + " is in " + room + " (" + Standing(d[0].empty() ? '0' : d[0][0]) + ")"); break;
                case protocol::kRoomMessage:
                    say("[" + room + "] <" + actor + "> " + (value == 13 ? "! " : "") + f[3]);
                    break;
                case protocol::kMemberJoined: say("* " + actor + " joined " + room); break;
                case protocol::kMemberLeft: say("* " + actor + " left " + room); break;
                case protocol::kAwayChanged:
                    say(value == '1' ? "* " + actor + " is away: " + d[0] : "* " + actor + " is back");
                    break;
                case protocol::kBanChanged:
                    say("* " + actor + (value == '1' ? " banned the address of " : " lifted the ban on the address of ") + f[3] + " in " + room);
                    break;
                case protocol::kRemovedFromServer: say("* " + Nick(f[3]) + " was thrown off the server by " + actor); break;
                case protocol::kColorChanged: say("* " + actor + " has a new colour"); break;
                case protocol::kMuteChanged: say("* " + actor + (value == '1' ? " muted " : " unmuted ") + Nick(f[3]) + " in " + room); break;
                case protocol::kMemberKicked: say("* " + actor + " kicked " + Nick(f[3]) + " out of " + room); break;
                case protocol::kNicknameChanged: say("* " + d[0] + " is now known as " + actor); break;
                case protocol::kStatusChanged: {
                    const std::string who = Nick(d[0]);
                    switch (value) {
                        case 7: say("* " + who + " is now an operator of " + room); break;
                        case 8: say("* " + who + " is no longer an operator of " + room); break;
                        case 9: say("* " + who + " is now the owner of " + room); break;
                        case 10: say("* " + who + " is no longer the owner of " + room); break;
                        case 12: say("* " + who + " is no longer privileged"); break;
                        default: say("* " + who + " is " + Standing(d[1].empty() ? '0' : d[1][0]) + " of " + room);
                    }
                    break;
                }
                case protocol::kSettingsChanged: {
                    const auto info = SplitFields(f[3], kSep, 8, 8);
                    say("* " + actor + " changed " + room + ": topic \"" + info[1] + "\", colour " + info[2] +
                        ", limit " + info[4] + (info[6] == "1" ? ", closed" : "") + (info[7] == "1" ? ", hidden" : ""));
                    break;
                }
                case protocol::kJoinRefused: say("* " + Nick(f[3]) + " could not join " + room); break;
                default: break;
            }
            break;
        }
        case Command::kServerData: {
            const int part = infoParts_.empty() ? 0 : infoParts_.front();
            auto lines = [](std::string_view text) {
                std::vector<std::string> result;
                std::size_t start = 0;
                for (std::size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
                    result.emplace_back(text.substr(start, end - start));
                }
                return result;
            };
            auto entries = [](std::string_view text) {
                std::vector<std::string> result;
                std::size_t start = 0;
                for (std::size_t end; (end = text.find(protocol::kEntrySeparator, start)) != std::string_view::npos; start = end + 1) {
                    result.emplace_back(text.substr(start, end - start));
                }
                return result;
            };
            if (sub == 1 && part == 0) {
                const auto f = SplitFields(payload, kSep, 2, 2);
                say("* " + f[0]);
                for (const auto& line : lines(f[1])) say("  " + line);
            } else if (sub == 3 && part == 0) {
                const std::size_t colon = payload.find(':');
                for (const auto& line : lines(payload.substr(colon == std::string_view::npos ? 0 : colon + 1))) {
                    say("  banner: " + line);
                }
            } else if (sub == 4 && (part == 0 || part == 4)) {
                say("* rooms:");
                for (const auto& entry : entries(payload)) {
                    const auto r = SplitFields(entry, kSep, 8, 8);
                    say("  " + r[0] + " (" + r[3] + (r[3] == "1" ? " member" : " members") + ")" +
                        (r[1].empty() ? "" : " " + r[1]));
                }
            } else if (sub == 5) {
                if (part == 0 || part == 5) {
                    say("* users:");
                    for (const auto& entry : entries(payload)) {
                        const auto u = SplitFields(entry, kSep, 3, 3);
                        users_[u[0]] = {u[1], u[2].empty() ? '0' : u[2][0]};
                        say("  " + Nick(u[0]) + (u[2] == "4" ? " (away)" : u[2] == "3" ? " (privileged)" : ""));
                    }
                }
                if (!infoParts_.empty()) infoParts_.erase(infoParts_.begin());
            }
            break;
        }
        case Command::kUserLookup: {
            const auto f = SplitFields(payload, kSep, 10, 10);
            say("* " + Paint(f[0], f[1]) + (f[4].empty() ? " (registered, not online)" : ", idle " + f[4] + " s") +
                (f[2] == "1" ? ", away: " + f[3] : "") + (f[5].empty() ? "" : ", from " + f[5]) +
                (f[9] == "1" ? ", privileged" : ""));
            for (int i = 6; i <= 8; ++i) {
                if (!f[static_cast<std::size_t>(i)].empty()) say("  " + f[static_cast<std::size_t>(i)]);
            }
            break;
        }
        case Command::kRoomInfo: {
            const auto r = SplitFields(payload, kSep, 8, 8);
            say("* " + r[0] + ": topic \"" + r[1] + "\", colour " + r[2] + ", " + r[3] + " of " +
                (r[4] == "0" ? "any number" : r[4]) + " members" + (r[5] == "1" ? ", permanent" : "") +
                (r[6] == "1" ? ", closed" : "") + (r[7] == "1" ? ", hidden" : "") +
                (sub == '1' ? "; you may change it" : ""));
            break;
        }
        case Command::kAccount:
            if (sub == 15) {
                say("* " + Nick(nickname_) + " is registered");
                if (registerPassword_ != registerWith_) {
                    // Registered under the registration password: now the own one.
                    followUps_.push_back(Request(Command::kAccount, 17,
                                                 JoinFields({registerWith_, registerPassword_, "", "", "", "0"})));
                }
            } else if (sub == 16) {
                const auto p = SplitFields(payload, kSep, 4, 4);
                say("* profile: " + p[0] + " | " + p[1] + " | " + p[2] + (p[3] == "1" ? " (logs in invisible)" : ""));
            } else if (sub == 17) {
                say(registerPassword_ != registerWith_ ? "* your password is set" : "* profile changed");
                registerWith_ = registerPassword_;
            } else if (sub == 18) {
                say("* registration given up");
            }
            break;
        case Command::kServerKick:
            say("* " + Nick(payload) + " was thrown off the server");
            break;
        default:
            break;  // room lists (19) and settings answers show through their room events
    }
    return out;
}

}  // namespace nelv::client
