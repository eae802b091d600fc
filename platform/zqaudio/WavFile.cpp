#include "WavFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zqaudio {

namespace {

// Real files carry a handful of chunks (fmt, fact, LIST, data); a file that makes us walk more
// than this is not worth reading.
constexpr int kMaxChunks = 64;
constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;

uint16_t get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool readExact(std::FILE* file, void* out, size_t bytes) {
    return std::fread(out, 1, bytes, file) == bytes;
}

bool seekTo(std::FILE* file, uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

uint64_t fileSize(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0)
        return 0;
    const off_t size = ftello(file);
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}

std::string chunkName(const unsigned char* id) {
    std::string name;
    for (int i = 0; i < 4; ++i)
        name += (id[i] >= 0x20 && id[i] < 0x7F) ? static_cast<char>(id[i]) : '?';
    return name;
}

} // namespace

std::string voiceFormatProblem(const WavFormat& format) {
    if (format.formatTag != kWavFormatPcm)
        return "format tag " + std::to_string(format.formatTag) + " is not plain PCM (1)";
    if (format.bitsPerSample != 16)
        return std::to_string(format.bitsPerSample) + "-bit samples, not 16-bit";
    if (format.channels != 1)
        return std::to_string(format.channels) + " channels, not mono";
    if (format.sampleRate != 8000)
        return std::to_string(format.sampleRate) + " samples/s, not 8000";
    if (format.blockAlign != 2)
        return "block align " + std::to_string(format.blockAlign) + ", not 2";
    return {};
}

WavReader::~WavReader() {
    if (m_file)
        std::fclose(m_file);
}

bool WavReader::open(const std::string& path, std::string& error) {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_haveFormat = false;
    m_remaining = 0;
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    m_fileBytes = fileSize(m_file);
    unsigned char riff[12];
    if (!seekTo(m_file, 0) || !readExact(m_file, riff, sizeof riff) ||
        std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        error = path + " is not a RIFF/WAVE file";
        return false;
    }
    if (!walkChunks(error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

// Leaves the file positioned at the first sample byte.
bool WavReader::walkChunks(std::string& error) {
    uint64_t offset = 12;
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        unsigned char header[8];
        if (offset + sizeof header > m_fileBytes || !seekTo(m_file, offset) ||
            !readExact(m_file, header, sizeof header)) {
            error = "no data chunk";
            return false;
        }
        const uint32_t size = get32(header + 4);
        const uint64_t bodyOffset = offset + sizeof header;
        const uint64_t available = m_fileBytes - bodyOffset;
        if (std::memcmp(header, "data", 4) == 0) {
            if (!m_haveFormat) {
                error = "data chunk before the fmt chunk";
                return false;
            }
            // A size that cannot be true (or the "unknown" marker) means: up to the end of file.
            m_remaining = (size == kUnknownSize) ? available : std::min<uint64_t>(size, available);
            return true;
        }
        // The pad byte after an odd-sized chunk may be missing at the very end of the file.
        const uint64_t padded = uint64_t{size} + (size & 1u);
        if (size > available) {
            error = "chunk '" + chunkName(header) + "' runs past the end of the file";
            return false;
        }
        if (std::memcmp(header, "fmt ", 4) == 0 && !readFormat(size, error))
            return false;
        offset = bodyOffset + padded;
    }
    error = "too many chunks before the data chunk";
    return false;
}

// The file is positioned at the body of a fmt chunk of `size` bytes.
bool WavReader::readFormat(uint32_t size, std::string& error) {
    unsigned char body[16];
    if (size < sizeof body || !readExact(m_file, body, sizeof body)) {
        error = "fmt chunk shorter than 16 bytes";
        return false;
    }
    m_format.formatTag = get16(body);
    m_format.channels = get16(body + 2);
    m_format.sampleRate = get32(body + 4);
    m_format.byteRate = get32(body + 8);
    m_format.blockAlign = get16(body + 12);
    m_format.bitsPerSample = get16(body + 14);
    m_haveFormat = true;
    return true;
}

size_t WavReader::read(char* out, size_t bytes) {
    if (!m_file || m_remaining == 0)
        return 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(bytes, m_remaining));
    const size_t got = std::fread(out, 1, wanted, m_file);
    // A short read means the file shrank under us or failed: nothing more will come.
    m_remaining = (got == wanted) ? m_remaining - got : 0;
    return got;
}

WavWriter::~WavWriter() {
    close();
}

bool WavWriter::create(const std::string& path, std::string& error) {
    close();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    unsigned char header[kWavHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, kWavFormatPcm);
    put16(header + 22, 1);     // mono
    put32(header + 24, 8000);  // samples per second
    put32(header + 28, 16000); // bytes per second
    put16(header + 32, 2);     // bytes per sample frame
    put16(header + 34, 16);    // bits per sample
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, 0);
    m_dataBytes = 0;
    if (std::fwrite(header, 1, sizeof header, m_file) != sizeof header ||
        std::fflush(m_file) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::fclose(m_file);
        m_file = nullptr;
        return false;
    }
    return true;
}

bool WavWriter::append(const char* pcm, size_t bytes) {
    // Whole samples only, so the data chunk never needs a pad byte; the RIFF size must stay
    // within 32 bits.
    const uint64_t limit = uint64_t{0xFFFFFFFFu} - (kWavHeaderBytes - 8);
    if (!m_file || bytes % 2 != 0 || m_dataBytes + uint64_t{bytes} > limit)
        return false;
    if (std::fwrite(pcm, 1, bytes, m_file) != bytes)
        return false;
    m_dataBytes += static_cast<uint32_t>(bytes);
    return true;
}

bool WavWriter::flush() {
    return m_file && std::fflush(m_file) == 0;
}

bool WavWriter::sync() {
    if (!m_file)
        return false;
    unsigned char riffSize[4];
    unsigned char dataSize[4];
    put32(riffSize, static_cast<uint32_t>(kWavHeaderBytes - 8) + m_dataBytes);
    put32(dataSize, m_dataBytes);
    const bool ok = seekTo(m_file, 4) && std::fwrite(riffSize, 1, 4, m_file) == 4 &&
                    seekTo(m_file, 40) && std::fwrite(dataSize, 1, 4, m_file) == 4 &&
                    fseeko(m_file, 0, SEEK_END) == 0;
    return std::fflush(m_file) == 0 && ok;
}

void WavWriter::close() {
    if (!m_file)
        return;
    sync();
    std::fclose(m_file);
    m_file = nullptr;
}

} // namespace zqaudio
