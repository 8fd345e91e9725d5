// Ranks: a user's standing in general or in one room, the rights each rank
// carries, and how a rank travels on the wire.
#pragma once

#include <cstdint>

#include "base/server_lock.h"

namespace nelv::chat {

class TActUser;
class TRoom;

// A user's standing, in general or in one room. Later ones win: a room's
// owner that is privileged is kPrivileged; away, when shown, beats all.
enum class Rank : std::uint8_t { kOrdinary, kOperator, kOwner, kPrivileged, kAway };

// The standing of `user` in `room` (or in general for nullptr), away
// reported only when `showAway`.
Rank RankOf(const TActUser& user, const TRoom* room, bool showAway) REQUIRES(ServerLock);

// The rights a rank carries when away is not shown.
inline bool HasOperatorRights(Rank rank) { return rank != Rank::kOrdinary; }
inline bool HasOwnerRights(Rank rank) { return rank == Rank::kOwner || rank == Rank::kPrivileged; }

// The rank as it travels: '0' to '4'.
char StatusChar(Rank rank);

}  // namespace nelv::chat
