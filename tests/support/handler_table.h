// Handler tables: each row runs on a fresh fake chat. Its setup steps run
// first and what they send is dropped; then its step runs, and every
// message any client received is compared, client by client.
//
// A step is "<client> <request>", "<client> connect" (the greeting shows;
// a name in use connects again from its address), "<client> close" (the
// peer hangs up) or "tick <seconds>". A client is connected when first
// named, from 127.0.0.<n> for the n-th name, and its greeting is dropped. Requests and replies are written readably:
// "command/sub-code payload" and "command/sub-code/status payload", with
// 0x01 as "|", 0x02 as "^" and any other unprintable byte as "{N}".
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_chat.h"
#include "userdb/user_record.h"

namespace nelv::testing {

inline std::string Readable(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0x01) {
            out += '|';
        } else if (c == 0x02) {
            out += '^';
        } else if (c < 0x20 || c > 0x7E || c == '{' || c == '|' || c == '^' || c == '"' || c == '\\') {
            out += '{' + std::to_string(c) + '}';
        } else {
            out += ch;
        }
    }
    return out;
}

// "command/sub-code/status payload" of a reply.
inline std::string ReadableReply(std::string_view message) {
    std::string out;
    for (std::size_t i = 0; i < 3 && i < message.size(); ++i) {
        if (i > 0) out += '/';
        out += std::to_string(static_cast<unsigned char>(message[i]));
    }
    if (message.size() > 3) out += ' ' + Readable(message.substr(3));
    return out;
}

// The bytes of a readable text: "|", "^" and "{N}" turned back.
inline std::string Bytes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '|') {
            out += '\x01';
        } else if (text[i] == '^') {
            out += '\x02';
        } else if (text[i] == '{') {
            const std::size_t close = text.find('}', i);
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, close - i - 1))));
            i = close;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The bytes of a readable request "command/sub-code payload".
inline std::string Request(std::string_view readable) {
    const std::size_t slash = readable.find('/');
    const std::size_t space = readable.find(' ');
    std::string out;
    out += static_cast<char>(std::stoi(std::string(readable.substr(0, slash))));
    out += static_cast<char>(std::stoi(std::string(readable.substr(slash + 1, space - slash - 1))));
    if (space != std::string_view::npos) out += Bytes(readable.substr(space + 1));
    return out;
}

// The bytes of a registered nickname's record.
inline userdb::UserRecord::Bytes Account(const std::string& nickname, std::int32_t password,
                                         bool privileged = false, std::int32_t color = 0) {
    userdb::UserRecord record;
    record.SetNickname(nickname);
    record.SetPassword(password);
    record.SetColor(color);
    record.SetEnabled(true);
    record.SetPrivileged(privileged);
    record.SetRegisteredAt(44000.25);
    return record.bytes();
}

struct Row {
    std::vector<std::string> setup;
    std::string step;
    std::vector<std::string> out;  // "<client>: <reply>", clients in the order first named
};

class HandlerTable {
public:
    explicit HandlerTable(ServerConfig settings = {}, std::vector<userdb::UserRecord::Bytes> records = {})
        : settings_(std::move(settings)), records_(std::move(records)) {}

    // Runs every row; a mismatch names the row's step.
    void Check(const std::vector<Row>& rows) const {
        for (const Row& row : rows) {
            FakeChat fake(settings_, records_);
            std::vector<std::string> names;
            for (const std::string& step : row.setup) Run(fake, names, step);
            for (std::size_t i = 0; i < fake.size(); ++i) fake.client(i).wire.TakeSent();
            Run(fake, names, row.step);
            std::vector<std::string> out;
            for (std::size_t i = 0; i < fake.size(); ++i) {
                for (const std::string& message : fake.client(i).wire.TakeSent()) {
                    out.push_back(names[i] + ": " + ReadableReply(message));
                }
            }
            EXPECT_EQ(out, row.out) << "step \"" << row.step << "\"";
            if (std::getenv("NELV_PRINT_TABLES")) {
                std::printf("ROW %s\n", row.step.c_str());
                for (const auto& line : out) std::printf("  \"%s\",\n", line.c_str());
            }
        }
    }

    // Runs one step on `fake`; `names` are the clients named so far.
    static void Run(FakeChat& fake, std::vector<std::string>& names, const std::string& step) {
        const std::size_t space = step.find(' ');
        const std::string who = step.substr(0, space);
        const std::string what = space == std::string::npos ? "" : step.substr(space + 1);
        if (who == "tick") {
            fake.now() += std::stod(what) / 86400.0;
            return;
        }
        // The latest client of that name; "connect" on a name in use connects
        // it again, from the same address.
        std::size_t index = names.size();
        while (index > 0 && names[index - 1] != who) --index;
        const bool known = index > 0;
        if (!known || what == "connect") {
            const std::uint32_t address =
                known ? ntohl(fake.client(index - 1).wire.PeerAddress()) : 0x7F000001 + Distinct(names);
            names.push_back(who);
            index = fake.Connect(address);
            if (what == "connect") return;
            fake.client(index).wire.TakeSent();
        } else {
            --index;
        }
        if (what == "close") {
            fake.Close(index);
        } else if (what != "connect") {
            fake.Send(index, Request(what));
        }
    }

private:
    static std::uint32_t Distinct(const std::vector<std::string>& names) {
        std::vector<std::string> seen;
        for (const auto& name : names) {
            if (std::find(seen.begin(), seen.end(), name) == seen.end()) seen.push_back(name);
        }
        return static_cast<std::uint32_t>(seen.size());
    }

    ServerConfig settings_;
    std::vector<userdb::UserRecord::Bytes> records_;
};

}  // namespace nelv::testing
