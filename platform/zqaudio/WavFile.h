#pragma once

// RIFF/WAVE files of PCM samples: the reader behind the "wav" capture device and the writer behind
// the "wav" playback device.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zqaudio {

constexpr uint16_t kWavFormatPcm = 1;
// Size of the canonical header the writer produces: RIFF, fmt (16 bytes of body) and data headers.
constexpr size_t kWavHeaderBytes = 44;

struct WavFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

// Empty when `format` is what the devices speak (PCM, 16-bit, mono, 8000 Hz); otherwise why not.
std::string voiceFormatProblem(const WavFormat& format);

// Finds the format and the sample data of a WAV file and reads the samples in order.
//
// The header is untrusted: chunks are walked one by one, each size checked against what is left
// of the file, and a bounded number of chunks is looked at before giving up. A data chunk that
// claims more than the file holds (a writer that never came back to fix its header) is read up
// to the end of the file.
class WavReader {
public:
    WavReader() = default;
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;
    ~WavReader();

    // False with `error` saying why when the file cannot be read or is not a WAV file.
    bool open(const std::string& path, std::string& error);
    const WavFormat& format() const { return m_format; }
    // Sample bytes not read yet.
    uint64_t remaining() const { return m_remaining; }
    // Copies up to `bytes` of sample data to `out`; the count copied, 0 at the end or on error.
    size_t read(char* out, size_t bytes);

private:
    bool walkChunks(std::string& error);
    bool readFormat(uint32_t size, std::string& error);

    std::FILE* m_file = nullptr;
    uint64_t m_fileBytes = 0;
    WavFormat m_format;
    bool m_haveFormat = false;
    uint64_t m_remaining = 0;
};

// Writes 8 kHz mono 16-bit PCM to a new WAV file. The header starts out describing an empty
// file; sync() rewrites its sizes for what has been appended so far, so the file stays valid
// for a reader at any time (it may only show fewer samples than are already written).
class WavWriter {
public:
    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter();

    // Creates (or truncates) `path`; false with `error` saying why.
    bool create(const std::string& path, std::string& error);
    // Appends little-endian samples. False when the file is not open, the write failed or the
    // 4 GiB limit of the format would be passed (nothing is appended then).
    bool append(const char* pcm, size_t bytes);
    // Hands appended samples to the file without touching the header.
    bool flush();
    // Brings the header sizes up to date and flushes everything to the file.
    bool sync();
    // Syncs and closes; the writer can create another file afterwards.
    void close();
    bool isOpen() const { return m_file != nullptr; }
    uint32_t dataBytes() const { return m_dataBytes; }

private:
    std::FILE* m_file = nullptr;
    uint32_t m_dataBytes = 0;
};

} // namespace zqaudio
