// ReceiveLoop: one thread that waits on the sockets of many connections and
// lets each readable one receive a chunk and handle the messages in it. A
// connection is served by one loop only, so its messages stay in order; one
// chunk per turn keeps a busy client from starving the others.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace nelv::net {

class OutputPump;
class TUser;

class ReceiveLoop {
public:
    // Starts the loop's thread. The loop must outlive every connection it
    // serves; the server's lives until the process ends. The output of each
    // turn is handed to `pump` in one batch.
    explicit ReceiveLoop(OutputPump& pump);
    ReceiveLoop(const ReceiveLoop&) = delete;
    ReceiveLoop& operator=(const ReceiveLoop&) = delete;

    // Takes a new connection: the loop runs its Started, receives until it
    // ends, then runs its Ended. Any thread may call it.
    void Adopt(std::shared_ptr<TUser> user);

    // A connection held back for its output may go on. Any thread.
    void Resume(std::shared_ptr<TUser> user);

private:
    enum class Posted { kAdopt, kResume };

    void Post(Posted what, std::shared_ptr<TUser> user);
    void Run();
    void Serve(TUser* key, bool resumed);
    void Watch(TUser& user);

    OutputPump& pump_;
    int epoll_ = -1;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::vector<std::pair<Posted, std::shared_ptr<TUser>>> posted_;  // guarded by mutex_
    // Loop thread only: every connection it serves.
    std::unordered_map<TUser*, std::shared_ptr<TUser>> users_;
};

}  // namespace nelv::net
