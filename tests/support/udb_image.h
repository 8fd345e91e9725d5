// Hand-built images of user database records for tests: the 466-byte
// layout written field by field, independent of the server's own encoder.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace nelv::test {

struct RecordEntry {
    std::string nickname;
    std::int32_t password = 0;
    std::string profile1, profile2, profile3;
    std::int32_t color = 0;
    std::uint8_t loginInvisible = 0;
    double registeredAt = 0.0;
    double lastLoginAt = 0.0;
    std::uint8_t enabled = 1;
    std::uint8_t privileged = 0;
};

inline void PutShortString(std::string& image, std::size_t offset, std::size_t max,
                           const std::string& text) {
    std::size_t n = text.size() < max ? text.size() : max;
    image[offset] = static_cast<char>(n);
    image.replace(offset + 1, n, text.substr(0, n));
}

inline void PutLittleEndian(std::string& image, std::size_t offset, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) image[offset + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// One record of 466 bytes.
inline std::string RecordImage(const RecordEntry& r) {
    std::string image(466, '\0');
    PutShortString(image, 0, 20, r.nickname);
    PutLittleEndian(image, 21, static_cast<std::uint32_t>(r.password), 4);
    PutShortString(image, 25, 80, r.profile1);
    PutShortString(image, 106, 80, r.profile2);
    PutShortString(image, 187, 255, r.profile3);
    PutLittleEndian(image, 443, static_cast<std::uint32_t>(r.color), 4);
    image[447] = static_cast<char>(r.loginInvisible);
    std::uint64_t bits;
    std::memcpy(&bits, &r.registeredAt, 8);
    PutLittleEndian(image, 448, bits, 8);
    std::memcpy(&bits, &r.lastLoginAt, 8);
    PutLittleEndian(image, 456, bits, 8);
    image[464] = static_cast<char>(r.enabled);
    image[465] = static_cast<char>(r.privileged);
    return image;
}

// Reads the double stored at `offset` of a record image.
inline double ImageDouble(const std::string& image, std::size_t offset) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(image[offset + static_cast<std::size_t>(i)]);
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
}

// Reads the little-endian int32 stored at `offset` of a record image.
inline std::int32_t ImageInt32(const std::string& image, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(image[offset + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(v);
}

}  // namespace nelv::test
