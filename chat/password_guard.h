// PasswordGuard: bounds online password guessing per peer address. After
// kMaxWrong wrong passwords from one address within kWindow, every password
// check from it fails unseen until kWindow after the last of those; checks
// refused meanwhile do not extend the block. Pure: the caller gives the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace nelv::chat {

class PasswordGuard {
public:
    static constexpr std::size_t kMaxWrong = 5;
    // Past this many addresses, those with nothing in force are forgotten.
    static constexpr std::size_t kPruneAbove = 4096;
    static constexpr double kWindow = 60.0 / 86400.0;  // 60 seconds as a day fraction

    // True while checks from `address` are refused without comparing.
    bool Blocked(std::uint32_t address, double now) const;

    // Records a wrong password; true when it starts a block.
    bool Wrong(std::uint32_t address, double now);

private:
    struct History {
        std::vector<double> wrong;  // times of the recent wrong ones, oldest first
        double blockedUntil = 0;
    };
    // Drops addresses with nothing recent, so the table stays small.
    void Prune(double now);

    std::unordered_map<std::uint32_t, History> byAddress_;
};

}  // namespace nelv::chat
