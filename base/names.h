// Name comparison and the name-keyed lists of the server.
// Every lookup of a nickname, room name, section or key goes through
// SameName, which ignores letter case the way the chat's 8-bit text
// (Windows-1252) defines it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace nelv {

// Folds one Windows-1252 byte to its upper-case form (a-z, the accented
// Latin-1 letters, and the four letters the code page places in 0x80-0x9F).
unsigned char FoldCase(unsigned char c);

// True when a and b are equal ignoring letter case.
bool SameName(std::string_view a, std::string_view b);

// True for a nickname of 1 to 20 bytes, each above 0x20 and not 0xA0.
// The longest nickname, in bytes.
inline constexpr std::size_t kMaxNicknameLength = 20;

bool ValidNickname(std::string_view nickname);

// The name with every byte folded (FoldCase): equal for names SameName
// takes as equal.
std::string FoldedName(std::string_view name);

// An unsorted list of (name, value) entries in insertion order, looked up by
// name ignoring case, the first match winning. An index by folded name makes
// a lookup cost the name's length, not the list's. Positions shift only on
// RemoveAt. Values are unique in every list the server keeps, so a look-up
// by value starts from the end, where the latest entries are. Not
// thread-safe: the owner's lock guards it.
template <typename T>
class NamedList {
public:
    struct Entry {
        std::string name;  // change it with Rename only
        T value;
        std::uint64_t order = 0;  // rises with every Append: entries stay sorted by it
    };

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    Entry& operator[](std::size_t i) { return entries_[i]; }
    const Entry& operator[](std::size_t i) const { return entries_[i]; }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    void Append(std::string name, T value) {
        const std::uint64_t order = nextOrder_++;
        index_[FoldedName(name)].push_back(order);
        entries_.push_back({std::move(name), std::move(value), order});
    }

    // Index of the first entry named `name` (ignoring case), if any.
    std::optional<std::size_t> IndexOf(std::string_view name) const {
        auto found = index_.find(FoldedName(name));
        if (found == index_.end()) return std::nullopt;
        return Position(found->second.front());
    }

    // Value of the first entry named `name`, or nullptr.
    T* Find(std::string_view name) {
        auto i = IndexOf(name);
        return i ? &entries_[*i].value : nullptr;
    }
    const T* Find(std::string_view name) const {
        auto i = IndexOf(name);
        return i ? &entries_[*i].value : nullptr;
    }

    // Index of the entry holding `value` (compared with ==).
    std::optional<std::size_t> IndexOfValue(const T& value) const {
        for (std::size_t i = entries_.size(); i-- > 0;) {
            if (entries_[i].value == value) return i;
        }
        return std::nullopt;
    }

    void RemoveAt(std::size_t i) {
        Unindex(entries_[i]);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Gives the entry at `i` another name; it keeps its position.
    void Rename(std::size_t i, std::string to) {
        Entry& entry = entries_[i];
        Unindex(entry);
        std::vector<std::uint64_t>& same = index_[FoldedName(to)];
        same.insert(std::lower_bound(same.begin(), same.end(), entry.order), entry.order);
        entry.name = std::move(to);
    }

private:
    std::size_t Position(std::uint64_t order) const {
        auto at = std::lower_bound(entries_.begin(), entries_.end(), order,
                                   [](const Entry& e, std::uint64_t o) { return e.order < o; });
        return static_cast<std::size_t>(at - entries_.begin());
    }
    void Unindex(const Entry& entry) {
        auto found = index_.find(FoldedName(entry.name));
        std::vector<std::uint64_t>& same = found->second;
        same.erase(std::lower_bound(same.begin(), same.end(), entry.order));
        if (same.empty()) index_.erase(found);
    }

    std::vector<Entry> entries_;
    // Folded name to the orders of the entries with that name, ascending.
    std::unordered_map<std::string, std::vector<std::uint64_t>> index_;
    std::uint64_t nextOrder_ = 0;
};

}  // namespace nelv
