#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace camsim {

// Every integer of the camera protocol is little-endian, whatever the host's byte order.

inline void putLe32(uint8_t* out, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v >> 16);
    out[3] = static_cast<uint8_t>(v >> 24);
}

inline int32_t getLe32(const uint8_t* in) {
    const uint32_t v = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                       (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
    return static_cast<int32_t>(v);
}

// A text field of fixed width: the bytes up to the first NUL, or all `width` bytes when the client
// filled the field completely (never reads past the field).
inline std::string_view fixedText(const uint8_t* field, size_t width) {
    const auto* text = reinterpret_cast<const char*>(field);
    return {text, strnlen(text, width)};
}

// Copies `text` into a zero-filled field of `width` bytes, keeping at least one terminating NUL.
inline void putFixedText(uint8_t* field, size_t width, std::string_view text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), text.size() < width ? text.size() : width - 1);
}

} // namespace camsim
