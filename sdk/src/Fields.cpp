#include "Fields.h"

#include <cstring>

namespace moltrex {

bool FieldReader::take(size_t size) {
    if (!m_ok || size > m_size - m_offset) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t FieldReader::u8() {
    if (!take(1))
        return 0;
    return m_data[m_offset++];
}

uint16_t FieldReader::u16() {
    if (!take(2))
        return 0;
    const uint8_t* at = m_data + m_offset;
    m_offset += 2;
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t FieldReader::u32() {
    if (!take(4))
        return 0;
    const uint8_t* at = m_data + m_offset;
    m_offset += 4;
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void FieldReader::bytes(void* out, size_t size) {
    if (!take(size)) {
        std::memset(out, 0, size);
        return;
    }
    if (size > 0)
        std::memcpy(out, m_data + m_offset, size);
    m_offset += size;
}

void FieldReader::text(char* out, size_t width) {
    if (width == 0)
        return;
    bytes(out, width);
    out[width - 1] = '\0';
}

void FieldReader::skip(size_t size) {
    if (take(size))
        m_offset += size;
}

uint8_t* FieldWriter::grow(size_t size) {
    const size_t used = m_bytes.size();
    if (used + size > m_bytes.capacity()) {
        const size_t needed = used + size;
        m_bytes.reserve((needed + kGrowthStep - 1) / kGrowthStep * kGrowthStep);
    }
    m_bytes.resize(used + size);
    return m_bytes.data() + used;
}

void FieldWriter::u8(uint8_t value) {
    *grow(1) = value;
}

void FieldWriter::u16(uint16_t value) {
    uint8_t* at = grow(2);
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void FieldWriter::u32(uint32_t value) {
    uint8_t* at = grow(4);
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void FieldWriter::bytes(const void* data, size_t size) {
    if (size == 0)
        return;
    std::memcpy(grow(size), data, size);
}

void FieldWriter::text(const char* text, size_t width) {
    uint8_t* at = grow(width);
    std::memset(at, 0, width);
    if (text != nullptr)
        std::memcpy(at, text, strnlen(text, width));
}

void FieldWriter::zeros(size_t size) {
    std::memset(grow(size), 0, size);
}

} // namespace moltrex
