// Feeds arbitrary bytes, cut into arbitrary reads, to the frame parser that the relay and every
// session run on what arrives from the network: it must never crash, overrun or grow without
// bound, and every frame it lets through must be one our own encoder would have written.

#include "iotc/Wire.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using iotc::wire::Frame;
using iotc::wire::FrameParser;
using iotc::wire::FrameType;

void check(bool condition) {
    if (!condition)
        std::abort();
}

// The bytes a frame was cut from must be exactly what encoding it again gives.
void checkFrame(const Frame& frame, const uint8_t* stream, size_t streamSize, uint64_t at) {
    const auto encoded = iotc::wire::encodeFrame(frame.type, frame.channel, frame.payload.data(),
                                                 frame.payload.size());
    check(at + encoded.size() <= streamSize);
    check(std::memcmp(encoded.data(), stream + at, encoded.size()) == 0);
    check(iotc::wire::isWellFormedHeader(static_cast<uint8_t>(frame.type), frame.channel,
                                         static_cast<uint32_t>(frame.payload.size())));
    if (frame.type == FrameType::Register || frame.type == FrameType::Connect)
        check(iotc::wire::isValidUid(iotc::wire::uidOf(frame)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the read size, the rest is the stream.
    const size_t chunk = 1 + data[0] % 61;
    const uint8_t* stream = data + 1;
    const size_t streamSize = size - 1;

    FrameParser parser;
    Frame frame;
    bool malformed = false;
    for (size_t at = 0; at < streamSize;) {
        const size_t n = std::min({chunk, streamSize - at, parser.room()});
        check(n > 0);
        check(parser.append(stream + at, n));
        at += n;
        for (;;) {
            const uint64_t before = parser.consumed();
            const auto status = parser.next(frame);
            if (status == FrameParser::Status::Frame) {
                check(!malformed);
                checkFrame(frame, stream, streamSize, before);
                continue;
            }
            if (status == FrameParser::Status::Malformed)
                malformed = true;
            else
                check(!malformed); // once malformed, always malformed
            break;
        }
        check(parser.buffered() <= FrameParser::kMaxBuffered);
        check(parser.consumed() + parser.buffered() == at);
    }
    return 0;
}
