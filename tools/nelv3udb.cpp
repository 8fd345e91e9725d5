// nelv3udb: the operator's tool for the user database file NELV3SRV.UDB.
//
//   nelv3udb list [FILE]
//   nelv3udb set [FILE] NICKNAME enabled|privileged|invisible 0|1
//
// `list` shows every record in use and counts the free slots. `set` changes
// one flag byte of the first record whose nickname matches (ignoring case,
// as the server does) and writes back only that record. The server keeps an
// exclusive lock on the file while it runs; `set` takes the same lock and
// refuses to touch a file a running server owns. The file is never created.
//
// Exit codes: 0 done, 1 failure (message on stderr), 2 wrong usage.

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/log_text.h"
#include "base/int_text.h"
#include "base/names.h"
#include "userdb/record_file.h"
#include "userdb/user_record.h"

namespace {

using nelv::userdb::RecordFile;
using nelv::userdb::UserRecord;

constexpr const char* kDefaultFile = "NELV3SRV.UDB";

int Usage() {
    std::fputs(
        "usage: nelv3udb list [FILE]\n"
        "       nelv3udb set [FILE] NICKNAME enabled|privileged|invisible 0|1\n"
        "FILE defaults to NELV3SRV.UDB in the current directory.\n",
        stderr);
    return 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "nelv3udb: %s\n", message.c_str());
    return 1;
}

// A stored date-time as "YYYY-MM-DD HH:MM:SS"; "never" for the zero a record
// holds before the first login, "invalid" for a value no calendar date has.
std::string DateTimeText(double days) {
    if (days == 0.0) return "never";
    if (!std::isfinite(days) || days < -693593.0 || days >= 2958466.0) return "invalid";
    return nelv::FormatStamp(days, '-', ':');
}

int List(const std::string& path) {
    RecordFile file;
    if (file.Open(path, RecordFile::Access::kRead) != RecordFile::OpenStatus::kOk) {
        return Fail(file.ErrorText());
    }
    std::size_t freeSlots = 0;
    for (std::size_t i = 0; i < file.count(); ++i) {
        UserRecord::Bytes bytes;
        if (auto error = file.Read(i, bytes)) return Fail(*error);
        UserRecord record(bytes);
        std::string name = record.Nickname();
        if (name.empty()) {
            ++freeSlots;
            continue;
        }
        std::printf("%zu \"%s\" enabled=%d privileged=%d invisible=%d color=%s registered=%s last-login=%s\n", i,
                    nelv::LogSafe(name).c_str(), record.Enabled() ? 1 : 0, record.Privileged() ? 1 : 0,
                    record.LoginInvisible() ? 1 : 0, nelv::ColorNumberToText(record.Color()).c_str(),
                    DateTimeText(record.RegisteredAt()).c_str(), DateTimeText(record.LastLoginAt()).c_str());
    }
    std::printf("%zu in use, %zu free\n", file.count() - freeSlots, freeSlots);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

enum class Flag { kEnabled, kPrivileged, kInvisible };

std::optional<Flag> ParseFlag(std::string_view text) {
    if (text == "enabled") return Flag::kEnabled;
    if (text == "privileged") return Flag::kPrivileged;
    if (text == "invisible") return Flag::kInvisible;
    return std::nullopt;
}

bool FlagOf(const UserRecord& record, Flag flag) {
    switch (flag) {
        case Flag::kEnabled: return record.Enabled();
        case Flag::kPrivileged: return record.Privileged();
        case Flag::kInvisible: return record.LoginInvisible();
    }
    return false;
}

void SetFlag(UserRecord& record, Flag flag, bool value) {
    switch (flag) {
        case Flag::kEnabled: record.SetEnabled(value); break;
        case Flag::kPrivileged: record.SetPrivileged(value); break;
        case Flag::kInvisible: record.SetLoginInvisible(value); break;
    }
}

int Set(const std::string& path, std::string_view nickname, Flag flag, std::string_view flagName, bool value) {
    RecordFile file;
    if (file.Open(path, RecordFile::Access::kChange) != RecordFile::OpenStatus::kOk) {
        return Fail(file.ErrorText());
    }
    // The server's lookup: the first record in file order whose nickname
    // equals the name ignoring case; free slots never match.
    for (std::size_t i = 0; i < file.count(); ++i) {
        UserRecord::Bytes bytes;
        if (auto error = file.Read(i, bytes)) return Fail(*error);
        UserRecord record(bytes);
        std::string name = record.Nickname();
        if (name.empty() || nickname.empty() || !nelv::SameName(name, nickname)) continue;

        std::string shown = "record " + std::to_string(i) + " \"" + nelv::LogSafe(name) + "\": ";
        std::string flagText(flagName);
        if (FlagOf(record, flag) == value) {
            std::printf("%s%s is already %d; nothing written\n", shown.c_str(), flagText.c_str(), value ? 1 : 0);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        SetFlag(record, flag, value);
        if (auto error = file.Write(i, record.bytes())) return Fail(*error);
        std::printf("%s%s %d -> %d\n", shown.c_str(), flagText.c_str(), value ? 0 : 1, value ? 1 : 0);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return Fail("no registered nickname \"" + nelv::LogSafe(nickname) + "\" in " + path);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    if (command == "list") {
        if (args.size() > 2) return Usage();
        return List(args.size() == 2 ? args[1] : kDefaultFile);
    }
    if (command == "set") {
        if (args.size() != 4 && args.size() != 5) return Usage();
        std::size_t at = args.size() - 3;
        std::string path = args.size() == 5 ? args[1] : kDefaultFile;
        std::optional<Flag> flag = ParseFlag(args[at + 1]);
        const std::string& value = args[at + 2];
        if (!flag || (value != "0" && value != "1")) return Usage();
        return Set(path, args[at], *flag, args[at + 1], value == "1");
    }
    return Usage();
}
