// nelv3udb: the operator's tool for the user database file NELV3SRV.UDB.
// It reads and writes records with the server's own record code, finds a
// nickname as the server does (the first record in file order whose
// nickname equals it ignoring case) and adds a record where the server
// would (the first free slot, else at the end). Reading works beside a
// running server; changing takes the server's lock and refuses while a
// server holds the file. Bad input never changes the file.
//
// Exit codes: 0 done (check: the file is sound), 1 failure or an unsound
// file (message on stderr), 2 wrong usage.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/int_text.h"
#include "base/log_text.h"
#include "base/names.h"
#include "tools/command_line.h"
#include "userdb/record_file.h"
#include "userdb/user_record.h"

namespace {

using nelv::userdb::kRecordSize;
using nelv::userdb::RecordFile;
using nelv::userdb::UserRecord;

constexpr const char* kDefaultFile = "NELV3SRV.UDB";

struct Failure {
    std::string message;
};

// The records of a file, read whole; the file stays open (and locked when
// opened for a change) while this lives.
struct Database {
    RecordFile file;
    std::vector<UserRecord> records;

    Database(const std::string& path, RecordFile::Access access) {
        if (file.Open(path, access) != RecordFile::OpenStatus::kOk) throw Failure{file.ErrorText()};
        for (std::size_t i = 0; i < file.count(); ++i) {
            UserRecord::Bytes bytes;
            if (auto error = file.Read(i, bytes)) throw Failure{*error};
            records.emplace_back(bytes);
        }
    }

    std::size_t Find(const std::string& nickname, const std::string& path) const {
        for (std::size_t i = 0; i < records.size(); ++i) {
            const std::string name = records[i].Nickname();
            if (!name.empty() && nelv::SameName(name, nickname)) return i;
        }
        throw Failure{"no registered nickname \"" + nelv::LogSafe(nickname) + "\" in " + path};
    }

    void Write(std::size_t index, const UserRecord& record) {
        if (auto error = file.Write(index, record.bytes())) throw Failure{*error};
        if (index == records.size()) records.push_back(record);
        else records[index] = record;
    }
};

// A stored date-time as local "YYYY-MM-DD HH:MM:SS"; "never" for the zero a
// record holds before the first login, "invalid" where no calendar date is.
std::string DateTimeText(double days) {
    if (days == 0.0) return "never";
    if (!std::isfinite(days) || days < -693593.0 || days >= 2958466.0) return "invalid";
    return nelv::FormatStamp(days, '-', ':');
}

std::string Shown(std::size_t index, const UserRecord& record) {
    return "record " + std::to_string(index) + " \"" + nelv::LogSafe(record.Nickname()) + "\"";
}

std::int32_t PasswordArgument(const std::string& text) {
    auto value = nelv::ParseIntText(text);
    if (!value) throw Failure{"the password \"" + nelv::LogSafe(text) + "\" is not a number"};
    return *value;
}

std::int32_t ColorArgument(const std::string& text) {
    if (!nelv::IsColorText(text)) throw Failure{"the colour \"" + nelv::LogSafe(text) + "\" is not RRGGBB"};
    return nelv::ColorTextToNumber(text);
}

bool SwitchArgument(const std::string& text) {
    if (text == "on" || text == "1") return true;
    if (text == "off" || text == "0") return false;
    throw CLI::ValidationError("value", "must be on or off");
}

void List(const std::string& path) {
    Database db(path, RecordFile::Access::kRead);
    std::size_t freeSlots = 0;
    for (std::size_t i = 0; i < db.records.size(); ++i) {
        const UserRecord& record = db.records[i];
        if (record.Nickname().empty()) {
            ++freeSlots;
            continue;
        }
        std::printf("%zu \"%s\" enabled=%d privileged=%d invisible=%d color=%s registered=%s last-login=%s\n", i,
                    nelv::LogSafe(record.Nickname()).c_str(), record.Enabled() ? 1 : 0,
                    record.Privileged() ? 1 : 0, record.LoginInvisible() ? 1 : 0,
                    nelv::ColorNumberToText(record.Color()).c_str(), DateTimeText(record.RegisteredAt()).c_str(),
                    DateTimeText(record.LastLoginAt()).c_str());
    }
    std::printf("%zu in use, %zu free\n", db.records.size() - freeSlots, freeSlots);
}

void Show(const std::string& path, const std::string& nickname) {
    Database db(path, RecordFile::Access::kRead);
    const std::size_t i = db.Find(nickname, path);
    const UserRecord& r = db.records[i];
    std::printf("record:      %zu (offset %zu)\n", i, i * kRecordSize);
    std::printf("nickname:    %s\n", nelv::LogSafe(r.Nickname()).c_str());
    std::printf("password:    %d\n", r.Password());
    std::printf("profile 1:   %s\n", nelv::LogSafe(r.Profile1()).c_str());
    std::printf("profile 2:   %s\n", nelv::LogSafe(r.Profile2()).c_str());
    std::printf("profile 3:   %s\n", nelv::LogSafe(r.Profile3()).c_str());
    std::printf("colour:      %s\n", nelv::ColorNumberToText(r.Color()).c_str());
    std::printf("invisible:   %s\n", r.LoginInvisible() ? "on" : "off");
    std::printf("registered:  %s\n", DateTimeText(r.RegisteredAt()).c_str());
    std::printf("last login:  %s\n", DateTimeText(r.LastLoginAt()).c_str());
    std::printf("enabled:     %s\n", r.Enabled() ? "on" : "off");
    std::printf("privileged:  %s\n", r.Privileged() ? "on" : "off");
}

struct AddOptions {
    std::string nickname, password, color;
    bool privileged = false, invisible = false;
};

void Add(const std::string& path, const AddOptions& options) {
    if (!nelv::ValidNickname(options.nickname)) {
        throw Failure{"\"" + nelv::LogSafe(options.nickname) +
                      "\" is no valid nickname (1 to 20 bytes, no blanks or control bytes)"};
    }
    UserRecord record;
    record.SetNickname(options.nickname);
    record.SetPassword(PasswordArgument(options.password));
    record.SetColor(options.color.empty() ? 0 : ColorArgument(options.color));
    record.SetLoginInvisible(options.invisible);
    record.SetRegisteredAt(nelv::SystemNow());
    record.SetLastLoginAt(0.0);
    record.SetEnabled(true);
    record.SetPrivileged(options.privileged);

    Database db(path, RecordFile::Access::kChange);
    for (const UserRecord& other : db.records) {
        if (!other.Nickname().empty() && nelv::SameName(other.Nickname(), options.nickname)) {
            throw Failure{"\"" + nelv::LogSafe(options.nickname) + "\" is registered already"};
        }
    }
    std::size_t slot = 0;
    while (slot < db.records.size() && !db.records[slot].Nickname().empty()) ++slot;
    db.Write(slot, record);
    std::printf("%s added\n", Shown(slot, record).c_str());
}

// Changes one record found by nickname; `change` returns what it did, or
// nothing when the record already was so (nothing is written then).
template <typename Change>
void Modify(const std::string& path, const std::string& nickname, Change change) {
    Database db(path, RecordFile::Access::kChange);
    const std::size_t i = db.Find(nickname, path);
    UserRecord record = db.records[i];
    const std::string shown = Shown(i, record);
    const std::optional<std::string> done = change(record);
    if (!done) {
        std::printf("%s: unchanged; nothing written\n", shown.c_str());
        return;
    }
    db.Write(i, record);
    std::printf("%s: %s\n", shown.c_str(), done->c_str());
}

// Every way a record can be damaged, and names used twice.
int Check(const std::string& path) {
    RecordFile file;
    const auto status = file.Open(path, RecordFile::Access::kRead);
    if (status != RecordFile::OpenStatus::kOk) {
        std::printf("%s\n", file.ErrorText().c_str());
        return 1;
    }
    std::size_t problems = 0, inUse = 0;
    auto report = [&](std::size_t i, const std::string& what) {
        std::printf("record %zu: %s\n", i, what.c_str());
        ++problems;
    };
    std::vector<std::pair<std::string, std::size_t>> names;
    for (std::size_t i = 0; i < file.count(); ++i) {
        UserRecord::Bytes bytes;
        if (auto error = file.Read(i, bytes)) throw Failure{*error};
        if (bytes[UserRecord::kNicknameOffset] == 0) continue;
        ++inUse;
        const struct {
            const char* name;
            std::size_t offset, max;
        } texts[] = {{"nickname", UserRecord::kNicknameOffset, UserRecord::kNicknameMax},
                     {"profile 1", UserRecord::kProfile1Offset, UserRecord::kProfile1Max},
                     {"profile 2", UserRecord::kProfile2Offset, UserRecord::kProfile2Max},
                     {"profile 3", UserRecord::kProfile3Offset, UserRecord::kProfile3Max}};
        for (const auto& text : texts) {
            if (bytes[text.offset] > text.max) {
                report(i, std::string(text.name) + " length " + std::to_string(bytes[text.offset]) + " is over " +
                              std::to_string(text.max));
            }
        }
        const struct {
            const char* name;
            std::size_t offset;
        } flags[] = {{"invisible", UserRecord::kLoginInvisibleOffset},
                     {"enabled", UserRecord::kEnabledOffset},
                     {"privileged", UserRecord::kPrivilegedOffset}};
        for (const auto& flag : flags) {
            if (bytes[flag.offset] > 1) {
                report(i, std::string(flag.name) + " flag is " + std::to_string(bytes[flag.offset]) + ", not 0 or 1");
            }
        }
        const std::string name = UserRecord(bytes).Nickname();
        for (const auto& [other, at] : names) {
            if (nelv::SameName(other, name)) {
                report(i, "nickname \"" + nelv::LogSafe(name) + "\" is that of record " + std::to_string(at) +
                              " too (only the first one can log in)");
                break;
            }
        }
        names.emplace_back(name, i);
    }
    std::printf("%zu records, %zu in use, %zu free: %s\n", file.count(), inUse, file.count() - inUse,
                problems == 0 ? "sound" : (std::to_string(problems) + " problems").c_str());
    return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"nelv3udb: lists, checks and changes the user database file of NELV 3-Server.\n"
                 "FILE (an optional first argument, or --file) defaults to NELV3SRV.UDB in the\n"
                 "current directory. Changes refuse while a server holds the file.",
                 "nelv3udb"};
    app.require_subcommand(1);
    std::string file;
    app.add_option("-f,--file", file, "the user database file");

    // Every sub-command takes its words, optionally after a FILE.
    std::vector<std::string> words;
    auto command = [&](const char* name, const char* help, std::size_t count, const char* names) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->add_option("args", words, names)->expected(static_cast<int>(count), static_cast<int>(count) + 1);
        return sub;
    };
    CLI::App* list = app.add_subcommand("list", "one line per registered nickname, and the free slots");
    list->add_option("FILE", words, "the user database file")->expected(0, 1);
    CLI::App* show = command("show", "every field of one record", 1, "[FILE] NICK");
    AddOptions add;
    CLI::App* addCommand = command("add", "register a nickname in the first free slot", 1, "[FILE] NICK");
    addCommand->add_option("--password", add.password, "its password, a number")->required();
    addCommand->add_flag("--privileged", add.privileged, "may throw users off the server");
    addCommand->add_flag("--invisible", add.invisible, "logs in invisible");
    addCommand->add_option("--color", add.color, "its colour as RRGGBB");
    CLI::App* passwd = command("passwd", "set the password", 2, "[FILE] NICK N");
    CLI::App* set = command("set", "switch a flag: enabled, privileged or invisible", 3, "[FILE] NICK FLAG on|off");
    CLI::App* color = command("color", "set the colour", 2, "[FILE] NICK RRGGBB");
    CLI::App* freeCommand = command("free", "give up a registration (clears only its first byte)", 1, "[FILE] NICK");
    CLI::App* check = app.add_subcommand("check", "report damage; the exit status says whether the file is sound");
    check->add_option("FILE", words, "the user database file")->expected(0, 1);

    if (auto code = nelv::tools::ParseCommandLine(app, "nelv3udb", argc, argv)) return *code;

    CLI::App* chosen = app.get_subcommands().front();
    const std::size_t needed = chosen == list || chosen == check ? 0
                               : chosen == set                   ? 3
                               : chosen == passwd || chosen == color ? 2
                                                                     : 1;
    if (words.size() > needed) {
        if (!file.empty()) {
            std::fprintf(stderr, "nelv3udb: the file is named twice\n");
            return 2;
        }
        file = words.front();
        words.erase(words.begin());
    }
    if (file.empty()) file = kDefaultFile;

    try {
        if (chosen == list) {
            List(file);
        } else if (chosen == show) {
            Show(file, words[0]);
        } else if (chosen == addCommand) {
            add.nickname = words[0];
            Add(file, add);
        } else if (chosen == passwd) {
            const std::int32_t password = PasswordArgument(words[1]);
            Modify(file, words[0], [&](UserRecord& r) -> std::optional<std::string> {
                if (r.Password() == password) return std::nullopt;
                r.SetPassword(password);
                return "password changed";
            });
        } else if (chosen == set) {
            const std::string& flag = words[1];
            bool value;
            try {
                value = SwitchArgument(words[2]);
            } catch (const CLI::ValidationError&) {
                std::fprintf(stderr, "nelv3udb: the value must be on or off\n");
                return 2;
            }
            bool (UserRecord::*get)() const;
            void (UserRecord::*put)(bool);
            if (flag == "enabled") {
                get = &UserRecord::Enabled, put = &UserRecord::SetEnabled;
            } else if (flag == "privileged") {
                get = &UserRecord::Privileged, put = &UserRecord::SetPrivileged;
            } else if (flag == "invisible") {
                get = &UserRecord::LoginInvisible, put = &UserRecord::SetLoginInvisible;
            } else {
                std::fprintf(stderr, "nelv3udb: the flag must be enabled, privileged or invisible\n");
                return 2;
            }
            Modify(file, words[0], [&](UserRecord& r) -> std::optional<std::string> {
                const bool was = (r.*get)();
                if (was == value) return std::nullopt;
                (r.*put)(value);
                return flag + " " + (was ? "1" : "0") + " -> " + (value ? "1" : "0");
            });
        } else if (chosen == color) {
            const std::int32_t number = ColorArgument(words[1]);
            Modify(file, words[0], [&](UserRecord& r) -> std::optional<std::string> {
                if (r.Color() == number) return std::nullopt;
                r.SetColor(number);
                return "colour " + nelv::ColorNumberToText(number);
            });
        } else if (chosen == freeCommand) {
            Modify(file, words[0], [](UserRecord& r) -> std::optional<std::string> {
                r.MarkFree();
                return std::string("freed");
            });
        } else if (chosen == check) {
            const int status = Check(file);
            return std::fflush(stdout) == 0 ? status : 1;
        }
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "nelv3udb: %s\n", failure.message.c_str());
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
