#pragma once

#include "Link.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

// The camera side of the SDK family's "MO_" messages: a 23-byte header (tag, opcode, scrambled
// flag, 8-byte key, payload length twice; little-endian) and the payload.
namespace sdkwire {

inline constexpr size_t kHeader = 23;

struct Message {
    uint16_t opcode = 0;
    std::vector<uint8_t> payload; // unscrambled
};

// Scrambling XORs payload byte i with key byte (i mod 8); the same call restores it.
void xorKey(uint8_t* payload, size_t size, const uint8_t key[8]);

// A whole message. With `scramble` the payload goes out XOR-ed with a fresh non-zero key.
std::vector<uint8_t> encode(const char* tag, uint16_t opcode, const std::vector<uint8_t>& payload,
                            bool scramble);
// A whole datagram with tag `tag`, or nullopt when it does not add up.
std::optional<Message> decodeDatagram(const uint8_t* data, size_t size, const char* tag);

enum class ReadResult { Message, Idle, Closed, Bad };

// Reads one message from `link`: waits up to `idleMs` for its first byte (Idle when none came),
// then at most 5 s for the rest. `tag` is the expected tag, or null to accept any "MO_" tag
// (written to `tagOut`). Payloads above `maxPayload` are Bad. `stop` is polled between reads.
ReadResult read(Link& link, const char* tag, size_t maxPayload, int idleMs,
                const std::function<bool()>& stop, Message& out, std::string* tagOut = nullptr);

// Sends all of `bytes` within 5 s; false on failure.
bool sendAll(Link& link, const std::vector<uint8_t>& bytes, const std::function<bool()>& stop);

// Payload building and reading, little-endian.
void put16(std::vector<uint8_t>& out, uint16_t value);
void put32(std::vector<uint8_t>& out, uint32_t value);
void putText(std::vector<uint8_t>& out, const std::string& text, size_t width);
uint16_t get16(const std::vector<uint8_t>& in, size_t offset);
uint32_t get32(const std::vector<uint8_t>& in, size_t offset);
std::string getText(const std::vector<uint8_t>& in, size_t offset, size_t width);

} // namespace sdkwire
} // namespace camsim
