// Name comparison and the name-keyed lists of the server.
// Every lookup of a nickname, room name, section or key goes through
// SameName, which ignores letter case the way the chat's 8-bit text
// (Windows-1252) defines it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nelv {

// Folds one Windows-1252 byte to its upper-case form (a-z, the accented
// Latin-1 letters, and the four letters the code page places in 0x80-0x9F).
unsigned char FoldCase(unsigned char c);

// True when a and b are equal ignoring letter case.
bool SameName(std::string_view a, std::string_view b);

// True for a nickname of 1 to 20 bytes, each above 0x20 and not 0xA0.
bool ValidNickname(std::string_view nickname);

// An unsorted list of (name, value) entries in insertion order. Lookups are
// linear, case-insensitive, and the first match wins. Positions never shift
// except on Remove. Not thread-safe: the owner's lock guards it.
template <typename T>
class NamedList {
public:
    struct Entry {
        std::string name;
        T value;
    };

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    Entry& operator[](std::size_t i) { return entries_[i]; }
    const Entry& operator[](std::size_t i) const { return entries_[i]; }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    void Append(std::string name, T value) { entries_.push_back({std::move(name), std::move(value)}); }

    // Index of the first entry named `name` (ignoring case), if any.
    std::optional<std::size_t> IndexOf(std::string_view name) const {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (SameName(entries_[i].name, name)) return i;
        }
        return std::nullopt;
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

    // Index of the first entry holding `value` (compared with ==).
    std::optional<std::size_t> IndexOfValue(const T& value) const {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].value == value) return i;
        }
        return std::nullopt;
    }

    void RemoveAt(std::size_t i) { entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i)); }

    // Removes the first entry named `name`; false when there is none.
    bool Remove(std::string_view name) {
        auto i = IndexOf(name);
        if (!i) return false;
        RemoveAt(*i);
        return true;
    }

    // Renames the first entry named `from` in place; false when there is none.
    bool Rename(std::string_view from, std::string to) {
        auto i = IndexOf(from);
        if (!i) return false;
        entries_[*i].name = std::move(to);
        return true;
    }

private:
    std::vector<Entry> entries_;
};

}  // namespace nelv
