#include "search/SearchAnswer.h"

#include "search/SearchWire.h"

#include <cstdio>
#include <cstring>

namespace zq::search {

namespace {

constexpr size_t kUidMaxBytes = 128; // the camera record keeps 129 bytes with the zero

// Text up to the first zero, never past `limit` bytes.
std::string boundedText(const uint8_t* at, size_t limit) {
    const void* zero = std::memchr(at, 0, limit);
    const size_t length =
        zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - at) : limit;
    return std::string(reinterpret_cast<const char*>(at), length);
}

std::string dotted(const uint8_t* at) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", at[0], at[1], at[2], at[3]);
    return text;
}

} // namespace

std::optional<SearchAnswer> parseContent(const uint8_t* data, size_t size) {
    if (size <= content::kMinBytes)
        return std::nullopt;
    SearchAnswer answer;
    answer.mac = boundedText(data + content::kMac, content::kName - content::kMac);
    // Flag-0 names are UTF-8; this host's text is UTF-8 too, so every name is taken as it is.
    answer.name = boundedText(data + content::kName, content::kNameBytes);
    answer.address = dotted(data + content::kAddress);
    answer.extra1 = dotted(data + content::kExtra1);
    answer.extra2 = dotted(data + content::kExtra2);
    answer.webPort =
        static_cast<uint16_t>(data[content::kWebPort] << 8 | data[content::kWebPort + 1]);
    const uint8_t flag = data[content::kFlag];
    if (flag == 0) {
        answer.type = kTypeMjpeg;
        answer.mediaPort = answer.webPort;
        return answer;
    }
    answer.type = kTypeH264;
    // Stored as the camera's own (little-endian) short.
    answer.mediaPort =
        static_cast<uint16_t>(data[content::kMediaPort] | data[content::kMediaPort + 1] << 8);
    if (flag == 2 && size > content::kUidMinBytes) {
        const size_t room = size - content::kUid;
        answer.uid = boundedText(data + content::kUid, room < kUidMaxBytes ? room : kUidMaxBytes);
    }
    return answer;
}

std::optional<SearchAnswer> parseRecord(const uint8_t* data, size_t size) {
    if (size != kRecordBytes || data[0] != 0xB4 || data[1] != 0x9A || data[2] != 0x70 ||
        data[3] != 0x4D)
        return std::nullopt;
    SearchAnswer answer;
    answer.type = kTypeRecordCamera;
    answer.address = dotted(data + kRecordNumbersOffset);
    answer.mac = boundedText(data + kRecordStringOffsets[0], kRecordStringBytes);
    answer.extra2 = boundedText(data + kRecordStringOffsets[1], kRecordStringBytes);
    answer.extra1 = boundedText(data + kRecordStringOffsets[2], kRecordStringBytes);
    answer.name = boundedText(data + kRecordStringOffsets[3], kRecordStringBytes);
    answer.webPort =
        static_cast<uint16_t>(data[kRecordPortOffset] | data[kRecordPortOffset + 1] << 8);
    answer.mediaPort = answer.webPort;
    return answer;
}

} // namespace zq::search
