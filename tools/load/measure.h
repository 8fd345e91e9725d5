// What nelv3load measures, free of sockets: the stamp each room text
// carries, the ledger of who received which text, and the histogram the
// percentiles come from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nelv::load {

// A room text says who sent it, its number among that sender's texts and
// when it was sent (CLOCK_MONOTONIC, ns): "sender seq ns", padded with 'x'
// up to `size` bytes (never cut below the stamp).
struct Stamp {
    std::uint32_t sender = 0;
    std::uint32_t seq = 0;
    std::int64_t sentNs = 0;
};
std::string StampText(const Stamp& stamp, std::size_t size);
// Nothing when the text does not start with a stamp.
std::optional<Stamp> ReadStamp(std::string_view text);

struct LedgerCounts {
    std::uint64_t deliveries = 0;  // first deliveries of texts the receiver should get
    std::uint64_t missing = 0;     // texts sent that an expected receiver has not got (yet)
    std::uint64_t duplicated = 0;  // a receiver got the same text again
    std::uint64_t reordered = 0;   // a first delivery below the highest number already got from that sender
    std::uint64_t unexpected = 0;  // not from a sender of the receiver's room, or never sent
};

// Clients are numbered 0..n-1 and each is in one room (group). Some of them
// send numbered texts 0..messages-1; every client of the sender's room, the
// sender itself included, must receive each exactly once, in order. A text
// is in flight from its sending until the last of them has it.
class DeliveryLedger {
public:
    DeliveryLedger(std::vector<std::uint32_t> groupOfClient, const std::vector<bool>& isSender,
                   std::uint32_t messages);

    // Whether `sender` may send its next text with at most `window` in flight.
    bool CanSend(std::uint32_t sender, std::uint32_t window) const;
    // Counts the next text of `sender` as sent; its number.
    std::uint32_t Send(std::uint32_t sender);

    enum class Outcome { kDelivered, kCompleted, kDuplicate, kUnexpected };
    // A text `receiver` read; kCompleted when every receiver now has it.
    Outcome Record(std::uint32_t receiver, std::uint32_t sender, std::uint32_t seq);

    // Every sender sent everything and everything arrived.
    bool Complete() const { return unsent_ == 0 && pending_ == 0; }
    LedgerCounts Counts() const;

private:
    struct Pair {                  // one receiver and one sender of its room
        std::int64_t highest = -1;  // highest number received
        std::uint32_t received = 0;
    };
    std::uint32_t messages_;
    std::vector<std::uint32_t> group_;                  // per client
    std::vector<std::vector<std::uint32_t>> senders_;   // per group, the senders in it
    std::vector<std::int32_t> senderSlot_;              // per client, its place in senders_, or -1
    std::vector<std::uint32_t> groupSize_;
    std::vector<std::size_t> pairBase_;                 // per client, its first Pair
    std::vector<Pair> pairs_;
    std::vector<bool> seen_;                            // per Pair, one bit per text
    std::vector<std::uint32_t> sent_, done_;            // per client
    std::vector<std::vector<std::uint32_t>> remaining_; // per sender and text: receivers still to get it
    std::uint64_t unsent_ = 0, pending_ = 0;
    LedgerCounts counts_;
};

// Microsecond values, kept exactly below 256 and otherwise in buckets of
// under 1 % width; percentiles by nearest rank (the bucket's top, at most
// the largest value seen).
class Histogram {
public:
    void Add(std::uint64_t value);
    std::uint64_t Count() const { return count_; }
    std::uint64_t Max() const { return max_; }
    // p in (0, 100]; 0 when empty.
    std::uint64_t Percentile(double p) const;

private:
    std::vector<std::uint64_t> buckets_;
    std::uint64_t count_ = 0, max_ = 0;
};

}  // namespace nelv::load
