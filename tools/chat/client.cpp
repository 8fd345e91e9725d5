#include "tools/chat/client.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>

#include "base/int_text.h"
#include "protocol/wire.h"

namespace nelv::client {
namespace {

using protocol::Command;
using protocol::FlagText;
using protocol::JoinFields;
using protocol::kNoSubCode;
using protocol::kSwitchOff;
using protocol::kSwitchOn;
using protocol::SplitFields;
namespace account = protocol::account;
namespace lookup = protocol::lookup;
namespace room_info = protocol::room_info;
namespace server_data = protocol::server_data;
namespace settings = protocol::settings;
namespace standing = protocol::standing;

constexpr char kSep = protocol::kFieldSeparator;

// The sub-code of a row that takes every sub-code without a row of its own.
constexpr int kAnySub = -1;

// What a pending server information request shows: everything, or only the
// reply of one sub-code (server_data::kRooms, server_data::kUsers).
constexpr int kEveryPart = 0;

// The help puts what a command does in this column, or three blanks after
// a longer command.
constexpr std::size_t kHelpColumn = 28;

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

// The first N fields of `text` (the last keeps the rest), empty where missing.
template <std::size_t N>
std::array<std::string, N> Fields(std::string_view text) {
    std::vector<std::string> split = SplitFields(text, kSep, N, N);
    std::array<std::string, N> fields;
    std::move(split.begin(), split.end(), fields.begin());
    return fields;
}

std::string FirstField(std::string_view text) { return std::string(text.substr(0, text.find(kSep))); }

// The sender, its colour and the content of a delivery, after its leading byte.
std::array<std::string, 3> DeliveryFields(std::string_view payload) {
    return Fields<3>(payload.substr(payload.empty() ? 0 : 1));
}

// The lines of a text whose every line ends with CR LF.
std::vector<std::string> CrLfLines(std::string_view text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
        result.emplace_back(text.substr(start, end - start));
    }
    return result;
}

// The entries of a list payload, each ended by the entry separator.
std::vector<std::string> ListEntries(std::string_view text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(protocol::kEntrySeparator, start)) != std::string_view::npos;
         start = end + 1) {
        result.emplace_back(text.substr(start, end - start));
    }
    return result;
}

// Yes/no values: a field that is exactly "1", or the byte '1'.
bool YesField(std::string_view field) { return field == FlagText(true); }
bool YesByte(std::uint8_t byte) { return byte == protocol::FlagChar(true); }

// The standing character a field starts with; ordinary when it is empty.
char StandingChar(std::string_view field) { return field.empty() ? standing::kOrdinaryChar : field[0]; }
// Whether a field is exactly the standing character `rank`.
bool IsStanding(std::string_view field, char rank) { return field.size() == 1 && field[0] == rank; }

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

std::string Standing(char rank) {
    switch (rank) {
        case standing::kOperatorChar: return "operator";
        case standing::kOwnerChar: return "owner";
        case standing::kPrivilegedChar: return "privileged";
        case standing::kAwayChar: return "away";
        default: return "member";
    }
}

// The line of a standing event about `who`; `rank` is the standing field.
std::string StandingChange(std::uint8_t value, const std::string& who, const std::string& room,
                           const std::string& rank) {
    switch (value) {
        case standing::kOperatorGranted: return "* " + who + " is now an operator of " + room;
        case standing::kOperatorRevoked: return "* " + who + " is no longer an operator of " + room;
        case standing::kOwnershipReceived: return "* " + who + " is now the owner of " + room;
        case standing::kOwnershipGivenUp: return "* " + who + " is no longer the owner of " + room;
        case standing::kPrivilegeDropped: return "* " + who + " is no longer privileged";
        default: return "* " + who + " is " + Standing(StandingChar(rank)) + " of " + room;
    }
}

// A room event: its value byte, the room, the actor (painted), the data, and
// the data cut in two for the events that carry two fields.
struct RoomEvent {
    std::uint8_t value;
    std::string room, actor, data, dataFirst, dataSecond;
};

// What the oldest pending server information request shows.
int WantedPart(const std::vector<int>& parts) { return parts.empty() ? kEveryPart : parts.front(); }

// A settings request that sets one field of `room`.
std::string SettingsRequest(const std::string& room, std::uint8_t bit, settings::Field field, std::string value) {
    std::vector<std::string> fields(settings::kFieldCount);
    fields[settings::kRoomField] = room;
    fields[field] = std::move(value);
    return Request(Command::kRoomSettings, bit, JoinFields(fields));
}

// The settings /set knows: its word, the sub-code bit and the field it reads.
struct RoomSetting {
    std::string_view word;
    std::uint8_t bit;
    settings::Field field;
};
constexpr RoomSetting kRoomSettings[] = {
    {"topic", settings::kTopic, settings::kTopicField},
    {"color", settings::kColor, settings::kColorField},
    {"limit", settings::kLimit, settings::kLimitField},
    {"closed", settings::kClosed, settings::kClosedField},
    {"hidden", settings::kHidden, settings::kHiddenField},
};

// A typed command under way: the words after its name, and what it yields.
class Call {
public:
    Call(std::string words, std::string usage, const std::string& room, Typed& typed)
        : rest(std::move(words)), usage_(std::move(usage)), room_(room), typed_(typed) {}

    const std::string rest;

    // Shows the usage unless `ok`; whether to go on.
    bool Need(bool ok) {
        if (!ok) Show("! usage: " + usage_);
        return ok;
    }
    void Show(std::string line) { typed_.lines.push_back(std::move(line)); }
    void Send(Command command, std::uint8_t sub, std::string_view payload = {}) {
        typed_.requests.push_back(Request(command, sub, payload));
    }
    void Send(std::string request) { typed_.requests.push_back(std::move(request)); }
    void Quit() { typed_.quit = true; }

    // The word at `at` when there is one, else the current room.
    std::string RoomOr(const std::vector<std::string>& words, std::size_t at) const {
        return words.size() > at ? words[at] : room_;
    }
    // The commands on a member of a room: NICK [ROOM].
    void OnMember(Command command, std::uint8_t sub) {
        const auto w = Words(rest, 2);
        if (Need(!w.empty() && !RoomOr(w, 1).empty())) Send(command, sub, JoinFields({RoomOr(w, 1), w[0]}));
    }

private:
    const std::string usage_;
    const std::string& room_;
    Typed& typed_;
};

}  // namespace

// --- Typed lines ----------------------------------------------------------------

struct Session::SlashCommand {
    std::string_view name;  // empty for a line without a slash: text for the current room
    std::string_view args;  // the words it takes, for the usage and the help
    std::string_view note;  // the usage adds this
    std::string_view help;  // what it does; empty: it shares the help line of the command before
    void (*run)(Session& session, Call& call);

    std::string Usage() const {
        std::string usage(name);
        if (!name.empty() && !args.empty()) usage += ' ';
        return usage.append(args).append(note);
    }
};

const std::vector<Session::SlashCommand>& Session::SlashCommands() {
    static const std::vector<SlashCommand> commands = {
        {"/nick", "NAME [PASSWORD]", "", "log in, or take another nickname",
         [](Session& s, Call& c) {
             const auto w = Words(c.rest, 2);
             if (!c.Need(!w.empty())) return;
             s.wanted_.push_back(w[0]);
             c.Send(Command::kLogin, kNoSubCode, JoinFields({w[0], w.size() > 1 ? w[1] : ""}));
         }},
        {"/join", "ROOM", "", "join (or open) a room; it becomes the current room",
         [](Session& s, Call& c) {
             if (!c.Need(!c.rest.empty())) return;
             // The room asked for is the current one from now on, so that a
             // script may talk in it right away.
             s.room_ = c.rest;
             c.Send(Command::kJoin, kNoSubCode, c.rest);
         }},
        {"/leave", "[ROOM]", "", "leave a room",
         [](Session& s, Call& c) {
             const std::string room = c.rest.empty() ? s.room_ : c.rest;
             if (c.Need(!room.empty())) c.Send(Command::kLeave, kNoSubCode, room);
         }},
        {"", "TEXT", "", "say something in the current room",
         [](Session& s, Call& c) {
             if (s.room_.empty()) c.Show("! join a room first (/join ROOM)");
             else c.Send(Command::kRoomMessage, kNoSubCode, JoinFields({s.room_, c.rest}));
         }},
        {"/announce", "TEXT", ", in a room", "say something as an operator message",
         [](Session& s, Call& c) {
             if (c.Need(!s.room_.empty() && !c.rest.empty())) {
                 c.Send(Command::kRoomMessage, protocol::kOperatorMessage, JoinFields({s.room_, c.rest}));
             }
         }},
        {"/msg", "NICK TEXT", "", "a private message",
         [](Session&, Call& c) {
             const auto w = Words(c.rest, 2);
             if (c.Need(w.size() == 2)) c.Send(Command::kPrivateMessage, kNoSubCode, JoinFields({w[0], w[1]}));
         }},
        {"/invite", "NICK [ROOM]", "", "invite someone into a room",
         [](Session&, Call& c) { c.OnMember(Command::kInvitation, kNoSubCode); }},
        {"/away", "[TEXT]", "", "go away, come back",
         [](Session&, Call& c) { c.Send(Command::kAway, kNoSubCode, c.rest); }},
        {"/back", "", "", "",
         [](Session&, Call& c) { c.Send(Command::kAway, kSwitchOff); }},
        {"/color", "RRGGBB", "", "your colour",
         [](Session&, Call& c) {
             if (c.Need(IsColorText(c.rest))) c.Send(Command::kColor, kNoSubCode, c.rest);
         }},
        {"/invisible", "on|off", "", "hide from the user list, or show again",
         [](Session&, Call& c) {
             if (c.Need(c.rest == "on" || c.rest == "off")) {
                 c.Send(Command::kInvisible, c.rest == "on" ? kSwitchOn : kSwitchOff);
             }
         }},
        {"/whois", "NICK", "", "who is behind a nickname",
         [](Session&, Call& c) {
             if (c.Need(!c.rest.empty())) c.Send(Command::kUserLookup, kNoSubCode, c.rest);
         }},
        {"/rooms", "", "", "the rooms, the users, all server information",
         [](Session& s, Call& c) {
             s.infoParts_.push_back(server_data::kRooms);
             c.Send(Command::kServerInfo, kNoSubCode);
         }},
        {"/users", "", "", "",
         [](Session& s, Call& c) {
             s.infoParts_.push_back(server_data::kUsers);
             c.Send(Command::kServerInfo, kNoSubCode);
         }},
        {"/info", "", "", "",
         [](Session& s, Call& c) {
             s.infoParts_.push_back(kEveryPart);
             c.Send(Command::kServerInfo, kNoSubCode);
         }},
        {"/topic", "[ROOM] TEXT", "", "a room's topic",
         [](Session& s, Call& c) {
             // The whole rest of the line is the topic, for the current room.
             if (c.Need(!s.room_.empty() || !c.rest.empty())) {
                 c.Send(SettingsRequest(s.room_, settings::kTopic, settings::kTopicField, c.rest));
             }
         }},
        {"/set", "ROOM topic|color|limit|closed|hidden VALUE", "", "a room's settings",
         [](Session&, Call& c) {
             const auto w = Words(c.rest, 3);
             const auto setting =
                 std::find_if(std::begin(kRoomSettings), std::end(kRoomSettings),
                              [&](const RoomSetting& known) { return w.size() == 3 && known.word == w[1]; });
             if (!c.Need(setting != std::end(kRoomSettings))) return;
             const std::string& value = w[2];
             c.Send(SettingsRequest(w[0], setting->bit, setting->field,
                                    value == "on" ? FlagText(true) : value == "off" ? FlagText(false) : value));
         }},
        {"/roominfo", "[ROOM]", "", "a room's settings",
         [](Session& s, Call& c) {
             const std::string room = c.rest.empty() ? s.room_ : c.rest;
             if (c.Need(!room.empty())) c.Send(Command::kRoomInfo, kNoSubCode, room);
         }},
        {"/op", "NICK [ROOM]", "", "room operators",
         [](Session&, Call& c) { c.OnMember(Command::kStanding, standing::kGrantOperator); }},
        {"/deop", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kStanding, standing::kRevokeOperator); }},
        {"/owner", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kStanding, standing::kHandOver); }},
        {"/kick", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kRoomKick, kNoSubCode); }},
        {"/mute", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kMute, kSwitchOn); }},
        {"/unmute", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kMute, kSwitchOff); }},
        {"/ban", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kAddressBan, kSwitchOn); }},
        {"/unban", "NICK [ROOM]", "", "",
         [](Session&, Call& c) { c.OnMember(Command::kAddressBan, kSwitchOff); }},
        {"/kill", "NICK [MINUTES]", "", "throw someone off the server (privileged users)",
         [](Session&, Call& c) {
             const auto w = Words(c.rest, 2);
             if (c.Need(!w.empty())) {
                 c.Send(Command::kServerKick, kNoSubCode, w.size() > 1 ? JoinFields({w[0], w[1]}) : w[0]);
             }
         }},
        {"/register", "PASSWORD [REGPASSWORD]", ", once logged in", "register your nickname",
         [](Session& s, Call& c) {
             const auto w = Words(c.rest, 2);
             if (s.nickname_.empty() && !s.wanted_.empty()) s.nickname_ = s.wanted_.back();
             if (!c.Need(!w.empty() && !s.nickname_.empty())) return;
             // With a registration password the account starts with it, then gets its own.
             s.registerPassword_ = w[0];
             s.registerWith_ = w.size() > 1 ? w[1] : w[0];
             c.Send(Command::kAccount, account::kRegister,
                    JoinFields({s.nickname_, s.registerWith_, "", "", "", FlagText(false)}));
         }},
        {"/profile", "PASSWORD", "", "show your profile",
         [](Session&, Call& c) {
             if (c.Need(!c.rest.empty())) c.Send(Command::kAccount, account::kReadProfile, c.rest);
         }},
        {"/quit", "", "", "leave",
         [](Session&, Call& c) { c.Quit(); }},
        {"/help", "", "", "this list",
         [](Session&, Call& c) {
             for (std::string& line : Help()) c.Show(std::move(line));
         }},
    };
    return commands;
}

std::vector<std::string> Session::Help() {
    // One line per command with a help text, for it and the commands after it
    // that have none. A run of those commands taking the same words shows
    // them once, after the last name of the run.
    std::vector<std::string> help;
    const auto& commands = SlashCommands();
    for (std::size_t first = 0; first < commands.size();) {
        std::size_t end = first + 1;
        while (end < commands.size() && commands[end].help.empty()) ++end;
        std::string names;
        for (std::size_t i = first; i < end; ++i) {
            const SlashCommand& command = commands[i];
            if (i > first) names += ", ";
            names += command.name;
            if (command.args.empty() || (i + 1 < end && commands[i + 1].args == command.args)) continue;
            if (!command.name.empty()) names += ' ';
            names += command.args;
        }
        names.resize(std::max(names.size() + 3, kHelpColumn), ' ');
        help.push_back(names.append(commands[first].help));
        first = end;
    }
    return help;
}

Typed Session::Type(std::string_view line) {
    Typed typed;
    if (line.empty()) return typed;
    std::string name, rest(line);  // a line without a slash is all text
    if (line[0] == '/') {
        const auto head = Words(line, 2);
        name = head[0];
        rest = head.size() > 1 ? head[1] : "";
    }
    const auto& commands = SlashCommands();
    const auto command = std::find_if(commands.begin(), commands.end(),
                                      [&](const SlashCommand& known) { return known.name == name; });
    if (command == commands.end()) {
        typed.lines.push_back("! unknown command " + name + " (/help lists them)");
        return typed;
    }
    Call call(std::move(rest), command->Usage(), room_, typed);
    command->run(*this, call);
    return typed;
}

// --- Messages from the server ---------------------------------------------------

struct Session::Message {
    Command command;
    std::uint8_t sub;
    std::uint8_t status;
    std::string_view payload;

    // Nothing for bytes too short to be a reply.
    static std::optional<Message> Read(std::string_view bytes) {
        if (bytes.size() < protocol::kPayloadStart) return std::nullopt;
        return Message{static_cast<Command>(bytes[protocol::kCommandByte]),
                       static_cast<std::uint8_t>(bytes[protocol::kSubCodeByte]),
                       static_cast<std::uint8_t>(bytes[protocol::kStatusByte]), bytes.substr(protocol::kPayloadStart)};
    }
};

struct Session::MessageKind {
    Command command;
    int sub;  // or kAnySub
    std::function<void(Session& session, const Message& message, Lines& out)> show;
};

const std::vector<Session::MessageKind>& Session::MessageKinds() {
    // A room event (command 14, the event code as its sub-code) shows as
    // one line; one without a payload shows nothing.
    using EventLine = std::string (*)(Session&, const RoomEvent&);
    auto event = [](protocol::EventCode code, EventLine line) {
        return MessageKind{Command::kRoomEvent, code, [line](Session& s, const Message& m, Lines& out) {
                               if (m.payload.empty()) return;
                               const auto [room, nick, color, data] = Fields<4>(m.payload.substr(1));
                               const auto [first, second] = Fields<2>(data);
                               const auto value = static_cast<std::uint8_t>(m.payload[0]);
                               const RoomEvent e{value, room, s.Paint(nick, color), data, first, second};
                               out.push_back(line(s, e));
                           }};
    };
    static const std::vector<MessageKind> kinds = {
        {Command::kServerInfo, kAnySub,
         [](Session&, const Message& m, Lines& out) {
             out.push_back("* connected; the server speaks version " + std::string(m.payload));
         }},
        {Command::kLogin, kAnySub,
         [](Session& s, const Message&, Lines& out) {
             if (!s.wanted_.empty()) {
                 s.nickname_ = s.wanted_.front();
                 s.wanted_.pop_front();
             }
             out.push_back("* you are " + s.Nick(s.nickname_) + " now");
         }},
        {Command::kJoin, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             const auto [room, color] = Fields<2>(m.payload);
             s.room_ = room;
             out.push_back("* you are in " + room + " now");
         }},

        // Deliveries, by kind; the kinds without a row of their own read
        // like a text with the sender's address.
        {Command::kDelivery, protocol::kDeliverPrivate,
         [](Session& s, const Message& m, Lines& out) {
             const auto [nick, color, text] = DeliveryFields(m.payload);
             out.push_back("*" + s.Paint(nick, color) + "* " + text);
         }},
        {Command::kDelivery, protocol::kDeliverInvitation,
         [](Session& s, const Message& m, Lines& out) {
             const auto [nick, color, room] = DeliveryFields(m.payload);
             out.push_back("* " + s.Paint(nick, color) + " invites you to " + room + " (/join " + room + ")");
         }},
        {Command::kDelivery, protocol::kDeliverKicked,
         [](Session& s, const Message& m, Lines& out) {
             const auto [nick, color, room] = DeliveryFields(m.payload);
             out.push_back("* " + s.Paint(nick, color) + " kicked you out of " + room);
         }},
        {Command::kDelivery, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             const auto [nick, color, content] = DeliveryFields(m.payload);
             const auto [address, text] = Fields<2>(content);
             out.push_back("*" + s.Paint(nick, color) + "* (from " + address + ") " + text);
         }},

        {Command::kPrivateMessage, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             const auto [nick, color, text] = Fields<3>(m.payload);
             out.push_back("-> *" + s.Nick(nick) + "* " + text);
         }},
        {Command::kInvitation, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             const auto [room, nick] = Fields<2>(m.payload);
             out.push_back("* you invited " + s.Nick(nick) + " to " + room);
         }},
        {Command::kInvisible, kAnySub,
         [](Session&, const Message& m, Lines& out) {
             out.push_back(YesByte(m.sub) ? "* you are invisible now" : "* you are visible now");
         }},

        // The user list: a user gone, else (lists::kUserStatus) a user's
        // status, shown when it is new or away changes.
        {Command::kUserList, protocol::lists::kUserGone,
         [](Session& s, const Message& m, Lines& out) {
             const std::string nick = FirstField(m.payload);
             s.users_.erase(nick);
             out.push_back("* " + nick + " went offline");
         }},
        {Command::kUserList, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             const auto [nick, color, rank] = Fields<3>(m.payload);
             const char now = StandingChar(rank);
             const auto known = s.users_.find(nick);
             const bool seen = known != s.users_.end();
             const char before = seen ? known->second.second : standing::kOrdinaryChar;
             s.users_[nick] = {color, now};
             const bool awayNow = now == standing::kAwayChar, awayBefore = before == standing::kAwayChar;
             if (!seen) out.push_back("* " + s.Nick(nick) + " is online");
             else if (awayNow && !awayBefore) out.push_back("* " + s.Nick(nick) + " is away");
             else if (!awayNow && awayBefore) out.push_back("* " + s.Nick(nick) + " is back");
         }},

        event(protocol::kMemberPresent,
              [](Session&, const RoomEvent& e) {
                  return "* " + e.actor + " is in " + e.room + " (" + Standing(StandingChar(e.dataFirst)) + ")";
              }),
        event(protocol::kRoomMessage,
              [](Session&, const RoomEvent& e) {
                  return "[" + e.room + "] <" + e.actor + "> " + (e.value == protocol::kOperatorMessage ? "! " : "") +
                         e.data;
              }),
        event(protocol::kMemberJoined,
              [](Session&, const RoomEvent& e) { return "* " + e.actor + " joined " + e.room; }),
        event(protocol::kMemberLeft,
              [](Session&, const RoomEvent& e) { return "* " + e.actor + " left " + e.room; }),
        event(protocol::kAwayChanged,
              [](Session&, const RoomEvent& e) {
                  return YesByte(e.value) ? "* " + e.actor + " is away: " + e.dataFirst : "* " + e.actor + " is back";
              }),
        event(protocol::kBanChanged,
              [](Session&, const RoomEvent& e) {
                  return "* " + e.actor +
                         (YesByte(e.value) ? " banned the address of " : " lifted the ban on the address of ") +
                         e.data + " in " + e.room;
              }),
        event(protocol::kRemovedFromServer,
              [](Session& s, const RoomEvent& e) {
                  return "* " + s.Nick(e.data) + " was thrown off the server by " + e.actor;
              }),
        event(protocol::kColorChanged,
              [](Session&, const RoomEvent& e) { return "* " + e.actor + " has a new colour"; }),
        event(protocol::kMuteChanged,
              [](Session& s, const RoomEvent& e) {
                  return "* " + e.actor + (YesByte(e.value) ? " muted " : " unmuted ") + s.Nick(e.data) + " in " +
                         e.room;
              }),
        event(protocol::kMemberKicked,
              [](Session& s, const RoomEvent& e) {
                  return "* " + e.actor + " kicked " + s.Nick(e.data) + " out of " + e.room;
              }),
        event(protocol::kNicknameChanged,
              [](Session&, const RoomEvent& e) { return "* " + e.dataFirst + " is now known as " + e.actor; }),
        event(protocol::kStatusChanged,
              [](Session& s, const RoomEvent& e) {
                  return StandingChange(e.value, s.Nick(e.dataFirst), e.room, e.dataSecond);
              }),
        event(protocol::kSettingsChanged,
              [](Session&, const RoomEvent& e) {
                  const auto info = SplitFields(e.data, kSep, room_info::kFieldCount, room_info::kFieldCount);
                  return "* " + e.actor + " changed " + e.room + ": topic \"" + info[room_info::kTopic] +
                         "\", colour " + info[room_info::kColor] + ", limit " + info[room_info::kLimit] +
                         (YesField(info[room_info::kClosed]) ? ", closed" : "") +
                         (YesField(info[room_info::kHidden]) ? ", hidden" : "");
              }),
        event(protocol::kJoinRefused,
              [](Session& s, const RoomEvent& e) { return "* " + s.Nick(e.data) + " could not join " + e.room; }),

        // The replies to server information, each shown when the pending
        // request wants it; the user list ends the request.
        {Command::kServerData, server_data::kWelcome,
         [](Session& s, const Message& m, Lines& out) {
             if (WantedPart(s.infoParts_) != kEveryPart) return;
             const auto [chatName, welcome] = Fields<2>(m.payload);
             out.push_back("* " + chatName);
             for (const auto& line : CrLfLines(welcome)) out.push_back("  " + line);
         }},
        {Command::kServerData, server_data::kBanners,
         [](Session& s, const Message& m, Lines& out) {
             if (WantedPart(s.infoParts_) != kEveryPart) return;
             const std::size_t colon = m.payload.find(':');  // after the interval
             for (const auto& line : CrLfLines(m.payload.substr(colon == std::string_view::npos ? 0 : colon + 1))) {
                 out.push_back("  banner: " + line);
             }
         }},
        {Command::kServerData, server_data::kRooms,
         [](Session& s, const Message& m, Lines& out) {
             const int part = WantedPart(s.infoParts_);
             if (part != kEveryPart && part != server_data::kRooms) return;
             out.push_back("* rooms:");
             for (const auto& entry : ListEntries(m.payload)) {
                 const auto r = SplitFields(entry, kSep, room_info::kFieldCount, room_info::kFieldCount);
                 const std::string& members = r[room_info::kMembers];
                 const std::string& topic = r[room_info::kTopic];
                 out.push_back("  " + r[room_info::kName] + " (" + members + (members == "1" ? " member" : " members") +
                               ")" + (topic.empty() ? "" : " " + topic));
             }
         }},
        {Command::kServerData, server_data::kUsers,
         [](Session& s, const Message& m, Lines& out) {
             const int part = WantedPart(s.infoParts_);
             if (part == kEveryPart || part == server_data::kUsers) {
                 out.push_back("* users:");
                 for (const auto& entry : ListEntries(m.payload)) {
                     const auto [nick, color, rank] = Fields<3>(entry);
                     s.users_[nick] = {color, StandingChar(rank)};
                     out.push_back("  " + s.Nick(nick) +
                                   (IsStanding(rank, standing::kAwayChar)         ? " (away)"
                                    : IsStanding(rank, standing::kPrivilegedChar) ? " (privileged)"
                                                                                   : ""));
                 }
             }
             if (!s.infoParts_.empty()) s.infoParts_.erase(s.infoParts_.begin());
         }},

        {Command::kUserLookup, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             using namespace lookup;
             const auto f = SplitFields(m.payload, kSep, kFieldCount, kFieldCount);
             out.push_back("* " + s.Paint(f[kNickname], f[kColor]) +
                           (f[kIdle].empty() ? " (registered, not online)" : ", idle " + f[kIdle] + " s") +
                           (YesField(f[kAwayFlag]) ? ", away: " + f[kAwayText] : "") +
                           (f[kAddress].empty() ? "" : ", from " + f[kAddress]) +
                           (YesField(f[kPrivileged]) ? ", privileged" : ""));
             for (const Field profile : {kProfile1, kProfile2, kProfile3}) {
                 if (!f[profile].empty()) out.push_back("  " + f[profile]);
             }
         }},
        {Command::kRoomInfo, kAnySub,
         [](Session&, const Message& m, Lines& out) {
             using namespace room_info;
             const auto r = SplitFields(m.payload, kSep, kFieldCount, kFieldCount);
             out.push_back("* " + r[kName] + ": topic \"" + r[kTopic] + "\", colour " + r[kColor] + ", " + r[kMembers] +
                           " of " + (r[kLimit] == IntToText(kNoLimit) ? "any number" : r[kLimit]) + " members" +
                           (YesField(r[kPermanent]) ? ", permanent" : "") + (YesField(r[kClosed]) ? ", closed" : "") +
                           (YesField(r[kHidden]) ? ", hidden" : "") + (YesByte(m.sub) ? "; you may change it" : ""));
         }},

        {Command::kAccount, account::kRegister,
         [](Session& s, const Message&, Lines& out) {
             out.push_back("* " + s.Nick(s.nickname_) + " is registered");
             if (s.registerPassword_ != s.registerWith_) {
                 // Registered under the registration password: now the own one.
                 const std::string fields =
                     JoinFields({s.registerWith_, s.registerPassword_, "", "", "", FlagText(false)});
                 s.followUps_.push_back(Request(Command::kAccount, account::kChangeProfile, fields));
             }
         }},
        {Command::kAccount, account::kReadProfile,
         [](Session&, const Message& m, Lines& out) {
             const auto [profile1, profile2, profile3, invisible] = Fields<4>(m.payload);
             out.push_back("* profile: " + profile1 + " | " + profile2 + " | " + profile3 +
                           (YesField(invisible) ? " (logs in invisible)" : ""));
         }},
        {Command::kAccount, account::kChangeProfile,
         [](Session& s, const Message&, Lines& out) {
             out.push_back(s.registerPassword_ != s.registerWith_ ? "* your password is set" : "* profile changed");
             s.registerWith_ = s.registerPassword_;
         }},
        {Command::kAccount, account::kUnregister,
         [](Session&, const Message&, Lines& out) { out.push_back("* registration given up"); }},

        {Command::kServerKick, kAnySub,
         [](Session& s, const Message& m, Lines& out) {
             out.push_back("* " + s.Nick(m.payload) + " was thrown off the server");
         }},
        // Room lists (19) and the answers to settings show through their room events.
    };
    return kinds;
}

bool Session::ShowClosingNotice(const Message& m, Lines& out) {
    if (m.command != Command::kClose) return false;
    out.push_back("! disconnected by the server: " + (m.status == protocol::kKicked
                                                          ? "kicked off the server by " + std::string(m.payload)
                                                          : Meaning(m.status, m.command)));
    return true;
}

// The away notice of a private message, a text or an invitation.
bool Session::ShowAwayNotice(const Message& m, Lines& out) const {
    if (m.sub != protocol::kAwayNotice || m.status != protocol::kOk ||
        (m.command != Command::kPrivateMessage && m.command != Command::kTextWithAddress &&
         m.command != Command::kInvitation)) {
        return false;
    }
    const auto [nick, awayText, extra] = Fields<3>(m.payload);
    out.push_back("* " + Nick(nick) + " is away: " + awayText);
    return true;
}

// Any refusal but of server information (whose replies the table takes).
bool Session::ShowRefusal(const Message& m, Lines& out) {
    if (m.status == protocol::kOk || m.command == Command::kServerData) return false;
    const auto [first, second] = Fields<2>(m.payload);
    std::string line = std::string("! ") + What(m.command) + " refused: " + Meaning(m.status, m.command);
    if (m.status == protocol::kNoSuchUser) line += " " + (second.empty() ? first : second);
    else if (!first.empty()) line += " (" + first + ")";
    if (m.command == Command::kLogin && !wanted_.empty()) wanted_.pop_front();
    out.push_back(line);
    return true;
}

std::vector<std::string> Session::Describe(std::string_view bytes) {
    Lines out;
    const auto message = Message::Read(bytes);
    if (!message) return out;
    if (ShowClosingNotice(*message, out) || ShowAwayNotice(*message, out) || ShowRefusal(*message, out)) return out;
    // The row of the message's sub-code, else the command's row for any.
    const MessageKind* kind = nullptr;
    for (const MessageKind& row : MessageKinds()) {
        if (row.command != message->command) continue;
        if (row.sub == message->sub) {
            kind = &row;
            break;
        }
        if (row.sub == kAnySub) kind = &row;
    }
    if (kind) kind->show(*this, *message, out);
    return out;
}

// --- The rest -------------------------------------------------------------------

std::string Request(Command command, std::uint8_t sub, std::string_view payload) {
    return protocol::BuildRequest(command, sub, payload);
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

std::vector<std::string> Session::TakeFollowUps() { return std::exchange(followUps_, {}); }

std::string Session::SyncRequest() const { return Request(Command::kUserLookup, kNoSubCode, kSyncName); }

bool Session::IsSyncAnswer(std::string_view bytes) const {
    const auto message = Message::Read(bytes);
    if (!message || message->command != Command::kUserLookup) return false;
    return message->payload == kSyncName || (message->payload.empty() && message->status == protocol::kNotLoggedIn);
}

}  // namespace nelv::client
