// The core of nelv3chat, free of sockets and terminals: what a typed line
// asks of the server, and what each message from the server means, as
// lines for a person to read. It keeps what the session knows: its own
// nickname, the current room, the users it has seen and their colours.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/wire.h"

namespace nelv::client {

// The bytes of a request (without terminator): command, sub-code, payload.
std::string Request(protocol::Command command, std::uint8_t sub, std::string_view payload = {});

// A lookup whose answer marks that everything sent before was handled.
// Its name can be nobody's (a nickname holds no control bytes).
inline constexpr std::string_view kSyncName = "\x01sync";

struct Typed {
    std::vector<std::string> requests;  // messages to send, without terminator
    std::vector<std::string> lines;     // what to show at once
    bool quit = false;
};

class Session {
public:
    // `colors`: show nicknames in their own colours (24-bit ANSI).
    explicit Session(bool colors) : colors_(colors) {}

    // A line as typed: a slash command or text for the current room.
    Typed Type(std::string_view line);

    // The lines one message from the server stands for (often none).
    std::vector<std::string> Describe(std::string_view message);

    // Requests that answers made necessary (the second step of a
    // registration under a registration password); send them next.
    std::vector<std::string> TakeFollowUps();

    // The request that asks for the sync answer, and whether `message` is it.
    std::string SyncRequest() const;
    bool IsSyncAnswer(std::string_view message) const;

    // The help text of every command.
    static std::vector<std::string> Help();

    const std::string& room() const { return room_; }

private:
    using Lines = std::vector<std::string>;
    struct Message;       // a message from the server, cut into its parts
    struct MessageKind;   // a row of the table of server messages
    struct SlashCommand;  // a row of the table of typed commands

    // The tables behind Describe, and behind Type and Help.
    static const std::vector<MessageKind>& MessageKinds();
    static const std::vector<SlashCommand>& SlashCommands();

    // What Describe tries before its table, in this order: each shows the
    // message (true) or leaves it to the next.
    static bool ShowClosingNotice(const Message& message, Lines& out);
    bool ShowAwayNotice(const Message& message, Lines& out) const;
    bool ShowRefusal(const Message& message, Lines& out);

    std::string Nick(std::string_view nick) const;  // painted in its colour when colours are on
    std::string Paint(std::string_view nick, std::string_view color) const;

    bool colors_;
    std::string nickname_;         // own nickname once logged in
    std::deque<std::string> wanted_;  // nicknames of the logins under way, oldest first
    std::string room_;             // the last room joined
    std::string registerPassword_, registerWith_;  // the wanted password, and the one registered with
    std::vector<std::string> followUps_;
    std::map<std::string, std::pair<std::string, char>> users_;  // nickname: colour, status
    std::vector<int> infoParts_;   // what each pending server information request shows
};

}  // namespace nelv::client
