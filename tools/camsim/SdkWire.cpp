#include "SdkWire.h"

#include "sys/Tick.h"

#include <atomic>
#include <cstring>

namespace camsim::sdkwire {

namespace {

constexpr int kRestMs = 5000;

// Keys only need to differ from message to message; a counter through a mixer does.
void freshKey(uint8_t key[8]) {
    static std::atomic<uint64_t> counter{0x9E3779B97F4A7C15ull};
    uint64_t value = counter.fetch_add(0x9E3779B97F4A7C15ull);
    value ^= value >> 31;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 29;
    for (int i = 0; i < 8; ++i) {
        key[i] = static_cast<uint8_t>(value >> (8 * i));
        if (key[i] == 0)
            key[i] = static_cast<uint8_t>(0x5A + i); // every byte changes the payload
    }
}

bool readExactly(Link& link, uint8_t* out, size_t size, int firstWaitMs,
                 const std::function<bool()>& stop, bool& idle) {
    size_t got = 0;
    idle = false;
    const uint32_t start = sys::tickMs();
    while (got < size) {
        if (stop && stop())
            return false;
        const int n = link.receive(out + got, size - got, 50);
        if (n < 0)
            return false;
        got += static_cast<size_t>(n);
        const uint32_t limit =
            got == 0 && firstWaitMs >= 0 ? static_cast<uint32_t>(firstWaitMs) : kRestMs;
        if (n == 0 && sys::elapsedMs(start) >= limit) {
            idle = got == 0;
            return false;
        }
    }
    return true;
}

} // namespace

void xorKey(uint8_t* payload, size_t size, const uint8_t key[8]) {
    for (size_t i = 0; i < size; ++i)
        payload[i] ^= key[i % 8];
}

std::vector<uint8_t> encode(const char* tag, uint16_t opcode, const std::vector<uint8_t>& payload,
                            bool scramble) {
    std::vector<uint8_t> out(kHeader + payload.size(), 0);
    std::memcpy(out.data(), tag, 4);
    out[4] = static_cast<uint8_t>(opcode);
    out[5] = static_cast<uint8_t>(opcode >> 8);
    uint8_t key[8] = {};
    if (scramble) {
        freshKey(key);
        out[6] = 1;
        std::memcpy(out.data() + 7, key, 8);
    }
    const auto length = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) {
        out[15 + i] = static_cast<uint8_t>(length >> (8 * i));
        out[19 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    if (!payload.empty())
        std::memcpy(out.data() + kHeader, payload.data(), payload.size());
    if (scramble)
        xorKey(out.data() + kHeader, payload.size(), key);
    return out;
}

std::optional<Message> decodeDatagram(const uint8_t* data, size_t size, const char* tag) {
    if (size < kHeader || std::memcmp(data, tag, 4) != 0)
        return std::nullopt;
    std::vector<uint8_t> head(data, data + kHeader);
    const uint32_t length = get32(head, 15);
    if (length != get32(head, 19) || length != size - kHeader)
        return std::nullopt;
    Message message;
    message.opcode = get16(head, 4);
    message.payload.assign(data + kHeader, data + size);
    if (data[6] == 1)
        xorKey(message.payload.data(), message.payload.size(), data + 7);
    return message;
}

ReadResult read(Link& link, const char* tag, size_t maxPayload, int idleMs,
                const std::function<bool()>& stop, Message& out, std::string* tagOut) {
    uint8_t head[kHeader];
    bool idle = false;
    if (!readExactly(link, head, kHeader, idleMs, stop, idle))
        return idle ? ReadResult::Idle : ReadResult::Closed;
    const std::vector<uint8_t> header(head, head + kHeader);
    if (std::memcmp(head, "MO_", 3) != 0 || (tag != nullptr && std::memcmp(head, tag, 4) != 0))
        return ReadResult::Bad;
    const uint32_t length = get32(header, 15);
    if (length != get32(header, 19) || length > maxPayload)
        return ReadResult::Bad;
    out.opcode = get16(header, 4);
    out.payload.assign(length, 0);
    if (length > 0 && !readExactly(link, out.payload.data(), length, kRestMs, stop, idle))
        return ReadResult::Closed;
    if (head[6] == 1)
        xorKey(out.payload.data(), out.payload.size(), head + 7);
    if (tagOut != nullptr)
        tagOut->assign(reinterpret_cast<const char*>(head), 4);
    return ReadResult::Message;
}

bool sendAll(Link& link, const std::vector<uint8_t>& bytes, const std::function<bool()>& stop) {
    size_t sent = 0;
    const uint32_t start = sys::tickMs();
    while (sent < bytes.size()) {
        if ((stop && stop()) || sys::elapsedMs(start) >= kRestMs)
            return false;
        const int n = link.send(bytes.data() + sent, bytes.size() - sent, 50);
        if (n < 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putText(std::vector<uint8_t>& out, const std::string& text, size_t width) {
    const size_t at = out.size();
    out.resize(at + width, 0);
    std::memcpy(out.data() + at, text.data(), text.size() < width ? text.size() : width - 1);
}

uint16_t get16(const std::vector<uint8_t>& in, size_t offset) {
    if (offset + 2 > in.size())
        return 0;
    return static_cast<uint16_t>(in[offset] | in[offset + 1] << 8);
}

uint32_t get32(const std::vector<uint8_t>& in, size_t offset) {
    if (offset + 4 > in.size())
        return 0;
    return static_cast<uint32_t>(in[offset]) | static_cast<uint32_t>(in[offset + 1]) << 8 |
           static_cast<uint32_t>(in[offset + 2]) << 16 |
           static_cast<uint32_t>(in[offset + 3]) << 24;
}

std::string getText(const std::vector<uint8_t>& in, size_t offset, size_t width) {
    if (offset + width > in.size())
        return {};
    const auto* text = reinterpret_cast<const char*>(in.data() + offset);
    return std::string(text, strnlen(text, width));
}

} // namespace camsim::sdkwire
