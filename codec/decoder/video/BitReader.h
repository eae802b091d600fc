#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vidora {

// Reads bits most significant first from a NAL unit payload whose emulation-prevention bytes
// have been removed. Reading past the end sets failed() and yields zeros, so a parser can read
// its fields in a row and check once.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint32_t bits(int count);
    bool flag() { return bits(1) != 0; }
    void skip(int count) { bits(count); }
    // Exp-Golomb codes; values that need more than 31 leading zeros fail.
    uint32_t ue();
    int32_t se();

    // For a parser that finds a field out of range.
    void fail() { failed_ = true; }
    bool failed() const { return failed_; }

private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0; // in bits
    bool failed_ = false;
};

// The payload of a NAL unit with every 00 00 03 sequence turned back into 00 00; at most
// `limit` output bytes.
std::vector<uint8_t> unescapeNal(std::span<const uint8_t> nal, size_t limit);

} // namespace vidora
