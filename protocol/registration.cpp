// Registered nicknames (command 7): register (15), read the own profile
// (16), change it (17), give the registration up (18). Every change is
// written through to the user database at once. Registration needs no
// login; the other three act on the connection's own account and are
// guarded by its password.
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/int_text.h"
#include "base/server_config.h"
#include "protocol/chat_connection.h"
#include "protocol/commands.h"
#include "protocol/message.h"
#include "rooms/room.h"
#include "userdb/user_database.h"

namespace nelv::protocol {
namespace {

constexpr std::uint8_t kRegister = 15;
constexpr std::uint8_t kReadProfile = 16;
constexpr std::uint8_t kChangeProfile = 17;
constexpr std::uint8_t kUnregister = 18;

// Every sub-code reads six fields; the last keeps any further separators.
constexpr unsigned kAccountFieldCount = 6;

void Register(TActUser& user, const std::vector<std::string>& fields) REQUIRES(ServerLock) {
    const std::string& nickname = fields[0];
    const std::string& password = fields[1];
    auto& registered = userdb::RegisteredUsers();

    if (!ValidNickname(nickname)) {
        SendReply(user, 7, kRegister, kNicknameInvalid);
        return;
    }
    if (registered.FindRegisteredUser(nickname)) {
        SendReply(user, 7, kRegister, kAlreadyRegistered);
        return;
    }
    if (TActUser* holder = FindOnlineUser(nickname); holder && holder != &user) {
        SendReply(user, 7, kRegister, kNicknameInUse);
        return;
    }
    const std::int32_t required = Config().RegistrationPassword;
    if (required != 0 && password != IntToText(required)) {
        SendReply(user, 7, kRegister, kWrongPassword);
        return;
    }

    // Only the exact spelling the connection is using links it to the new
    // record; another letter case registers the name for someone else.
    const bool ownNickname = user.Nickname == nickname;
    const double now = Now();
    auto record = std::make_unique<userdb::UserRecord>();
    record->SetNickname(nickname);
    record->SetPassword(userdb::PasswordFromText(password));
    record->SetProfile1(fields[2]);
    record->SetProfile2(fields[3]);
    record->SetProfile3(fields[4]);
    record->SetColor(ownNickname ? ColorTextToNumber(user.Color) : 0);
    record->SetLoginInvisible(ParseFlag(fields[5], 0) == 1);
    record->SetRegisteredAt(now);
    record->SetLastLoginAt(ownNickname ? now : 0.0);
    record->SetEnabled(true);
    record->SetPrivileged(false);

    userdb::UserRecord* added = registered.AddUserRecord(std::move(record));
    if (ownNickname) user.Account = added;
    SendReply(user, 7, kRegister, kOk);
}

void ReadProfile(TActUser& user, const std::vector<std::string>& fields) REQUIRES(ServerLock) {
    const userdb::UserRecord& account = *user.Account;
    if (!account.PasswordMatches(fields[0])) {
        SendReply(user, 7, kReadProfile, kWrongPassword);
        return;
    }
    SendReply(user, 7, kReadProfile, kOk,
              JoinFields({account.Profile1(), account.Profile2(), account.Profile3(),
                          FlagText(account.LoginInvisible())}));
}

void ChangeProfile(TActUser& user, const std::vector<std::string>& fields) REQUIRES(ServerLock) {
    userdb::UserRecord& account = *user.Account;
    if (!account.PasswordMatches(fields[0])) {
        SendReply(user, 7, kChangeProfile, kWrongPassword);
        return;
    }
    // An empty new password means 0: clients resend the old one to keep it.
    account.SetPassword(userdb::PasswordFromText(fields[1]));
    account.SetProfile1(fields[2]);
    account.SetProfile2(fields[3]);
    account.SetProfile3(fields[4]);
    account.SetLoginInvisible(ParseFlag(fields[5], 0) == 1);
    userdb::RegisteredUsers().SaveUserRecord(account);
    SendReply(user, 7, kChangeProfile, kOk);
}

void Unregister(TActUser& user, const std::vector<std::string>& fields) REQUIRES(ServerLock) {
    if (!user.Account->PasswordMatches(fields[0])) {
        SendReply(user, 7, kUnregister, kWrongPassword);
        return;
    }
    const bool wasPrivileged = user.Account->Privileged();
    userdb::RegisteredUsers().FreeUserRecord(user.Account);
    user.Account = nullptr;

    // The user's rank has just dropped from privileged; rooms and the user
    // list learn the new standing.
    if (wasPrivileged) {
        for (auto& entry : user.Rooms) {
            rooms::TRoom& room = *entry.value;
            rooms::SendRoomEvent(room, rooms::kStatusChanged, 12,
                                 TextAndStanding(user.Nickname, user, room), nullptr);
        }
        StatusBroadcast(user);
    }
    SendReply(user, 7, kUnregister, kOk);
}

}  // namespace

void HandleAccount(TActUser& user, std::uint8_t subCode, std::string_view payload) {
    if (subCode != kRegister && subCode != kReadProfile && subCode != kChangeProfile &&
        subCode != kUnregister) {
        return;
    }
    if (subCode != kRegister && !RequireLogin(user, 7)) return;
    const auto fields = SplitFields(payload, kFieldSeparator, kAccountFieldCount, kAccountFieldCount);
    if (subCode == kRegister) {
        Register(user, fields);
        return;
    }
    // A logged-in nickname that is not registered has no profile to act on.
    if (!user.Account) return;
    switch (subCode) {
        case kReadProfile: ReadProfile(user, fields); break;
        case kChangeProfile: ChangeProfile(user, fields); break;
        case kUnregister: Unregister(user, fields); break;
        default: break;
    }
}

}  // namespace nelv::protocol
