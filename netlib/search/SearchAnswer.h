#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zq::search {

// What the client takes from one search answer (a camera record in the making).
struct SearchAnswer {
    std::string mac;
    std::string name;
    std::string address; // dotted IPv4
    std::string extra1;  // dotted IPv4 text
    std::string extra2;  // dotted IPv4 text
    std::string uid;     // empty unless the camera has an identifier
    uint16_t mediaPort = 0;
    uint16_t webPort = 0;
    int type = 0; // device type code: 16 MJPEG, 17 H.264, 18 second-format camera
};

// Offsets in the content of a "MO_I" reply.
namespace content {
inline constexpr size_t kMac = 0;
inline constexpr size_t kName = 13;
inline constexpr size_t kNameBytes = 21;
inline constexpr size_t kAddress = 34;
inline constexpr size_t kFlag = 50;
inline constexpr size_t kMediaPort = 52;
inline constexpr size_t kExtra1 = 54;
inline constexpr size_t kExtra2 = 58;
inline constexpr size_t kWebPort = 62;
inline constexpr size_t kUid = 65;
// Content this short (or shorter) carries no camera.
inline constexpr size_t kMinBytes = 64;
// The identifier flag counts only in content longer than this.
inline constexpr size_t kUidMinBytes = 97;
} // namespace content

inline constexpr int kTypeMjpeg = 16;
inline constexpr int kTypeH264 = 17;
inline constexpr int kTypeRecordCamera = 18;
// The 16-bit port the client reads inside the last int32 of the record.
inline constexpr size_t kRecordPortOffset = 1057;

// Content of a "MO_I" reply; nullopt for content of 64 bytes or less.
std::optional<SearchAnswer> parseContent(const uint8_t* data, size_t size);
// A 1060-byte record; nullopt for any other size or magic.
std::optional<SearchAnswer> parseRecord(const uint8_t* data, size_t size);

} // namespace zq::search
