#pragma once

#include "zqnet/zqtypes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <endian.h>
#include <string_view>
#include <vector>

// Framing of the MJPEG camera protocol: the magic "MO_O" (control) or "MO_V" (media), uint16
// opcode, nine zero bytes, the content length twice (int32), then the content. Little-endian.
namespace zq::mjpeg {

inline constexpr int kHeaderSize = 23;
inline constexpr int kTalkBytes = 160;
// Talk content: tick, serial, time, format byte, length, then the audio.
inline constexpr int kTalkContent = 4 + 4 + 4 + 1 + 4 + kTalkBytes;
// Largest content accepted from a camera: a 640×480 JPEG is far below this; anything announcing
// more is not a camera packet.
inline constexpr int32_t kMaxContent = 900000;

enum class Magic { Operation, Video };

enum ControlOpcode : uint16_t {
    kLoginRequest = 0,
    kLoginReply = 1,
    kVerifyRequest = 2,
    kVerifyReply = 3,
    kVideoStart = 4,
    kVideoStartReply = 5,
    kVideoEnd = 6,
    kAudioStart = 8,
    kAudioStartReply = 9,
    kAudioEnd = 10,
    kTalkStart = 11,
    kTalkStartReply = 12,
    kTalkEnd = 13,
    kDecoderControl = 14,
    kNotice17 = 17,
    kNotice18 = 18,
    kNotice25 = 25,
};

enum MediaOpcode : uint16_t {
    kMediaLogin = 0,
    kPicture = 1,
    kAudio = 2,
    kTalkData = 3,
};

inline int32_t readInt(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return static_cast<int32_t>(le32toh(value));
}

inline uint16_t readShort(const uint8_t* at) {
    uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return le16toh(value);
}

inline void writeInt(uint8_t* at, int32_t value) {
    const uint32_t little = htole32(static_cast<uint32_t>(value));
    std::memcpy(at, &little, sizeof little);
}

// True when the four bytes are the given magic.
bool isHeader(Magic magic, const uint8_t* bytes);
// Whole packet size, or -1 when the two length words disagree or are out of range.
long packetSize(const uint8_t* bytes);
uint16_t opcodeOf(const uint8_t* packet);
// A zeroed packet with its header filled for `contentLength` content bytes.
std::vector<uint8_t> makePacket(Magic magic, uint16_t opcode, int32_t contentLength);

// Control requests.
std::vector<uint8_t> emptyRequest(uint16_t opcode);
std::vector<uint8_t> flagRequest(uint16_t opcode); // content: one byte = 1
std::vector<uint8_t> verifyRequest(std::string_view user, std::string_view password);
std::vector<uint8_t> decoderControl(uint8_t code);

// Media requests.
std::vector<uint8_t> mediaLogin(int32_t connectionId);
// Fills `packet` (header + kTalkContent bytes) in place, so one buffer serves every call.
void fillTalk(uint8_t* packet, int32_t tickMs, int32_t serial, int32_t nowSeconds, uint8_t format,
              const uint8_t* audio);

// A control reply: result word, and the connection id when the content carries one.
struct Reply {
    uint16_t result = 0;
    int32_t connectionId = 0;
};
// False when the content is too short for the result word.
bool parseReply(const uint8_t* content, size_t length, Reply& reply);

// A media packet (picture or audio) checked against its own length word.
struct MediaFrame {
    int32_t timeStamp = 0;
    int32_t second = 0; // frame time (picture) or serial (audio)
    int32_t third = 0;  // reserved byte (picture) or gather time (audio)
    uint8_t format = 0; // audio format byte
    int32_t length = 0;
    const uint8_t* data = nullptr;
};
bool parsePicture(const uint8_t* content, size_t length, MediaFrame& frame);
bool parseAudio(const uint8_t* content, size_t length, MediaFrame& frame);

// FRAME_HEAD records as handed to the caller. Every JPEG stands alone, so every picture is
// marked as a key frame; cameraWord8 carries the picture's byte count as its bit budget.
void fillPictureHead(const MediaFrame& frame, FRAME_HEAD& head);
void fillAudioHead(const MediaFrame& frame, FRAME_HEAD& head);

// Text of a caller record field that need not be NUL-terminated.
inline std::string_view fieldText(const char* field, size_t capacity) {
    return {field, strnlen(field, capacity)};
}

} // namespace zq::mjpeg
