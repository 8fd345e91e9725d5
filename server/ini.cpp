#include "server/ini.h"

#include "base/int_text.h"
#include "base/names.h"

namespace nelv::server {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    Section* current = nullptr;
    while (!text.empty()) {
        std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (std::size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
        line = Trim(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            ini.sections_.push_back({std::string(name), {}});
            current = &ini.sections_.back();
            continue;
        }
        if (!current) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty()) continue;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (value.size() > kMaxValue) value = value.substr(0, kMaxValue);
        current->keys.emplace_back(std::string(key), std::string(value));
    }
    return ini;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
    for (const Section& s : sections_) {
        if (SameName(s.name, name)) return &s;
    }
    return nullptr;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return std::nullopt;
    for (const auto& [k, v] : s->keys) {
        if (SameName(k, key)) return v;
    }
    return std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
    auto v = Get(section, key);
    return v ? *v : std::string(fallback);
}

std::int32_t IniInteger(std::string_view value, std::int32_t fallback) {
    if (value.size() >= 3 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        std::string hex = "$";
        hex.append(value.substr(2));
        return IntTextOr(hex, fallback);
    }
    return IntTextOr(value, fallback);
}

std::int32_t IniFile::GetInteger(std::string_view section, std::string_view key,
                                 std::int32_t fallback) const {
    auto v = Get(section, key);
    return v ? IniInteger(*v, fallback) : fallback;
}

bool IniFile::GetBool(std::string_view section, std::string_view key, bool fallback) const {
    return GetInteger(section, key, fallback ? 1 : 0) != 0;
}

std::vector<std::string> IniFile::SectionLines(std::string_view section) const {
    std::vector<std::string> lines;
    const Section* s = FindSection(section);
    if (!s) return lines;
    std::vector<std::string> names;
    std::size_t nameBytes = 0;
    for (const auto& entry : s->keys) {
        const std::string& key = entry.first;
        bool seen = false;
        for (const std::string& n : names) seen = seen || SameName(n, key);
        if (seen) continue;
        if (nameBytes + key.size() + 1 > kMaxKeyNames) break;
        nameBytes += key.size() + 1;
        names.push_back(key);
    }
    for (const std::string& key : names) {
        std::string value = GetString(section, key, "");
        if (!value.empty()) lines.push_back(key + "=" + value);
    }
    return lines;
}

std::vector<std::string> SplitRuleList(std::string_view text) {
    std::vector<std::string> entries;
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    while (i < text.size()) {
        std::string entry;
        if (text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        entry += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                entry += text[i++];
            }
        } else {
            while (i < text.size() && !isSpace(text[i]) && text[i] != ',') entry += text[i++];
        }
        entries.push_back(std::move(entry));
        while (i < text.size() && isSpace(text[i])) ++i;
        if (i < text.size() && text[i] == ',') {
            do {
                ++i;
            } while (i < text.size() && isSpace(text[i]));
        }
    }
    return entries;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        lines.emplace_back(text.substr(start, i - start));
        if (i < text.size()) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            ++i;
        }
    }
    return lines;
}

}  // namespace nelv::server
