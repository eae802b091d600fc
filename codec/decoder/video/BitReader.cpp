#include "video/BitReader.h"

#include <algorithm>

namespace vidora {

uint32_t BitReader::bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        if (position_ >= bytes_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const uint8_t byte = bytes_[position_ / 8];
        value = (value << 1) | ((byte >> (7 - position_ % 8)) & 1u);
        ++position_;
    }
    return value;
}

uint32_t BitReader::ue() {
    int zeros = 0;
    while (!failed_ && bits(1) == 0) {
        if (++zeros > 31) {
            failed_ = true;
        }
    }
    if (failed_) {
        return 0;
    }
    if (zeros == 0) {
        return 0;
    }
    // 2^zeros - 1 + the next `zeros` bits; with 31 zeros this still fits 32 bits.
    return ((1u << zeros) - 1u) + bits(zeros);
}

int32_t BitReader::se() {
    const uint32_t code = ue();
    const auto magnitude = static_cast<int32_t>((code >> 1) + (code & 1));
    return (code & 1) ? magnitude : -magnitude;
}

std::vector<uint8_t> unescapeNal(std::span<const uint8_t> nal, size_t limit) {
    std::vector<uint8_t> out;
    out.reserve(std::min(nal.size(), limit));
    int zeros = 0;
    for (const uint8_t byte : nal) {
        if (out.size() >= limit) {
            break;
        }
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    return out;
}

} // namespace vidora
