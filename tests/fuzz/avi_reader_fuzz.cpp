// Feeds arbitrary bytes to everything that reads recordings: the reader (open, headers, every
// chunk, a seek, the chunks after it), CPlay, and the repair. When the first byte has its top
// bit set, the next two give the length of a side file cut from the front of the input, so the
// repair also meets lying index entries. Nothing may crash, overrun or loop; a file the repair
// calls repaired must open for reading and be complete.

#include "avi/Avi.h"
#include "avi/AviRepair.h"
#include "avi/CPlay.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void removeFiles();

const std::string& recordingPath() {
    static const std::string path = [] {
        char name[] = "/tmp/avi-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            close(fd);
        }
        return std::string(name);
    }();
    // Registered once the path exists, so it runs before the path is destroyed at exit.
    [[maybe_unused]] static const bool cleanup = std::atexit(removeFiles) == 0;
    return path;
}

void removeFiles() {
    unlink(recordingPath().c_str());
    unlink((recordingPath() + "_idx").c_str());
}

void writeBytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (size > 0) {
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);
}

// Every chunk up to the reader's end; each call moves on by at least a chunk header, so the
// bound is only a guard against a reader that stops moving.
void readChunks(AviFile* file) {
    const auto fileSize = static_cast<size_t>(file->fileBytes);
    std::vector<uint8_t> buf(1 << 16);
    for (size_t calls = 0; calls <= fileSize / 8 + 1; ++calls) {
        int isKey = 0, length = static_cast<int>(buf.size()), before = 0, after = 0;
        uint32_t code = 0;
        if (aviReadChunk(file, buf.data(), &isKey, &code, &length, &before, &after) != kAviOk) {
            return;
        }
        if (after <= before || length < 0 || length > static_cast<int>(buf.size())) {
            std::abort();
        }
    }
    std::abort();
}

} // namespace

// The reader reports every refused file on standard output; here that is only noise.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = recordingPath();
    const std::string sidePath = path + "_idx";
    unlink(sidePath.c_str());
    if (size >= 3 && (data[0] & 0x80) != 0) {
        const size_t sideBytes = std::min<size_t>(size - 3, data[1] | data[2] << 8);
        writeBytes(sidePath, data + 3, sideBytes);
        data += 3 + sideBytes;
        size -= 3 + sideBytes;
    }
    writeBytes(path, data, size);

    if (AviFile* file = aviOpen(path.c_str(), kAviRead)) {
        uint8_t header[64];
        uint8_t format[40];
        uint32_t code = 0;
        aviReadMainHeader(file, header);
        for (int stream = 1; stream <= 3; ++stream) {
            aviReadStream(file, stream, header, format, &code);
        }
        readChunks(file);
        int skipped = 0;
        aviSeekFrame(file, size > 0 ? data[size - 1] % 32 : 0, &skipped);
        readChunks(file);
        aviClose(file);
    }

    CPlay play;
    std::string codec;
    int width = 0, height = 0, frames = 0, durationMs = 0;
    if (play.open(path.c_str(), codec, width, height, frames, durationMs) == 0) {
        int actualMs = 0;
        play.seekTime(durationMs / 2, actualMs);
        std::vector<uint8_t> buf(4096);
        for (size_t calls = 0; calls <= size / 8 + 1; ++calls) {
            int isKey = 0, length = static_cast<int>(buf.size()), isAudio = 0;
            if (play.readFrame(buf.data(), isKey, length, isAudio) != 0) {
                break;
            }
        }
    }

    // Last, since it rewrites the file.
    if (aviRepair(path.c_str()) == AviRepairResult::Repaired) {
        AviFile* repaired = aviOpen(path.c_str(), kAviRead);
        if (repaired == nullptr) {
            std::abort();
        }
        readChunks(repaired);
        aviClose(repaired);
        if (aviRepair(path.c_str()) != AviRepairResult::AlreadyComplete) {
            std::abort();
        }
    }
    return 0;
}
