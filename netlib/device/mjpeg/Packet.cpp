#include "device/mjpeg/Packet.h"

#include <algorithm>

namespace zq::mjpeg {

namespace {

constexpr char kOperation[4] = {'M', 'O', '_', 'O'};
constexpr char kVideo[4] = {'M', 'O', '_', 'V'};
constexpr size_t kNameField = 13; // 12 characters and a NUL
constexpr size_t kPictureHeader = 13;
constexpr size_t kAudioHeader = 17;

void putName(uint8_t* field, std::string_view text) {
    const size_t n = std::min(text.size(), kNameField - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, kNameField - n);
}

} // namespace

bool isHeader(Magic magic, const uint8_t* bytes) {
    return std::memcmp(bytes, magic == Magic::Operation ? kOperation : kVideo, 4) == 0;
}

long packetSize(const uint8_t* bytes) {
    const int32_t length = readInt(bytes + 15);
    // The length is written twice; a header whose copies differ is not a header at all.
    if (length < 0 || length > kMaxContent || readInt(bytes + 19) != length)
        return -1;
    return static_cast<long>(length) + kHeaderSize;
}

uint16_t opcodeOf(const uint8_t* packet) {
    return readShort(packet + 4);
}

std::vector<uint8_t> makePacket(Magic magic, uint16_t opcode, int32_t contentLength) {
    const int32_t content = std::max(contentLength, 0);
    std::vector<uint8_t> packet(static_cast<size_t>(kHeaderSize + content), 0);
    std::memcpy(packet.data(), magic == Magic::Operation ? kOperation : kVideo, 4);
    const uint16_t little = htole16(opcode);
    std::memcpy(packet.data() + 4, &little, sizeof little);
    writeInt(packet.data() + 15, content);
    writeInt(packet.data() + 19, content);
    return packet;
}

std::vector<uint8_t> emptyRequest(uint16_t opcode) {
    return makePacket(Magic::Operation, opcode, 0);
}

std::vector<uint8_t> flagRequest(uint16_t opcode) {
    auto packet = makePacket(Magic::Operation, opcode, 1);
    packet[kHeaderSize] = 1;
    return packet;
}

std::vector<uint8_t> verifyRequest(std::string_view user, std::string_view password) {
    auto packet = makePacket(Magic::Operation, kVerifyRequest, 2 * kNameField);
    putName(packet.data() + kHeaderSize, user);
    putName(packet.data() + kHeaderSize + kNameField, password);
    return packet;
}

std::vector<uint8_t> decoderControl(uint8_t code) {
    auto packet = makePacket(Magic::Operation, kDecoderControl, 1);
    packet[kHeaderSize] = code;
    return packet;
}

std::vector<uint8_t> mediaLogin(int32_t connectionId) {
    auto packet = makePacket(Magic::Video, kMediaLogin, 4);
    writeInt(packet.data() + kHeaderSize, connectionId);
    return packet;
}

void fillTalk(uint8_t* packet, int32_t tickMs, int32_t serial, int32_t nowSeconds, uint8_t format,
              const uint8_t* audio) {
    const auto header = makePacket(Magic::Video, kTalkData, kTalkContent);
    std::memcpy(packet, header.data(), kHeaderSize);
    uint8_t* content = packet + kHeaderSize;
    writeInt(content, tickMs);
    writeInt(content + 4, serial);
    writeInt(content + 8, nowSeconds);
    content[12] = format;
    writeInt(content + 13, kTalkBytes);
    std::memcpy(content + 17, audio, kTalkBytes);
}

bool parseReply(const uint8_t* content, size_t length, Reply& reply) {
    if (length < 2)
        return false;
    reply.result = readShort(content);
    reply.connectionId = length >= 6 ? readInt(content + 2) : 0;
    return true;
}

bool parsePicture(const uint8_t* content, size_t length, MediaFrame& frame) {
    if (length < kPictureHeader)
        return false;
    const int32_t dataLength = readInt(content + 9);
    if (dataLength < 0 || static_cast<size_t>(dataLength) > length - kPictureHeader)
        return false;
    frame.timeStamp = readInt(content);
    frame.second = readInt(content + 4);
    frame.third = content[8];
    frame.format = 0;
    frame.length = dataLength;
    frame.data = content + kPictureHeader;
    return true;
}

bool parseAudio(const uint8_t* content, size_t length, MediaFrame& frame) {
    if (length < kAudioHeader)
        return false;
    const int32_t dataLength = readInt(content + 13);
    if (dataLength < 0 || static_cast<size_t>(dataLength) > length - kAudioHeader)
        return false;
    frame.timeStamp = readInt(content);
    frame.second = readInt(content + 4);
    frame.third = readInt(content + 8);
    frame.format = content[12];
    frame.length = dataLength;
    frame.data = content + kAudioHeader;
    return true;
}

void fillPictureHead(const MediaFrame& frame, FRAME_HEAD& head) {
    head = FRAME_HEAD{};
    head.type = 1;
    head.cameraWord0 = frame.timeStamp;
    head.cameraWord1 = 0;
    head.frameRate = 23;
    head.length = frame.length;
    head.keyFrame = 1;
    head.cameraWord8 = frame.length * 8;
    head.keyFrame2 = frame.third;
    head.zero = 0;
    head.data = const_cast<char*>(reinterpret_cast<const char*>(frame.data));
}

void fillAudioHead(const MediaFrame& frame, FRAME_HEAD& head) {
    head = FRAME_HEAD{};
    head.type = frame.format;
    head.cameraWord0 = frame.timeStamp;
    head.cameraWord1 = 0;
    head.frameRate = frame.third;
    head.length = frame.length;
    head.keyFrame2 = frame.second;
    head.zero = 0;
    head.data = const_cast<char*>(reinterpret_cast<const char*>(frame.data));
}

} // namespace zq::mjpeg
