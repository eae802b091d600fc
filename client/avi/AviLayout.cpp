#include "avi/AviLayout.h"

#include "avi/Avi.h"
#include "avi/FileIo.h"

#include <algorithm>
#include <cstdint>

namespace avi_layout {

namespace {

struct ChunkHeader {
    uint32_t code = 0;
    uint32_t size = 0;
    uint32_t type = 0; // lists only
};

bool readHeader(FILE* file, int64_t position, int64_t limit, int64_t bytes, ChunkHeader& header) {
    uint8_t raw[kListHeaderBytes];
    if (position < 0 || position + bytes > limit ||
        !avi_io::readAt(file, position, raw, static_cast<size_t>(bytes))) {
        return false;
    }
    header.code = loadU32(raw);
    header.size = loadU32(raw + 4);
    header.type = bytes == kListHeaderBytes ? loadU32(raw + 8) : 0;
    return true;
}

// Skips one "JUNK" chunk at `position` if there is one; false when it reaches past `limit`.
bool skipJunk(FILE* file, int64_t& position, int64_t limit, int64_t& junkBytes) {
    junkBytes = 0;
    ChunkHeader junk;
    if (!readHeader(file, position, limit, kChunkHeaderBytes, junk) ||
        junk.code != aviFourcc("JUNK")) {
        return true;
    }
    junkBytes = kChunkHeaderBytes + paddedSize(junk.size);
    if (position + junkBytes > limit) {
        return false;
    }
    position += junkBytes;
    return true;
}

} // namespace

uint32_t chunkCodeFor(int streamNumber, uint32_t streamType) {
    const char* suffix = "gm";
    if (streamType == aviFourcc("vids")) {
        suffix = "dc";
    } else if (streamType == aviFourcc("auds")) {
        suffix = "wb";
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>('0' + streamNumber / 10 % 10),
                              static_cast<uint8_t>('0' + streamNumber % 10),
                              static_cast<uint8_t>(suffix[0]), static_cast<uint8_t>(suffix[1])};
    return loadU32(bytes);
}

int streamNumberOf(uint32_t chunkCode) {
    const int tens = static_cast<int>(chunkCode & 0xff) - '0';
    const int ones = static_cast<int>((chunkCode >> 8) & 0xff) - '0';
    if (tens < 0 || tens > 9 || ones < 0 || ones > 9) {
        return -1;
    }
    return tens * 10 + ones;
}

LayoutFault readLayout(FILE* file, int64_t fileBytes, Layout& layout) {
    layout = {};
    ChunkHeader riff;
    if (!readHeader(file, 0, fileBytes, kListHeaderBytes, riff) || riff.code != aviFourcc("RIFF") ||
        riff.type != aviFourcc("AVI ")) {
        return LayoutFault::AviTag;
    }
    layout.riffSize = riff.size;

    // The list sizes count from the list's type code, so a list ends at its size field + 4 +
    // size. A size under 4 cannot hold the type and would walk backwards.
    ChunkHeader hdrl;
    if (!readHeader(file, 12, fileBytes, kListHeaderBytes, hdrl) ||
        hdrl.code != aviFourcc("LIST") || hdrl.type != aviFourcc("hdrl") || hdrl.size < 4 ||
        20 + static_cast<int64_t>(hdrl.size) > fileBytes) {
        return LayoutFault::HdrlTag;
    }
    layout.hdrlSize = hdrl.size;
    int64_t position = 20 + static_cast<int64_t>(hdrl.size);

    int64_t junkAfterHdrl = 0;
    ChunkHeader movi;
    if (!skipJunk(file, position, fileBytes, junkAfterHdrl) ||
        !readHeader(file, position, fileBytes, kListHeaderBytes, movi) ||
        movi.code != aviFourcc("LIST") || movi.type != aviFourcc("movi") || movi.size < 4) {
        return LayoutFault::MoviTag;
    }
    layout.moviSize = movi.size;
    layout.moviDataStart = static_cast<int64_t>(hdrl.size) + junkAfterHdrl + 32;
    layout.moviEnd = layout.moviDataStart - 4 + static_cast<int64_t>(movi.size);
    // A "movi" list that reaches past the end of the file leaves no room for the index, which
    // is what the reader must find next.
    if (layout.moviEnd > fileBytes) {
        return LayoutFault::Idx1Tag;
    }

    position = layout.moviEnd;
    int64_t junkAfterMovi = 0;
    ChunkHeader idx1;
    if (!skipJunk(file, position, fileBytes, junkAfterMovi) ||
        !readHeader(file, position, fileBytes, kChunkHeaderBytes, idx1) ||
        idx1.code != aviFourcc("idx1")) {
        return LayoutFault::Idx1Tag;
    }
    layout.idx1Size = idx1.size;
    layout.idx1DataStart =
        layout.moviDataStart + static_cast<int64_t>(movi.size) + junkAfterMovi + 4;
    // Positions are kept in 32 bits by the handle; a file whose index lies beyond that is not
    // one this system wrote.
    if (layout.idx1DataStart > INT32_MAX) {
        return LayoutFault::Idx1Tag;
    }
    // An index cut short (a truncated copy) still serves the entries it has.
    const int64_t indexBytes =
        std::min<int64_t>({static_cast<int64_t>(idx1.size), fileBytes - layout.idx1DataStart,
                           INT32_MAX - layout.idx1DataStart});
    layout.indexEntries = indexBytes / kIndexEntryBytes;
    return LayoutFault::None;
}

const char* faultMessage(LayoutFault fault) {
    switch (fault) {
    case LayoutFault::AviTag:
        return "AVI tag fail!\n";
    case LayoutFault::HdrlTag:
        return "hdrl tag fail!\n";
    case LayoutFault::MoviTag:
        return "movi tag fail!\n";
    case LayoutFault::Idx1Tag:
        return "idxl tag fail!\n";
    case LayoutFault::None:
        break;
    }
    return "";
}

int64_t findStreamList(FILE* file, int64_t listBase, int64_t regionEnd, int n, uint32_t* listSize) {
    if (n < 0 || n >= kMaxStreams) {
        return -1;
    }
    int64_t position = listBase;
    for (int skipped = 0;; ++skipped) {
        ChunkHeader header;
        if (!readHeader(file, position, regionEnd, kListHeaderBytes, header)) {
            return -1;
        }
        const int64_t end = position + kChunkHeaderBytes + paddedSize(header.size);
        if (end > regionEnd) {
            return -1;
        }
        if (skipped == n) {
            if (header.code != aviFourcc("LIST") || header.type != aviFourcc("strl") ||
                header.size < 4) {
                return -1;
            }
            *listSize = header.size;
            return position;
        }
        position = end;
    }
}

} // namespace avi_layout
