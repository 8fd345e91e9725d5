// The output pump: one thread that writes queued output of every connection
// with non-blocking sends, all messages waiting for a connection in one
// write, and finishes closing connections once their output is out (or their
// grace time has passed).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace nelv::net {

class TUser;

class OutputPump {
public:
    // Starts the pump thread. The pump must outlive every connection that
    // uses it; the server's lives until the process ends.
    OutputPump();
    OutputPump(const OutputPump&) = delete;
    OutputPump& operator=(const OutputPump&) = delete;

    // The connection has new output or started closing. Takes a reference
    // that the pump keeps until the connection needs nothing more from it.
    // Inside a Batch on this thread the hand-over waits for the batch's end.
    void Wake(std::shared_ptr<TUser> user);

    // While one lives, the wake-ups its thread causes are collected. When it
    // ends, that thread itself writes what the connections have queued, as
    // far as their sockets take it at once, and hands the pump only what is
    // left: output made by a whole turn of the receive loop leaves in one
    // write per connection, without a hop to the pump's thread.
    class Batch {
    public:
        explicit Batch(OutputPump& pump);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        OutputPump& pump_;
    };

    // Waits until no connection has output pending or a close unfinished,
    // at most `limit`. True when everything was written.
    bool WaitIdle(std::chrono::milliseconds limit);

private:
    // A connection the pump holds, with the batch it is writing.
    struct Slot {
        std::shared_ptr<TUser> user;
        std::string batch;
        std::size_t offset = 0;
        bool pollingOut = false;
    };

    // A connection handed over, with bytes already taken from its queue
    // that must leave first.
    struct Handed {
        std::shared_ptr<TUser> user;
        std::string rest;
    };
    void Hand(std::vector<Handed>& users);
    void WriteNow(std::vector<std::shared_ptr<TUser>>& users);
    void Run();
    int NextDeadlineMs();
    void CutOffLate();
    void ServiceKey(TUser* key);
    // Writes what it can; true while the pump must keep the connection.
    bool Service(Slot& slot);
    void Finish(Slot& slot, bool abortive);

    int epoll_ = -1;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<Handed> woken_;                  // guarded by mutex_
    std::size_t busy_ = 0;                       // guarded by mutex_: woken_ + active_
    // Pump thread only: connections with output or a close in progress.
    std::unordered_map<TUser*, Slot> active_;
};

}  // namespace nelv::net
