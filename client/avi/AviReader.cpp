// The reading half of Avi.h: aviOpen for reading, aviReadMainHeader, aviReadStream,
// aviReadChunk, aviSeekFrame.
//
// Recordings come from disks, copies and other machines, so nothing read from a file is trusted:
// the layout is checked against the file length at open (AviLayout.cpp), every chunk against
// the end of "movi", every index entry against the chunk it claims to describe.

#include "avi/Avi.h"

#include "avi/AviLayout.h"
#include "avi/AviRecords.h"
#include "avi/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

using namespace avi_layout;

namespace {

// Reads index entries in blocks, so a seek over a long recording costs few reads.
class IndexCursor {
public:
    explicit IndexCursor(const AviFile& file) : m_file(file) {}

    // Entry `number`, or false when it is not in the file.
    bool entry(int32_t number, AviIndexEntry& entry) {
        if (number < 0 || number >= m_file.indexEntries) {
            return false;
        }
        if (number < m_first || number >= m_first + m_count) {
            m_first = number;
            m_count = std::min(kBlockEntries, m_file.indexEntries - number);
            m_block.resize(static_cast<size_t>(m_count));
            if (!avi_io::readAt(m_file.indexFile,
                                m_file.idx1DataStart + int64_t{number} * kIndexEntryBytes,
                                m_block.data(), m_block.size() * sizeof(AviIndexEntry))) {
                m_count = 0;
                return false;
            }
        }
        entry = m_block[static_cast<size_t>(number - m_first)];
        return true;
    }

private:
    static constexpr int32_t kBlockEntries = 4096;
    const AviFile& m_file;
    std::vector<AviIndexEntry> m_block;
    int32_t m_first = 0;
    int32_t m_count = 0;
};

// The entry's chunk header lies inside "movi" (offsets count from the "movi" code).
bool entryInsideMovi(const AviFile& file, const AviIndexEntry& entry) {
    return entry.offset >= 4 &&
           int64_t{entry.offset} - 4 + kChunkHeaderBytes <= int64_t{file.moviSize} - 4;
}

int64_t hdrlEnd(const AviFile& file) {
    return file.mode == kAviWrite ? int64_t{file.strlBase} + file.strlBytes
                                  : 20 + int64_t{file.hdrlSize};
}

} // namespace

AviFile* avi_layout::openReader(const char* path) {
    FILE* avi = avi_io::openFile(path, "rb+");
    if (avi == nullptr) {
        avi = avi_io::openFile(path, "rb");
    }
    if (avi == nullptr) {
        std::printf("Open2: %s\n", std::strerror(errno));
        return nullptr;
    }
    const int64_t fileBytes = avi_io::fileLength(avi);
    Layout layout;
    const LayoutFault fault =
        fileBytes < 0 ? LayoutFault::AviTag : readLayout(avi, fileBytes, layout);
    if (fault != LayoutFault::None) {
        std::fputs(faultMessage(fault), stdout);
        std::fclose(avi);
        return nullptr;
    }
    auto* handle = new (std::nothrow) AviFile;
    if (handle == nullptr) {
        std::printf("AVI malloc fail!\n");
        std::fclose(avi);
        return nullptr;
    }
    handle->file = avi;
    handle->indexFile = avi;
    handle->mode = kAviRead;
    handle->riffSize = layout.riffSize;
    handle->hdrlSize = layout.hdrlSize;
    handle->moviSize = layout.moviSize;
    handle->idx1Size = layout.idx1Size;
    // readLayout has kept all of these below 2^31.
    handle->moviDataStart = static_cast<int32_t>(layout.moviDataStart);
    handle->moviSizePos = handle->moviDataStart - 8;
    handle->idx1DataStart = static_cast<int32_t>(layout.idx1DataStart);
    handle->idx1SizePos = handle->idx1DataStart - 4;
    handle->fileBytes = fileBytes;
    handle->indexEntries = static_cast<int32_t>(layout.indexEntries);
    return handle;
}

int aviReadMainHeader(AviFile* file, uint8_t buf[64]) {
    if (file == nullptr || buf == nullptr) {
        return kAviBadArgument;
    }
    if (!avi_io::readAt(file->file, file->avihPos, buf, 64)) {
        std::memset(buf, 0, 64);
        return kAviNoMainHeader;
    }
    return loadU32(buf) == aviFourcc("avih") ? kAviOk : kAviNoMainHeader;
}

int aviReadStream(AviFile* file, int n, uint8_t strh[64], uint8_t strf[40], uint32_t* chunkCode) {
    if (file == nullptr || strh == nullptr || strf == nullptr || chunkCode == nullptr || n < 1) {
        return kAviBadArgument;
    }
    uint32_t listSize = 0;
    const int64_t listPos =
        findStreamList(file->file, file->strlBase, hdrlEnd(*file), n - 1, &listSize);
    const int64_t listEnd = listPos + kChunkHeaderBytes + int64_t{listSize};
    const int64_t strhPos = listPos + kListHeaderBytes;
    const int64_t strfPos = strhPos + 64;
    uint8_t strfHeader[kChunkHeaderBytes];
    if (listPos < 0 || strfPos + kChunkHeaderBytes > listEnd ||
        !avi_io::readAt(file->file, strhPos, strh, 64) ||
        !avi_io::readAt(file->file, strfPos, strfHeader, sizeof strfHeader)) {
        return kAviBadArgument;
    }
    // Formats shorter than 40 bytes (a plain PCM block of 16 or 18) are read as far as they go.
    const int64_t formatPos = strfPos + kChunkHeaderBytes;
    const auto formatBytes = static_cast<size_t>(
        std::min<int64_t>({40, int64_t{loadU32(strfHeader + 4)}, listEnd - formatPos}));
    std::memset(strf, 0, 40);
    if (!avi_io::readAt(file->file, formatPos, strf, formatBytes)) {
        return kAviBadArgument;
    }
    *chunkCode = chunkCodeFor(n - 1, loadU32(strh + 8));
    return kAviOk;
}

int aviReadChunk(AviFile* file, void* buf, int* isKey, uint32_t* code, int* length, int* posBefore,
                 int* posAfter) {
    if (file == nullptr || buf == nullptr || isKey == nullptr || code == nullptr ||
        length == nullptr || posBefore == nullptr || posAfter == nullptr ||
        file->mode != kAviRead) {
        return kAviBadArgument;
    }
    *posBefore = file->moviBytes;
    const int64_t moviChunkBytes = int64_t{file->moviSize} - 4;
    if (file->moviBytes >= moviChunkBytes) {
        return kAviEndOfMovi;
    }
    const int64_t moviEnd = file->moviDataStart + moviChunkBytes;
    int64_t position = file->moviDataStart + int64_t{file->moviBytes};
    uint8_t header[kChunkHeaderBytes];
    uint32_t size = 0;
    // JUNK chunks are stepped over; each step moves on by at least a header.
    for (;;) {
        if (position + kChunkHeaderBytes > moviEnd) {
            return kAviEndOfMovi;
        }
        if (!avi_io::readAt(file->file, position, header, sizeof header)) {
            return kAviPositionError;
        }
        size = loadU32(header + 4);
        // A chunk that reaches past "movi" is cut off or forged: nothing behind it can be
        // trusted, so reading ends here.
        if (position + kChunkHeaderBytes + int64_t{size} > moviEnd) {
            return kAviEndOfMovi;
        }
        if (loadU32(header) != aviFourcc("JUNK")) {
            break;
        }
        position += kChunkHeaderBytes + paddedSize(size);
    }
    if (size > static_cast<uint32_t>(std::max(*length, 0))) {
        *length = static_cast<int>(std::min<uint32_t>(size, INT32_MAX));
        return kAviBufferTooSmall;
    }
    if (!avi_io::readAt(file->file, position + kChunkHeaderBytes, buf, size)) {
        return kAviPositionError;
    }
    const int64_t chunkOffset = position - file->moviDataStart;
    *code = loadU32(header);
    *length = static_cast<int>(size);
    *isKey = 0;
    // Chunk n goes with entry n; an entry that describes another chunk (or none) lends it
    // nothing, and the chunk keeps the length of its own header.
    AviIndexEntry entry;
    if (file->entryCount < file->indexEntries &&
        avi_io::readAt(file->file,
                       file->idx1DataStart + int64_t{file->entryCount} * kIndexEntryBytes, &entry,
                       sizeof entry) &&
        entry.code == *code && int64_t{entry.offset} == chunkOffset + 4 && entry.length <= size) {
        *length = static_cast<int>(entry.length);
        *isKey = (entry.flags & kAviKeyFrameFlag) != 0 ? 1 : 0;
    }
    file->moviBytes = static_cast<int32_t>(
        std::min(chunkOffset + kChunkHeaderBytes + paddedSize(size), moviChunkBytes));
    *posAfter = file->moviBytes;
    file->entryCount += 1;
    file->indexBytes = static_cast<int32_t>(
        std::min<int64_t>(int64_t{file->entryCount} * kIndexEntryBytes, INT32_MAX));
    return kAviOk;
}

int aviSeekFrame(AviFile* file, int videoFrame, int* skipped) {
    if (file == nullptr || skipped == nullptr) {
        return kAviBadArgument;
    }
    *skipped = 0;
    if (file->mode != kAviRead || videoFrame < 0) {
        std::printf("[AVI] seek pos error, frame=%d\n", videoFrame);
        return kAviPositionError;
    }
    constexpr uint32_t video = aviFourcc("00dc");
    IndexCursor index(*file);
    AviIndexEntry entry;
    int32_t number = 0;
    int frames = 0;
    for (;; ++number) {
        if (!index.entry(number, entry)) {
            std::printf("[AVI] seek pos error, frame=%d\n", videoFrame);
            return kAviPositionError;
        }
        if (entry.code == video && ++frames > videoFrame) {
            break;
        }
    }
    std::printf("[AVI] seek total frame=%d, videoFrame=%d\n", frames, videoFrame);

    // The nearest key frame at or after the target, within 100 entries of it.
    const int32_t last = number + 100;
    for (; number < last && index.entry(number, entry); ++number) {
        if (entry.code != video) {
            continue;
        }
        if (entry.flags == kAviKeyFrameFlag && entryInsideMovi(*file, entry)) {
            file->moviBytes = static_cast<int32_t>(entry.offset - 4);
            file->entryCount = number;
            file->indexBytes = static_cast<int32_t>(int64_t{number} * kIndexEntryBytes);
            std::printf("[AVI] seek to dataPos:%d\n", file->moviBytes);
            return kAviOk;
        }
        ++*skipped;
    }
    return kAviNoKeyFrame;
}
