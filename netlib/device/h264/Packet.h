#pragma once

#include "zqnet/zqtypes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <endian.h>
#include <string_view>
#include <vector>

// Framing of the H.264 camera protocol: int32 command, the magic "ZQNT", int32 payload length,
// payload. All integers little-endian.
namespace zq::h264 {

inline constexpr int kHeaderSize = 12;
inline constexpr int kMediaHeaderSize = 36;
inline constexpr int kMaxTalkBytes = 960;
inline constexpr int kRecordInfoSize = 52;

enum Command : int32_t {
    // Sent by the library.
    kMediaLogin = 0,
    kMediaLogout = 1,
    kStartVideo = 2,
    kStopVideo = 3,
    kOpenAudio = 4,
    kCloseAudio = 5,
    kTalkAudio = 6,
    kPlaybackLogin = 7,
    kPlaybackLogout = 8,
    kPlaybackSeek = 9,
    kPlaybackPause = 10,
    kPlaybackResume = 11,
    kControlLogin = 12,
    kControlRequest14 = 14,
    kKeepAlive = 15,
    // Received on the media channel.
    kMediaStatus = 16,
    kTalkGranted = 20,
    kTalkEnded = 21,
    kRecordInfo = 22,
    kSeekReached = 24,
    kRecordEnd = 25,
    kVideoFrame = 26,
    kAudioFrame = 27,
    // Received on the control channel.
    kLoginReply = 100,
};

inline int32_t readInt(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return static_cast<int32_t>(le32toh(value));
}

inline void writeInt(uint8_t* at, int32_t value) {
    const uint32_t little = htole32(static_cast<uint32_t>(value));
    std::memcpy(at, &little, sizeof little);
}

bool isHeader(const uint8_t* bytes);
// Whole packet size (header + payload) or -1 for a negative length.
long packetSize(const uint8_t* bytes);
int32_t commandOf(const uint8_t* packet);
std::vector<uint8_t> makePacket(int32_t command, int& length);

// Copies a text field of a caller record (which need not be NUL-terminated) into a zeroed
// fixed-width field, always leaving a terminating NUL.
void putText(uint8_t* field, size_t width, std::string_view text);
std::string_view fieldText(const char* field, size_t capacity);

// Requests.
std::vector<uint8_t> liveRequest(int32_t command, const DEVICE_PARAM& param);  // 0-3
std::vector<uint8_t> audioRequest(int32_t command, const DEVICE_PARAM& param); // 4, 5, 8
std::vector<uint8_t> playbackLogin(const DEVICE_PARAM& param, int32_t recordKind,
                                   std::string_view fileName);
std::vector<uint8_t> controlLogin(const DEVICE_PARAM& param);
std::vector<uint8_t> keepAlive(const DEVICE_PARAM& param);
std::vector<uint8_t> seekRequest(int32_t targetMs);
std::vector<uint8_t> emptyRequest(int32_t command);

// A media frame packet (26 video, 27 audio) checked against its header words.
struct MediaFrame {
    const uint8_t* header; // the nine header words
    const uint8_t* data;
    int32_t length;
};
// False when the packet is too short or its lengths disagree.
bool parseMediaFrame(const uint8_t* packet, size_t size, MediaFrame& frame);
// Fills the caller's frame record from a checked media frame.
void fillFrameHead(int32_t mediaType, const MediaFrame& frame, FRAME_HEAD& head);

} // namespace zq::h264
