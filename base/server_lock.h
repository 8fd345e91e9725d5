// ServerLock: the single process-wide lock that serialises all work on the
// shared chat state (online users, rooms, registered users, bans) and every
// connection's chat fields. Handlers run with it held; nothing waits on a
// socket while holding it.
#pragma once

#include <mutex>

#include "base/thread_safety.h"

namespace nelv {

class CAPABILITY("mutex") ServerLockType {
public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }

private:
    std::mutex m_;
};

extern ServerLockType ServerLock;

// RAII holder of ServerLock.
class SCOPED_CAPABILITY ServerLockGuard {
public:
    ServerLockGuard() ACQUIRE(ServerLock) { ServerLock.lock(); }
    ~ServerLockGuard() RELEASE() { ServerLock.unlock(); }
    ServerLockGuard(const ServerLockGuard&) = delete;
    ServerLockGuard& operator=(const ServerLockGuard&) = delete;
};

}  // namespace nelv
