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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
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

// Ends the program with 1 (failure) or 2 (wrong usage) and this message.
struct Failure {
    std::string message;
};
struct Usage {
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
    throw Usage{"the value must be on or off"};
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

// --- The sub-commands --------------------------------------------------------

// What the command line gave: the file, the words after the sub-command's
// name (the file taken off), and the options of add.
struct Arguments {
    std::string file;
    std::vector<std::string> words;
    AddOptions add;
};

int RunList(const Arguments& a) {
    List(a.file);
    return 0;
}

int RunShow(const Arguments& a) {
    Show(a.file, a.words[0]);
    return 0;
}

void AddOptionsOfAdd(CLI::App& sub, Arguments& a) {
    sub.add_option("--password", a.add.password, "its password, a number")->required();
    sub.add_flag("--privileged", a.add.privileged, "may throw users off the server");
    sub.add_flag("--invisible", a.add.invisible, "logs in invisible");
    sub.add_option("--color", a.add.color, "its colour as RRGGBB");
}

int RunAdd(const Arguments& a) {
    AddOptions options = a.add;
    options.nickname = a.words[0];
    Add(a.file, options);
    return 0;
}

int RunPasswd(const Arguments& a) {
    const std::int32_t password = PasswordArgument(a.words[1]);
    Modify(a.file, a.words[0], [&](UserRecord& r) -> std::optional<std::string> {
        if (r.Password() == password) return std::nullopt;
        r.SetPassword(password);
        return "password changed";
    });
    return 0;
}

// The flags set can switch.
struct FlagField {
    std::string_view name;
    bool (UserRecord::*get)() const;
    void (UserRecord::*put)(bool);
};
constexpr FlagField kFlagFields[] = {
    {"enabled", &UserRecord::Enabled, &UserRecord::SetEnabled},
    {"privileged", &UserRecord::Privileged, &UserRecord::SetPrivileged},
    {"invisible", &UserRecord::LoginInvisible, &UserRecord::SetLoginInvisible},
};

int RunSet(const Arguments& a) {
    const std::string& flag = a.words[1];
    const bool value = SwitchArgument(a.words[2]);
    const auto field = std::find_if(std::begin(kFlagFields), std::end(kFlagFields),
                                    [&](const FlagField& known) { return known.name == flag; });
    if (field == std::end(kFlagFields)) throw Usage{"the flag must be enabled, privileged or invisible"};
    Modify(a.file, a.words[0], [&](UserRecord& r) -> std::optional<std::string> {
        const bool was = (r.*field->get)();
        if (was == value) return std::nullopt;
        (r.*field->put)(value);
        return flag + " " + (was ? "1" : "0") + " -> " + (value ? "1" : "0");
    });
    return 0;
}

int RunColor(const Arguments& a) {
    const std::int32_t number = ColorArgument(a.words[1]);
    Modify(a.file, a.words[0], [&](UserRecord& r) -> std::optional<std::string> {
        if (r.Color() == number) return std::nullopt;
        r.SetColor(number);
        return "colour " + nelv::ColorNumberToText(number);
    });
    return 0;
}

int RunFree(const Arguments& a) {
    Modify(a.file, a.words[0], [](UserRecord& r) -> std::optional<std::string> {
        r.MarkFree();
        return std::string("freed");
    });
    return 0;
}

int RunCheck(const Arguments& a) { return Check(a.file); }

// A sub-command: its name and help, the words it takes after an optional
// FILE and their names, the options of its own, and what it does (the exit
// code). One that takes no words takes just the FILE.
struct SubCommand {
    const char* name;
    const char* help;
    std::size_t wordCount;
    const char* wordNames;
    void (*addOptions)(CLI::App& sub, Arguments& arguments);
    int (*run)(const Arguments& arguments);
};

const SubCommand kSubCommands[] = {
    {"list", "one line per registered nickname, and the free slots", 0, "", nullptr, RunList},
    {"show", "every field of one record", 1, "[FILE] NICK", nullptr, RunShow},
    {"add", "register a nickname in the first free slot", 1, "[FILE] NICK", AddOptionsOfAdd, RunAdd},
    {"passwd", "set the password", 2, "[FILE] NICK N", nullptr, RunPasswd},
    {"set", "switch a flag: enabled, privileged or invisible", 3, "[FILE] NICK FLAG on|off", nullptr, RunSet},
    {"color", "set the colour", 2, "[FILE] NICK RRGGBB", nullptr, RunColor},
    {"free", "give up a registration (clears only its first byte)", 1, "[FILE] NICK", nullptr, RunFree},
    {"check", "report damage; the exit status says whether the file is sound", 0, "", nullptr, RunCheck},
};

void AddSubCommand(CLI::App& app, const SubCommand& command, Arguments& arguments) {
    CLI::App* sub = app.add_subcommand(command.name, command.help);
    if (command.wordCount == 0) {
        sub->add_option("FILE", arguments.words, "the user database file")->expected(0, 1);
    } else {
        const int count = static_cast<int>(command.wordCount);
        sub->add_option("args", arguments.words, command.wordNames)->expected(count, count + 1)->required();
    }
    if (command.addOptions) command.addOptions(*sub, arguments);
}

// A word more than the sub-command takes is the file, named first.
void TakeFile(Arguments& arguments, std::size_t wordCount) {
    if (arguments.words.size() > wordCount) {
        if (!arguments.file.empty()) throw Usage{"the file is named twice"};
        arguments.file = arguments.words.front();
        arguments.words.erase(arguments.words.begin());
    }
    if (arguments.file.empty()) arguments.file = kDefaultFile;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"nelv3udb: lists, checks and changes the user database file of NELV 3-Server.\n"
                 "FILE (an optional first argument, or --file) defaults to NELV3SRV.UDB in the\n"
                 "current directory. Changes refuse while a server holds the file.",
                 "nelv3udb"};
    app.require_subcommand(1);
    Arguments arguments;
    app.add_option("-f,--file", arguments.file, "the user database file");
    for (const SubCommand& command : kSubCommands) AddSubCommand(app, command, arguments);

    if (auto code = nelv::tools::ParseCommandLine(app, "nelv3udb", argc, argv)) return *code;

    const std::string chosen = app.get_subcommands().front()->get_name();
    const SubCommand& command = *std::find_if(std::begin(kSubCommands), std::end(kSubCommands),
                                              [&](const SubCommand& known) { return known.name == chosen; });
    try {
        TakeFile(arguments, command.wordCount);
        const int status = command.run(arguments);
        return std::fflush(stdout) == 0 ? status : 1;
    } catch (const Usage& usage) {
        std::fprintf(stderr, "nelv3udb: %s\n", usage.message.c_str());
        return 2;
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "nelv3udb: %s\n", failure.message.c_str());
        return 1;
    }
}
