#pragma once

// The records of the public header on the wire: search answers, the set-up request, the
// parameter record (request 6 / answer 5), the network record (request 19 / answer 18), and
// the checks the library applies before it sends any of them.

#include "moltrex/moltrex.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace moltrex {

// The value the search and set-up requests carry first: the protocol version the library speaks.
inline constexpr uint32_t kProtocolVersion = 0x01000000;
inline constexpr uint16_t kSearchPort = 10000;
// Payload of a search answer: id, name, four addresses, a value without meaning, two versions,
// the port.
inline constexpr size_t kSearchAnswerBytes = 13 + 21 + 4 * 4 + 4 + 4 + 4 + 2;
inline constexpr size_t kNet2WireBytes = 92;

// Camera ids: exactly 12 characters.
bool validCameraId(const char* id);
// User names and passwords: at most 12 characters.
bool validCredential(const char* text);

// The address rules of set-up and parameters, on host-order values: a non-zero address must be
// a unicast address (above 0.255.255.255, below 224.0.0.0); the mask one run of ones from the
// top bit covering at least the top three bits; the address not the network address under the
// mask; address and gateway in the same network; the DNS server a unicast address. An address of
// 0 passes whatever the others hold (they are cleared before sending).
bool isUnicast(uint32_t address);
bool isValidMask(uint32_t mask);
bool validNetwork(uint32_t address, uint32_t mask, uint32_t gateway, uint32_t dns);

// A search answer's payload (opcode 1) as a record; nullopt when it is too short.
std::optional<MO_SEARCH_RECORD> parseSearchAnswer(const std::vector<uint8_t>& payload);
std::vector<uint8_t> encodeSearchRequest();
// The set-up request's payload (opcode 2); nullopt when the record fails the checks. An address
// of 0 sends mask, gateway and DNS as 0.
std::optional<std::vector<uint8_t>> encodeSetupRequest(const MO_INIT_RECORD& record);

// SetCameraParams: checks `params` and returns the normalised copy, or nullopt on a failed check.
std::optional<MO_CAMERA_PARAMS> normaliseCameraParams(const MO_CAMERA_PARAMS& params);
// Fields 1-56, packed: exactly MO_PARAMS_WIRE_SIZE bytes.
std::vector<uint8_t> packCameraParams(const MO_CAMERA_PARAMS& params);
// An answer 5 payload; nullopt when shorter than the packed record. Texts are cut to their
// fields, the leading block is zero.
std::optional<MO_CAMERA_PARAMS> unpackCameraParams(const std::vector<uint8_t>& payload);

bool validNet2Params(const MO_NET2_PARAMS& params);
std::vector<uint8_t> packNet2Params(const MO_NET2_PARAMS& params);
std::optional<MO_NET2_PARAMS> unpackNet2Params(const std::vector<uint8_t>& payload);

} // namespace moltrex
