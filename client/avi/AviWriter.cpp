// The writing half of Avi.h: aviOpen (dispatch and writer), aviWriteMainHeader, aviAddStream,
// aviWriteChunk, aviRewriteStream, aviClose.
//
// Layout of a recording with two streams:
//   0   "RIFF", file size - 8, "AVI "
//   12  "LIST", hdrl size (= moviDataStart - 32), "hdrl"
//   24  "avih" chunk (64 bytes, written by the caller)
//   88  "LIST", 116, "strl", "strh" chunk (64), "strf", 40, format (40)   -- video
//   212 the same for audio
//   336 "LIST", chunk bytes + 4, "movi"
//   348 chunks: code, length, data, a zero byte when the length is odd
//   end "idx1", 16 * n, n entries (code, flags, offset from the "movi" code, length)
//
// The header region (everything before the first chunk) is written with positioned writes;
// the chunks and the index stream through stdio behind it, so the per-frame header rewrites of
// the recorder never flush or reposition the chunk stream.

#include "avi/Avi.h"

#include "avi/AviLayout.h"
#include "avi/AviRecords.h"
#include "avi/FileIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

using namespace avi_layout;

namespace {

// stdio buffer of the chunk stream: a 10 KB frame with its header rarely costs a write of its
// own. A process killed while recording loses at most this tail; aviRepair recovers the rest.
constexpr size_t kAppendBufferBytes = 64 * 1024;

void printSystemError(const char* prefix) {
    std::printf("%s: %s\n", prefix, std::strerror(errno));
}

// Writes at `position` through the stream, seeking only when it stands elsewhere.
bool appendAt(FILE* stream, int64_t& streamPos, int64_t position, const void* data, size_t length) {
    if (streamPos != position) {
        if (std::fseek(stream, static_cast<long>(position), SEEK_SET) != 0) {
            streamPos = -1;
            return false;
        }
        streamPos = position;
    }
    if (length > 0 && std::fwrite(data, 1, length, stream) != length) {
        streamPos = -1;
        return false;
    }
    streamPos += static_cast<int64_t>(length);
    return true;
}

std::array<uint8_t, kListHeaderBytes> listHeader(const char (&code)[5], uint32_t size,
                                                 const char (&type)[5]) {
    std::array<uint8_t, kListHeaderBytes> bytes{};
    storeU32(bytes.data(), aviFourcc(code));
    storeU32(bytes.data() + 4, size);
    storeU32(bytes.data() + 8, aviFourcc(type));
    return bytes;
}

// "LIST", 116, "strl", the "strh" chunk, "strf", 40, the format.
std::array<uint8_t, kStrlListBytes> streamList(const uint8_t strh[64], const uint8_t strf[40]) {
    std::array<uint8_t, kStrlListBytes> bytes{};
    const auto header = listHeader("LIST", kStrlListSize, "strl");
    std::copy(header.begin(), header.end(), bytes.begin());
    std::memcpy(bytes.data() + 12, strh, 64);
    storeU32(bytes.data() + 76, aviFourcc("strf"));
    storeU32(bytes.data() + 80, 40);
    std::memcpy(bytes.data() + 84, strf, 40);
    return bytes;
}

AviFile* openWriter(const char* path) {
    FILE* avi = avi_io::openFile(path, "wb+");
    if (avi == nullptr) {
        printSystemError("Open2");
        return nullptr;
    }
    const std::string sidePath = std::string(path) + "_idx";
    FILE* side = avi_io::openFile(sidePath.c_str(), "wb+");
    if (side == nullptr) {
        printSystemError("Open1");
        std::fclose(avi);
        return nullptr;
    }
    auto* handle = new (std::nothrow) AviFile;
    if (handle == nullptr) {
        std::printf("AVI malloc fail!\n");
        std::fclose(side);
        std::fclose(avi);
        return nullptr;
    }
    std::setvbuf(avi, nullptr, _IOFBF, kAppendBufferBytes);
    handle->file = avi;
    handle->indexFile = side;
    handle->mode = kAviWrite;
    handle->moviDataStart = static_cast<int32_t>(kFirstStreamList + kListHeaderBytes);
    handle->moviSizePos = handle->moviDataStart - 8;
    handle->appendPos = 0;
    handle->sidePos = 0;

    // Sizes stay 0 until aviClose. The provisional "movi" header keeps a file closed without
    // streams well formed; aviAddStream writes it anew behind every stream list.
    const auto riff = listHeader("RIFF", 0, "AVI ");
    const auto hdrl = listHeader("LIST", 0, "hdrl");
    const auto movi = listHeader("LIST", 0, "movi");
    if (!avi_io::writeAt(avi, 0, riff.data(), riff.size()) ||
        !avi_io::writeAt(avi, 12, hdrl.data(), hdrl.size()) ||
        !avi_io::writeAt(avi, kFirstStreamList, movi.data(), movi.size())) {
        printSystemError("Open2");
        delete handle;
        std::fclose(side);
        std::fclose(avi);
        return nullptr;
    }
    return handle;
}

// aviClose of a writer: "idx1" from the side file, then the sizes.
int finishRecording(AviFile& file) {
    FILE* avi = file.file;
    const int64_t indexStart = static_cast<int64_t>(file.moviDataStart) + file.moviBytes;
    const int64_t indexBytes = static_cast<int64_t>(file.entryCount) * kIndexEntryBytes;

    uint8_t header[kChunkHeaderBytes];
    storeU32(header, aviFourcc("idx1"));
    storeU32(header + 4, static_cast<uint32_t>(indexBytes));
    bool ok = std::fflush(file.indexFile) == 0 &&
              appendAt(avi, file.appendPos, indexStart, header, sizeof header);
    std::vector<uint8_t> block(kAppendBufferBytes);
    for (int64_t copied = 0; ok && copied < indexBytes;) {
        const auto bytes =
            static_cast<size_t>(std::min<int64_t>(indexBytes - copied, kAppendBufferBytes));
        ok = avi_io::readAt(file.indexFile, copied, block.data(), bytes) &&
             appendAt(avi, file.appendPos, indexStart + kChunkHeaderBytes + copied, block.data(),
                      bytes);
        copied += static_cast<int64_t>(bytes);
    }
    // Anything behind the index (a chunk the disk refused half-way) is cut off.
    const int64_t end = indexStart + kChunkHeaderBytes + indexBytes;
    ok = ok && std::fflush(avi) == 0 && avi_io::truncateFile(avi, end);

    uint8_t size[4];
    storeU32(size, static_cast<uint32_t>(end - 8));
    ok = ok && avi_io::writeAt(avi, file.riffSizePos, size, 4);
    storeU32(size, static_cast<uint32_t>(file.moviDataStart - 32));
    ok = ok && avi_io::writeAt(avi, file.hdrlSizePos, size, 4);
    storeU32(size, static_cast<uint32_t>(file.moviBytes + 4));
    ok = ok && avi_io::writeAt(avi, file.moviSizePos, size, 4);
    return ok ? kAviOk : kAviNoRoom;
}

} // namespace

AviFile* aviOpen(const char* path, int mode) {
    if (path == nullptr) {
        errno = EINVAL;
        printSystemError("Open2");
        return nullptr;
    }
    if ((mode & kAviWrite) != 0) {
        return openWriter(path);
    }
    if ((mode & kAviRead) != 0) {
        return openReader(path);
    }
    return nullptr;
}

int aviWriteMainHeader(AviFile* file, const uint8_t avih[64]) {
    if (file == nullptr || avih == nullptr) {
        return kAviBadArgument;
    }
    return avi_io::writeAt(file->file, file->avihPos, avih, 64) ? kAviOk : kAviNoRoom;
}

int aviAddStream(AviFile* file, const uint8_t strh[64], const uint8_t strf[40],
                 uint32_t* chunkCode) {
    if (file == nullptr || strh == nullptr || strf == nullptr || chunkCode == nullptr) {
        return kAviBadArgument;
    }
    std::lock_guard guard(file->lock);
    // A list added after the first chunk would land on top of it.
    if (file->mode != kAviWrite || file->entryCount > 0 || file->streamCount >= kMaxStreams) {
        return kAviBadArgument;
    }
    const int64_t listPos = static_cast<int64_t>(file->strlBase) + file->strlBytes;
    std::array<uint8_t, kStrlListBytes + kListHeaderBytes> bytes{};
    const auto list = streamList(strh, strf);
    const auto movi = listHeader("LIST", 0, "movi");
    std::copy(list.begin(), list.end(), bytes.begin());
    std::copy(movi.begin(), movi.end(), bytes.begin() + kStrlListBytes);
    if (!avi_io::writeAt(file->file, listPos, bytes.data(), bytes.size())) {
        return kAviNoRoom;
    }
    file->strlBytes += static_cast<int32_t>(kStrlListBytes);
    file->moviDataStart = static_cast<int32_t>(listPos + kStrlListBytes + kListHeaderBytes);
    file->moviSizePos = file->moviDataStart - 8;
    *chunkCode = chunkCodeFor(file->streamCount, loadU32(strh + 8));
    ++file->streamCount;
    return kAviOk;
}

int aviWriteChunk(AviFile* file, int isKey, uint32_t chunkCode, const void* data, int length) {
    if (file == nullptr || file->mode != kAviWrite || length < 0 ||
        (data == nullptr && length > 0)) {
        return kAviBadArgument;
    }
    const int64_t padded = static_cast<int64_t>(length) + (length & 1);
    if (file->moviBytes > kAviMoviLimit ||
        file->moviBytes + kChunkHeaderBytes + padded > kMoviHardLimit) {
        return kAviNoRoom;
    }
    const int64_t start = static_cast<int64_t>(file->moviDataStart) + file->moviBytes;
    uint8_t header[kChunkHeaderBytes];
    storeU32(header, chunkCode);
    storeU32(header + 4, static_cast<uint32_t>(length));
    static constexpr uint8_t kPad = 0;
    bool ok = appendAt(file->file, file->appendPos, start, header, sizeof header) &&
              appendAt(file->file, file->appendPos, start + kChunkHeaderBytes, data,
                       static_cast<size_t>(length)) &&
              ((length & 1) == 0 ||
               appendAt(file->file, file->appendPos, start + kChunkHeaderBytes + length, &kPad, 1));

    AviIndexEntry entry;
    entry.code = chunkCode;
    entry.flags = isKey != 0 ? kAviKeyFrameFlag : 0;
    entry.offset = static_cast<uint32_t>(file->moviBytes + 4);
    entry.length = static_cast<uint32_t>(length);
    ok = ok && appendAt(file->indexFile, file->sidePos,
                        static_cast<int64_t>(file->idx1DataStart) + file->indexBytes, &entry,
                        sizeof entry);
    // Counters move only for a whole chunk: a refused one is overwritten by the next.
    if (!ok) {
        return kAviNoRoom;
    }
    file->indexBytes += static_cast<int32_t>(kIndexEntryBytes);
    file->entryCount += 1;
    file->moviBytes += static_cast<int32_t>(kChunkHeaderBytes + padded);
    return kAviOk;
}

int aviRewriteStream(AviFile* file, int n, const uint8_t strh[64], const uint8_t strf[40]) {
    if (file == nullptr || strh == nullptr || strf == nullptr || n < 0) {
        return kAviBadArgument;
    }
    int64_t listPos = -1;
    if (file->mode == kAviWrite) {
        // The writer's lists are all 124 bytes and its "hdrl" size is not patched yet, so the
        // position is known without walking.
        if (n >= file->streamCount) {
            return kAviBadArgument;
        }
        listPos = file->strlBase + kStrlListBytes * n;
    } else {
        uint32_t listSize = 0;
        listPos = findStreamList(file->file, file->strlBase,
                                 20 + static_cast<int64_t>(file->hdrlSize), n, &listSize);
        // Only a list of the same size may be overwritten in place.
        if (listPos < 0 || listSize != kStrlListSize) {
            return kAviBadArgument;
        }
    }
    const auto list = streamList(strh, strf);
    return avi_io::writeAt(file->file, listPos, list.data(), list.size()) ? kAviOk : kAviNoRoom;
}

int aviClose(AviFile* file) {
    if (file == nullptr) {
        return kAviBadArgument;
    }
    int result = kAviOk;
    if (file->mode == kAviWrite) {
        result = finishRecording(*file);
    }
    if (file->indexFile != nullptr && file->indexFile != file->file) {
        std::fclose(file->indexFile);
    }
    if (file->file != nullptr && std::fclose(file->file) != 0 && file->mode == kAviWrite) {
        result = kAviNoRoom;
    }
    delete file;
    return result;
}
