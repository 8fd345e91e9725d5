#include "tools/load/measure.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>

namespace nelv::load {

std::string StampText(const Stamp& stamp, std::size_t size) {
    std::string text = std::to_string(stamp.sender) + ' ' + std::to_string(stamp.seq) + ' ' +
                       std::to_string(stamp.sentNs);
    if (text.size() < size) text.append(size - text.size(), 'x');
    return text;
}

std::optional<Stamp> ReadStamp(std::string_view text) {
    Stamp stamp;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    auto number = [&](auto& into, bool last) {
        auto [next, error] = std::from_chars(at, end, into);
        if (error != std::errc{} || (!last && (next == end || *next != ' '))) return false;
        at = last ? next : next + 1;
        return true;
    };
    if (!number(stamp.sender, false) || !number(stamp.seq, false) || !number(stamp.sentNs, true)) {
        return std::nullopt;
    }
    return stamp;
}

DeliveryLedger::DeliveryLedger(std::vector<std::uint32_t> groupOfClient, const std::vector<bool>& isSender,
                               std::uint32_t messages)
    : messages_(messages), group_(std::move(groupOfClient)) {
    const std::size_t n = group_.size();
    const std::size_t groups = n == 0 ? 0 : *std::max_element(group_.begin(), group_.end()) + 1;
    senders_.resize(groups);
    groupSize_.assign(groups, 0);
    senderSlot_.assign(n, -1);
    remaining_.resize(n);
    for (std::uint32_t c = 0; c < n; ++c) {
        ++groupSize_[group_[c]];
        if (c < isSender.size() && isSender[c]) {
            senderSlot_[c] = static_cast<std::int32_t>(senders_[group_[c]].size());
            senders_[group_[c]].push_back(c);
            remaining_[c].assign(messages, 0);
            unsent_ += messages;
        }
    }
    std::size_t total = 0;
    for (std::uint32_t c = 0; c < n; ++c) {
        pairBase_.push_back(total);
        total += senders_[group_[c]].size();
    }
    pairs_.resize(total);
    seen_.resize(total * messages);
    sent_.assign(n, 0);
    done_.assign(n, 0);
}

bool DeliveryLedger::CanSend(std::uint32_t sender, std::uint32_t window) const {
    return sender < sent_.size() && senderSlot_[sender] >= 0 && sent_[sender] < messages_ &&
           sent_[sender] - done_[sender] < window;
}

std::uint32_t DeliveryLedger::Send(std::uint32_t sender) {
    const std::uint32_t seq = sent_[sender]++;
    remaining_[sender][seq] = groupSize_[group_[sender]];
    --unsent_;
    pending_ += groupSize_[group_[sender]];
    return seq;
}

DeliveryLedger::Outcome DeliveryLedger::Record(std::uint32_t receiver, std::uint32_t sender, std::uint32_t seq) {
    if (receiver >= group_.size() || sender >= group_.size() || senderSlot_[sender] < 0 ||
        group_[receiver] != group_[sender] || seq >= sent_[sender]) {
        ++counts_.unexpected;
        return Outcome::kUnexpected;
    }
    const std::size_t pair = pairBase_[receiver] + static_cast<std::size_t>(senderSlot_[sender]);
    const std::size_t bit = pair * messages_ + seq;
    if (seen_[bit]) {
        ++counts_.duplicated;
        return Outcome::kDuplicate;
    }
    seen_[bit] = true;
    ++counts_.deliveries;
    --pending_;
    Pair& p = pairs_[pair];
    ++p.received;
    if (seq < p.highest) {
        ++counts_.reordered;
    } else {
        p.highest = seq;
    }
    if (--remaining_[sender][seq] > 0) return Outcome::kDelivered;
    ++done_[sender];
    return Outcome::kCompleted;
}

LedgerCounts DeliveryLedger::Counts() const {
    LedgerCounts counts = counts_;
    counts.missing = pending_;
    return counts;
}

namespace {

constexpr std::uint64_t kExact = 256;   // values kept as they are
constexpr unsigned kSubBuckets = 128;   // buckets per power of two above that

std::size_t BucketOf(std::uint64_t value) {
    if (value < kExact) return value;
    const unsigned e = static_cast<unsigned>(std::bit_width(value)) - 1;  // >= 8
    const unsigned shift = e - 7;
    return kExact + (e - 8) * kSubBuckets + ((value >> shift) - kSubBuckets);
}

std::uint64_t TopOf(std::size_t bucket) {
    if (bucket < kExact) return bucket;
    const std::size_t e = 8 + (bucket - kExact) / kSubBuckets;
    const std::uint64_t mantissa = kSubBuckets + (bucket - kExact) % kSubBuckets;
    return ((mantissa + 1) << (e - 7)) - 1;
}

}  // namespace

void Histogram::Add(std::uint64_t value) {
    const std::size_t bucket = BucketOf(value);
    if (bucket >= buckets_.size()) buckets_.resize(bucket + 1, 0);
    ++buckets_[bucket];
    ++count_;
    max_ = std::max(max_, value);
}

std::uint64_t Histogram::Percentile(double p) const {
    if (count_ == 0) return 0;
    const double wanted = std::ceil(p * static_cast<double>(count_) / 100.0);
    const std::uint64_t rank = std::clamp<std::uint64_t>(static_cast<std::uint64_t>(wanted), 1, count_);
    std::uint64_t seen = 0;
    for (std::size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
        seen += buckets_[bucket];
        if (seen >= rank) return std::min(TopOf(bucket), max_);
    }
    return max_;
}

}  // namespace nelv::load
