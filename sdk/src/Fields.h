#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace moltrex {

// Reads a payload field by field: numbers little-endian, texts as fixed-width NUL-padded fields.
// A read past the end yields zeros and sets a sticky failure, so a parser reads all its fields
// and checks ok() once instead of testing every step.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit FieldReader(const std::vector<uint8_t>& bytes)
        : FieldReader(bytes.data(), bytes.size()) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    // Copies `size` raw bytes (addresses stay in the byte order they travel in).
    void bytes(void* out, size_t size);
    // Copies a text field of `width` bytes and forces its last byte to NUL, so whatever the
    // camera sent, the text ends inside its field.
    void text(char* out, size_t width);
    void skip(size_t size);

    bool ok() const { return m_ok; }
    size_t remaining() const { return m_ok ? m_size - m_offset : 0; }
    size_t offset() const { return m_offset; }

private:
    bool take(size_t size);

    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

// Builds a payload. Storage grows in steps of 100 bytes, the way the camera family's own
// software sizes its outgoing buffers.
class FieldWriter {
public:
    static constexpr size_t kGrowthStep = 100;

    void u8(uint8_t value);
    void u16(uint16_t value);
    void u32(uint32_t value);
    void bytes(const void* data, size_t size);
    // Writes `text` (up to its first NUL, at most `width` bytes) and pads the field with NULs.
    void text(const char* text, size_t width);
    void zeros(size_t size);

    const std::vector<uint8_t>& data() const { return m_bytes; }
    std::vector<uint8_t> take() { return std::move(m_bytes); }

private:
    uint8_t* grow(size_t size);

    std::vector<uint8_t> m_bytes;
};

} // namespace moltrex
