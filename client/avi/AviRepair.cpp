#include "avi/AviRepair.h"

#include "avi/Avi.h"
#include "avi/AviLayout.h"
#include "avi/AviRecords.h"
#include "avi/FileIo.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <string>
#include <vector>

using namespace avi_layout;

namespace {

struct StreamInfo {
    uint32_t code = 0;    // "NNdc", "NNwb", "NNgm"
    uint32_t type = 0;    // "vids", "auds"
    uint32_t handler = 0; // video: "H264", "MJPG"
    uint32_t sampleSize = 0;
    int64_t listPos = 0;
    int64_t chunks = 0;
    int64_t bytes = 0;
};

struct Recording {
    FILE* file = nullptr;
    int64_t fileBytes = 0;
    std::vector<StreamInfo> streams;
    int64_t moviDataStart = 0;
    std::vector<AviIndexEntry> entries;
    int64_t moviBytes = 0; // bytes of the chunks accepted so far, from moviDataStart
};

class FileCloser {
public:
    explicit FileCloser(FILE* file) : m_file(file) {}
    ~FileCloser() {
        if (m_file != nullptr) {
            std::fclose(m_file);
        }
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    // Closes now; false when buffered bytes could not be written.
    bool close() {
        const bool ok = std::fclose(m_file) == 0;
        m_file = nullptr;
        return ok;
    }

private:
    FILE* m_file;
};

bool readCode(FILE* file, int64_t position, int64_t fileBytes, uint32_t& code, uint32_t& size) {
    uint8_t bytes[kChunkHeaderBytes];
    if (position + kChunkHeaderBytes > fileBytes ||
        !avi_io::readAt(file, position, bytes, sizeof bytes)) {
        return false;
    }
    code = loadU32(bytes);
    size = loadU32(bytes + 4);
    return true;
}

bool isFinished(FILE* file, int64_t fileBytes) {
    Layout layout;
    return readLayout(file, fileBytes, layout) == LayoutFault::None &&
           int64_t{layout.riffSize} + 8 == fileBytes && layout.idx1Size % kIndexEntryBytes == 0 &&
           layout.idx1DataStart + int64_t{layout.idx1Size} == fileBytes;
}

// The header region as the writer leaves it: "RIFF", "LIST hdrl", "avih" at 24, stream lists
// from 88, then "LIST movi".
bool readHeaderRegion(Recording& recording) {
    FILE* file = recording.file;
    const int64_t fileBytes = recording.fileBytes;
    uint32_t code = 0;
    uint32_t size = 0;
    uint8_t type[4];
    if (!readCode(file, 0, fileBytes, code, size) || code != aviFourcc("RIFF") ||
        !avi_io::readAt(file, 8, type, 4) || loadU32(type) != aviFourcc("AVI ") ||
        !readCode(file, 12, fileBytes, code, size) || code != aviFourcc("LIST") ||
        !avi_io::readAt(file, 20, type, 4) || loadU32(type) != aviFourcc("hdrl") ||
        !readCode(file, 24, fileBytes, code, size) || code != aviFourcc("avih")) {
        return false;
    }
    int64_t position = kFirstStreamList;
    for (int number = 0; number < kMaxStreams; ++number) {
        uint8_t list[kListHeaderBytes + 64];
        if (position + kStrlListBytes > fileBytes ||
            !avi_io::readAt(file, position, list, sizeof list) ||
            loadU32(list) != aviFourcc("LIST") || loadU32(list + 4) != kStrlListSize ||
            loadU32(list + 8) != aviFourcc("strl")) {
            break;
        }
        const auto header = aviRecord<AviStreamHeader>(list + kListHeaderBytes);
        StreamInfo stream;
        stream.type = header.type;
        stream.handler = header.handler;
        stream.sampleSize = header.sampleSize;
        stream.code = chunkCodeFor(number, header.type);
        stream.listPos = position;
        recording.streams.push_back(stream);
        position += kStrlListBytes;
    }
    uint8_t movi[4];
    if (recording.streams.empty() || !readCode(file, position, fileBytes, code, size) ||
        code != aviFourcc("LIST") || !avi_io::readAt(file, position + 8, movi, 4) ||
        loadU32(movi) != aviFourcc("movi")) {
        return false;
    }
    recording.moviDataStart = position + kListHeaderBytes;
    return true;
}

StreamInfo* streamOf(Recording& recording, uint32_t code) {
    const int number = streamNumberOf(code);
    if (number < 0 || number >= static_cast<int>(recording.streams.size()) ||
        recording.streams[static_cast<size_t>(number)].code != code) {
        return nullptr;
    }
    return &recording.streams[static_cast<size_t>(number)];
}

// Whether a chunk of `length` bytes may follow the accepted ones: the writer refuses chunks once
// "movi" holds more than kAviMoviLimit bytes, and the chunk must lie inside the file.
bool chunkFits(const Recording& recording, int64_t length) {
    const int64_t start = recording.moviDataStart + recording.moviBytes;
    return recording.moviBytes <= kAviMoviLimit &&
           recording.moviBytes + kChunkHeaderBytes + length + (length & 1) <= kMoviHardLimit &&
           start + kChunkHeaderBytes + length <= recording.fileBytes;
}

void accept(Recording& recording, StreamInfo& stream, uint32_t flags, uint32_t length) {
    AviIndexEntry entry;
    entry.code = stream.code;
    entry.flags = flags;
    entry.offset = static_cast<uint32_t>(recording.moviBytes + 4);
    entry.length = length;
    recording.entries.push_back(entry);
    recording.moviBytes += kChunkHeaderBytes + paddedSize(length);
    stream.chunks += 1;
    stream.bytes += length;
}

// Side-file entries in write order, each checked against the chunk header it points at. The
// first one that does not match ends the side file's part.
int takeSideFile(Recording& recording, const std::string& sidePath) {
    FILE* side = avi_io::openFile(sidePath.c_str(), "rb");
    if (side == nullptr) {
        return 0;
    }
    FileCloser closer(side);
    int taken = 0;
    std::vector<AviIndexEntry> block(4096);
    for (;;) {
        const size_t got = std::fread(block.data(), sizeof(AviIndexEntry), block.size(), side);
        for (size_t i = 0; i < got; ++i) {
            const AviIndexEntry& entry = block[i];
            StreamInfo* stream = streamOf(recording, entry.code);
            uint32_t code = 0;
            uint32_t size = 0;
            if (stream == nullptr || int64_t{entry.offset} != recording.moviBytes + 4 ||
                (entry.flags & ~kAviKeyFrameFlag) != 0 || !chunkFits(recording, entry.length) ||
                !readCode(recording.file, recording.moviDataStart + recording.moviBytes,
                          recording.fileBytes, code, size) ||
                code != entry.code || size != entry.length) {
                return taken;
            }
            accept(recording, *stream, entry.flags, entry.length);
            ++taken;
        }
        if (got < block.size()) {
            return taken;
        }
    }
}

// A chunk from the scan starts a picture of its own when it holds an H.264 IDR slice or
// sequence parameter set, or is a JPEG picture.
bool looksLikeKeyFrame(const Recording& recording, const StreamInfo& stream, uint32_t length) {
    std::vector<uint8_t> data(std::min<size_t>(length, 64 * 1024));
    if (data.size() < 2 ||
        !avi_io::readAt(recording.file,
                        recording.moviDataStart + recording.moviBytes + kChunkHeaderBytes,
                        data.data(), data.size())) {
        return false;
    }
    if (stream.handler != kAviHandlerH264) {
        return data[0] == 0xff && data[1] == 0xd8;
    }
    for (size_t i = 0; i + 3 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            const int nalType = data[i + 3] & 0x1f;
            if (nalType == 5 || nalType == 7) {
                return true;
            }
        }
    }
    return false;
}

// The chunks behind the side file's part, for as long as they are whole chunks of a known
// stream. Each step moves on by at least a chunk header, so the scan ends with the file.
int scanChunks(Recording& recording) {
    int found = 0;
    for (;;) {
        uint32_t code = 0;
        uint32_t size = 0;
        if (!readCode(recording.file, recording.moviDataStart + recording.moviBytes,
                      recording.fileBytes, code, size) ||
            !chunkFits(recording, size)) {
            return found;
        }
        if (code == aviFourcc("JUNK")) {
            recording.moviBytes += kChunkHeaderBytes + paddedSize(size);
            continue;
        }
        StreamInfo* stream = streamOf(recording, code);
        if (stream == nullptr) {
            return found;
        }
        const bool key =
            stream->type == aviFourcc("vids") && looksLikeKeyFrame(recording, *stream, size);
        accept(recording, *stream, key ? kAviKeyFrameFlag : 0, size);
        ++found;
    }
}

bool writeU32(FILE* file, int64_t position, uint32_t value) {
    uint8_t bytes[4];
    storeU32(bytes, value);
    return avi_io::writeAt(file, position, bytes, 4);
}

bool writeIndexAndSizes(Recording& recording) {
    FILE* file = recording.file;
    const int64_t indexStart = recording.moviDataStart + recording.moviBytes;
    const int64_t indexBytes = static_cast<int64_t>(recording.entries.size()) * kIndexEntryBytes;
    const int64_t end = indexStart + kChunkHeaderBytes + indexBytes;
    uint8_t header[kChunkHeaderBytes];
    storeU32(header, aviFourcc("idx1"));
    storeU32(header + 4, static_cast<uint32_t>(indexBytes));
    bool ok =
        avi_io::writeAt(file, indexStart, header, sizeof header) &&
        avi_io::writeAt(file, indexStart + kChunkHeaderBytes, recording.entries.data(),
                        static_cast<size_t>(indexBytes)) &&
        avi_io::truncateFile(file, end) && writeU32(file, 4, static_cast<uint32_t>(end - 8)) &&
        writeU32(file, 16, static_cast<uint32_t>(recording.moviDataStart - 32)) &&
        writeU32(file, recording.moviDataStart - 8, static_cast<uint32_t>(recording.moviBytes + 4));

    // Frame counts as the recorder would have left them at close.
    int64_t videoFrames = 0;
    for (const StreamInfo& stream : recording.streams) {
        const int64_t lengthPos = stream.listPos + kListHeaderBytes + kStreamHeaderLengthOffset;
        if (stream.type == aviFourcc("vids")) {
            videoFrames += stream.chunks;
            ok = ok && writeU32(file, lengthPos, static_cast<uint32_t>(stream.chunks));
        } else if (stream.type == aviFourcc("auds")) {
            const int64_t samples =
                stream.sampleSize > 0 ? stream.bytes / stream.sampleSize : stream.chunks;
            ok = ok && writeU32(file, lengthPos, static_cast<uint32_t>(samples));
        }
    }
    constexpr int64_t totalFramesPos = 24 + offsetof(AviMainHeader, totalFrames);
    return ok && writeU32(file, totalFramesPos, static_cast<uint32_t>(videoFrames));
}

AviRepairResult repair(const char* path, AviRepairReport& out) {
    if (path == nullptr) {
        return AviRepairResult::CannotOpen;
    }
    Recording recording;
    recording.file = avi_io::openFile(path, "rb+");
    if (recording.file == nullptr) {
        return AviRepairResult::CannotOpen;
    }
    FileCloser closer(recording.file);
    recording.fileBytes = avi_io::fileLength(recording.file);
    if (recording.fileBytes < 0) {
        return AviRepairResult::CannotOpen;
    }
    const std::string sidePath = std::string(path) + "_idx";
    if (isFinished(recording.file, recording.fileBytes)) {
        avi_io::removeFile(sidePath.c_str());
        return AviRepairResult::AlreadyComplete;
    }
    if (!readHeaderRegion(recording)) {
        return AviRepairResult::NotARecording;
    }
    out.fromSideFile = takeSideFile(recording, sidePath);
    out.fromScan = scanChunks(recording);
    for (const StreamInfo& stream : recording.streams) {
        if (stream.type == aviFourcc("vids")) {
            out.videoFrames += static_cast<int>(stream.chunks);
        } else if (stream.type == aviFourcc("auds")) {
            out.audioChunks += static_cast<int>(stream.chunks);
        }
    }
    out.droppedBytes =
        std::max<int64_t>(0, recording.fileBytes - recording.moviDataStart - recording.moviBytes);
    if (!writeIndexAndSizes(recording) || !closer.close()) {
        return AviRepairResult::WriteFailed;
    }
    avi_io::removeFile(sidePath.c_str());
    return AviRepairResult::Repaired;
}

} // namespace

AviRepairResult aviRepair(const char* path, AviRepairReport* report) {
    AviRepairReport ignored;
    AviRepairReport& out = report != nullptr ? *report : ignored;
    out = {};
    // The rebuilt index is held in memory until it is written (16 bytes per chunk).
    try {
        return repair(path, out);
    } catch (const std::bad_alloc&) {
        return AviRepairResult::WriteFailed;
    }
}

const char* aviRepairResultName(AviRepairResult result) {
    switch (result) {
    case AviRepairResult::Repaired:
        return "repaired";
    case AviRepairResult::AlreadyComplete:
        return "already complete";
    case AviRepairResult::CannotOpen:
        return "cannot open";
    case AviRepairResult::NotARecording:
        return "not a recording";
    case AviRepairResult::WriteFailed:
        return "write failed";
    }
    return "unknown";
}
