// Registered nicknames (command 7): register (15), read the own profile
// (16), change it (17), give the registration up (18). Every change is
// written through to the user database at once. Registration needs no
// login; the other three act on the connection's own account and are
// guarded by its password.
#include <memory>
#include <string>
#include <vector>

#include "base/int_text.h"
#include "chat/message.h"
#include "chat/room.h"
#include "commands/commands.h"
#include "userdb/user_database.h"

namespace nelv::commands {

using namespace chat;

namespace {

constexpr Command kAccount = Command::kAccount;

using namespace protocol::account;
using protocol::standing::kPrivilegeDropped;

void Register(ChatState& chat, TActUser& user, const std::vector<std::string>& fields)
    REQUIRES(ServerLock) {
    const std::string& nickname = fields[0];
    const std::string& password = fields[1];
    auto& registered = chat.RegisteredUsers;

    if (!ValidNickname(nickname)) {
        SendReply(user, kAccount, kRegister, kNicknameInvalid);
        return;
    }
    if (registered.FindRegisteredUser(nickname)) {
        SendReply(user, kAccount, kRegister, kAlreadyRegistered);
        return;
    }
    if (TActUser* holder = FindOnlineUser(chat, nickname); holder && holder != &user) {
        SendReply(user, kAccount, kRegister, kNicknameInUse);
        return;
    }
    const std::int32_t required = chat.Settings().RegistrationPassword;
    if (required != 0 && !PasswordAccepted(chat, user, [&] { return password == IntToText(required); })) {
        SendReply(user, kAccount, kRegister, kWrongPassword);
        return;
    }

    // Only the exact spelling the connection is using links it to the new
    // record; another letter case registers the name for someone else.
    const bool ownNickname = user.Nickname == nickname;
    const double now = chat.Now();
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
    SendReply(user, kAccount, kRegister, kOk);
}

void ReadProfile(TActUser& user, const std::vector<std::string>& fields) REQUIRES(ServerLock) {
    const userdb::UserRecord& account = *user.Account;
    if (!account.PasswordMatches(fields[0])) {
        SendReply(user, kAccount, kReadProfile, kWrongPassword);
        return;
    }
    SendReply(user, kAccount, kReadProfile, kOk,
              JoinFields({account.Profile1(), account.Profile2(), account.Profile3(),
                          FlagText(account.LoginInvisible())}));
}

void ChangeProfile(ChatState& chat, TActUser& user, const std::vector<std::string>& fields)
    REQUIRES(ServerLock) {
    userdb::UserRecord& account = *user.Account;
    if (!account.PasswordMatches(fields[0])) {
        SendReply(user, kAccount, kChangeProfile, kWrongPassword);
        return;
    }
    // An empty new password means 0: clients resend the old one to keep it.
    account.SetPassword(userdb::PasswordFromText(fields[1]));
    account.SetProfile1(fields[2]);
    account.SetProfile2(fields[3]);
    account.SetProfile3(fields[4]);
    account.SetLoginInvisible(ParseFlag(fields[5], 0) == 1);
    chat.RegisteredUsers.SaveUserRecord(account);
    SendReply(user, kAccount, kChangeProfile, kOk);
}

void Unregister(ChatState& chat, TActUser& user, const std::vector<std::string>& fields)
    REQUIRES(ServerLock) {
    if (!user.Account->PasswordMatches(fields[0])) {
        SendReply(user, kAccount, kUnregister, kWrongPassword);
        return;
    }
    const bool wasPrivileged = user.Account->Privileged();
    chat.RegisteredUsers.FreeUserRecord(user.Account);
    user.Account = nullptr;

    // The user's rank has just dropped from privileged; rooms and the user
    // list learn the new standing.
    if (wasPrivileged) {
        for (auto& entry : user.Rooms) {
            TRoom& room = *entry.value;
            SendRoomEvent(room, kStatusChanged, kPrivilegeDropped, TextAndStanding(user.Nickname, user, room),
                          nullptr);
        }
        StatusBroadcast(chat, user);
    }
    SendReply(user, kAccount, kUnregister, kOk);
}

}  // namespace

void HandleAccount(ChatState& chat, TActUser& user, const Request& request) {
    const std::uint8_t subCode = request.subCode;
    if (subCode != kRegister && !ActsOnProfile(subCode)) return;
    const auto& fields = request.fields;
    if (subCode == kRegister) {
        Register(chat, user, fields);
        return;
    }
    // A logged-in nickname that is not registered has no profile to act on.
    if (!user.Account) return;
    switch (subCode) {
        case kReadProfile: ReadProfile(user, fields); break;
        case kChangeProfile: ChangeProfile(chat, user, fields); break;
        case kUnregister: Unregister(chat, user, fields); break;
        default: break;
    }
}

}  // namespace nelv::commands
