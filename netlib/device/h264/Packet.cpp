#include "device/h264/Packet.h"

#include <endian.h>

#include <algorithm>

namespace zq::h264 {

namespace {

constexpr char kMagic[4] = {'Z', 'Q', 'N', 'T'};
constexpr size_t kNameField = 64;

} // namespace

bool isHeader(const uint8_t* bytes) {
    return std::memcmp(bytes + 4, kMagic, 4) == 0;
}

long packetSize(const uint8_t* bytes) {
    const int32_t payload = readInt(bytes + 8);
    return payload < 0 ? -1 : static_cast<long>(payload) + kHeaderSize;
}

int32_t commandOf(const uint8_t* packet) {
    return readInt(packet);
}

std::vector<uint8_t> makePacket(int32_t command, int& length) {
    std::vector<uint8_t> packet(static_cast<size_t>(kHeaderSize + std::max(length, 0)), 0);
    writeInt(packet.data(), command);
    std::memcpy(packet.data() + 4, kMagic, 4);
    writeInt(packet.data() + 8, std::max(length, 0));
    length = static_cast<int>(packet.size());
    return packet;
}

void putText(uint8_t* field, size_t width, std::string_view text) {
    const size_t n = std::min(text.size(), width - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, width - n);
}

std::string_view fieldText(const char* field, size_t capacity) {
    return {field, strnlen(field, capacity)};
}

namespace {

std::string_view userOf(const DEVICE_PARAM& p) {
    return fieldText(p.user, sizeof p.user);
}
std::string_view passwordOf(const DEVICE_PARAM& p) {
    return fieldText(p.password, sizeof p.password);
}

std::vector<uint8_t> packetWithPayload(int32_t command, int payloadLength) {
    int length = payloadLength;
    return makePacket(command, length);
}

} // namespace

std::vector<uint8_t> liveRequest(int32_t command, const DEVICE_PARAM& param) {
    auto packet = packetWithPayload(command, 161);
    uint8_t* payload = packet.data() + kHeaderSize;
    payload[0] = param.streamType;
    putText(payload + 1, kNameField, userOf(param));
    putText(payload + 65, kNameField, passwordOf(param));
    if (command == kMediaLogin)
        writeInt(payload + 129, param.id);
    return packet;
}

std::vector<uint8_t> audioRequest(int32_t command, const DEVICE_PARAM& param) {
    auto packet = packetWithPayload(command, 160);
    uint8_t* payload = packet.data() + kHeaderSize;
    putText(payload, kNameField, userOf(param));
    putText(payload + 64, kNameField, passwordOf(param));
    if (command == kOpenAudio)
        writeInt(payload + 128, param.id);
    return packet;
}

std::vector<uint8_t> playbackLogin(const DEVICE_PARAM& param, int32_t recordKind,
                                   std::string_view fileName) {
    auto packet = packetWithPayload(kPlaybackLogin, 228);
    uint8_t* payload = packet.data() + kHeaderSize;
    writeInt(payload, recordKind);
    putText(payload + 4, kNameField, fileName);
    putText(payload + 68, kNameField, userOf(param));
    putText(payload + 132, kNameField, passwordOf(param));
    writeInt(payload + 196, param.id);
    return packet;
}

std::vector<uint8_t> controlLogin(const DEVICE_PARAM& param) {
    auto packet = packetWithPayload(kControlLogin, 164);
    uint8_t* payload = packet.data() + kHeaderSize;
    putText(payload, kNameField, userOf(param));
    putText(payload + 64, kNameField, passwordOf(param));
    writeInt(payload + 128, param.id);
    return packet;
}

std::vector<uint8_t> keepAlive(const DEVICE_PARAM& param) {
    auto packet = packetWithPayload(kKeepAlive, 4);
    writeInt(packet.data() + kHeaderSize, param.id);
    return packet;
}

std::vector<uint8_t> seekRequest(int32_t targetMs) {
    auto packet = packetWithPayload(kPlaybackSeek, 4);
    writeInt(packet.data() + kHeaderSize, targetMs);
    return packet;
}

std::vector<uint8_t> emptyRequest(int32_t command) {
    return packetWithPayload(command, 0);
}

bool parseMediaFrame(const uint8_t* packet, size_t size, MediaFrame& frame) {
    if (size < static_cast<size_t>(kHeaderSize + kMediaHeaderSize))
        return false;
    const int32_t command = commandOf(packet);
    const int32_t payloadLength = readInt(packet + 8);
    const uint8_t* header = packet + kHeaderSize;
    // Word 2 carries the video length, word 3 the audio length.
    const int32_t dataLength = readInt(header + (command == kVideoFrame ? 8 : 12));
    if (dataLength < 0 ||
        static_cast<int64_t>(payloadLength) != static_cast<int64_t>(dataLength) + kMediaHeaderSize)
        return false;
    frame.header = header;
    frame.data = header + kMediaHeaderSize;
    frame.length = dataLength;
    return true;
}

void fillFrameHead(int32_t mediaType, const MediaFrame& frame, FRAME_HEAD& head) {
    head = FRAME_HEAD{};
    head.type = mediaType;
    head.cameraWord0 = readInt(frame.header);
    head.cameraWord1 = readInt(frame.header + 4);
    head.frameRate = readInt(frame.header + 28);
    head.length = frame.length;
    head.keyFrame = readInt(frame.header + 16);
    head.cameraWord8 = readInt(frame.header + 32);
    head.keyFrame2 = head.keyFrame;
    head.zero = 0;
    head.data = const_cast<char*>(reinterpret_cast<const char*>(frame.data));
}

} // namespace zq::h264
