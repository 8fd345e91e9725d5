#include "chat/rank.h"

#include "chat/chat_connection.h"
#include "chat/room.h"
#include "userdb/user_record.h"

namespace nelv::chat {

Rank RankOf(const TActUser& user, const TRoom* room, bool showAway) {
    Rank rank = Rank::kOrdinary;
    if (room) {
        if (room->IsOperator(user)) rank = Rank::kOperator;
        if (room->IsOwner(user)) rank = Rank::kOwner;
    }
    if (user.Account && user.Account->Privileged()) rank = Rank::kPrivileged;
    if (showAway && user.Away) rank = Rank::kAway;
    return rank;
}

char StatusChar(Rank rank) { return static_cast<char>('0' + static_cast<int>(rank)); }

}  // namespace nelv::chat
