#include "chat/password_guard.h"

#include <algorithm>

namespace nelv::chat {

bool PasswordGuard::Blocked(std::uint32_t address, double now) const {
    auto it = byAddress_.find(address);
    return it != byAddress_.end() && now < it->second.blockedUntil;
}

bool PasswordGuard::Wrong(std::uint32_t address, double now) {
    if (byAddress_.size() > kPruneAbove) Prune(now);
    History& history = byAddress_[address];
    std::erase_if(history.wrong, [now](double when) { return when + kWindow <= now; });
    history.wrong.push_back(now);
    if (history.wrong.size() < kMaxWrong) return false;
    history.wrong.clear();
    history.blockedUntil = now + kWindow;
    return true;
}

void PasswordGuard::Prune(double now) {
    std::erase_if(byAddress_, [now](const auto& entry) {
        const History& history = entry.second;
        const bool recent = std::any_of(history.wrong.begin(), history.wrong.end(),
                                        [now](double when) { return when + kWindow > now; });
        return !recent && history.blockedUntil <= now;
    });
}

}  // namespace nelv::chat
