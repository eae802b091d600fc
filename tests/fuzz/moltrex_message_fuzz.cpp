// libmoltrex's readers of what cameras send: "MO_" datagrams and TCP streams on every channel
// (cut at fuzzer-chosen boundaries), and every payload reader behind them: search answers,
// parameter and network records, pictures and audio blocks through the time-ordered buffer.

#include "FrameOrder.h"
#include "Message.h"
#include "Records.h"

#include <cstddef>
#include <cstdint>

using namespace moltrex;

namespace {

void readPayload(const Message& message, FrameOrder& order, std::vector<Released>& out) {
    (void)parseSearchAnswer(message.payload);
    (void)unpackCameraParams(message.payload);
    (void)unpackNet2Params(message.payload);
    if (auto frame = parseVideoFrame(message))
        order.push(std::move(*frame), out);
    out.clear();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // First byte: the channel (low 2 bits) and the size of the pieces the stream arrives in.
    const auto channel = static_cast<Channel>(data[0] & 3);
    const size_t piece = 1 + (data[0] >> 2);
    ++data;
    --size;

    FrameOrder order(40, 1000, 16, 1 << 16);
    std::vector<Released> out;
    if (auto datagram = parseDatagram(data, size, channel))
        readPayload(*datagram, order, out);

    StreamReader reader(channel);
    size_t offset = 0;
    while (offset < size) {
        const size_t length = size - offset < piece ? size - offset : piece;
        offset += reader.feed(data + offset, length);
        Message message;
        StreamReader::Result result;
        while ((result = reader.next(message)) == StreamReader::Result::Message)
            readPayload(message, order, out);
        if (result == StreamReader::Result::Broken)
            break;
    }
    order.flush(out);
    return 0;
}
