#pragma once

// What the writer, the reader and the repair share about where things lie in a recording.
// Every size found in a file is checked against the file's length here, before anyone uses it.

#include <cstdint>
#include <cstdio>

struct AviFile;

namespace avi_layout {

constexpr int64_t kChunkHeaderBytes = 8; // code, size
constexpr int64_t kListHeaderBytes = 12; // "LIST", size, type
constexpr int64_t kStrlListBytes = 124;  // list header, "strh" chunk (64), "strf" header, 40
constexpr uint32_t kStrlListSize = 116;  // the size field of such a list
constexpr int64_t kIndexEntryBytes = 16;
constexpr int64_t kFirstStreamList = 88; // behind "RIFF", "LIST hdrl" and the "avih" chunk
constexpr int kMaxStreams = 100;         // stream numbers are two decimal digits
// Bytes "movi" may reach with its last chunk: the writer's limit plus a chunk no camera frame
// comes near. It keeps every position in 32 bits and the whole file under 4 GiB.
constexpr int64_t kMoviHardLimit = 0x30000000;

inline uint32_t loadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void storeU32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

// RIFF chunks are padded to an even number of bytes.
inline int64_t paddedSize(uint32_t size) {
    return static_cast<int64_t>(size) + (size & 1);
}

// "NNdc" for video ("vids"), "NNwb" for audio ("auds"), "NNgm" for anything else.
uint32_t chunkCodeFor(int streamNumber, uint32_t streamType);
// The stream number of a chunk code, or -1 when its first two bytes are not digits.
int streamNumberOf(uint32_t chunkCode);

// The top-level structure of a finished recording: "RIFF AVI ", "LIST hdrl", an optional
// "JUNK", "LIST movi", an optional "JUNK", "idx1".
struct Layout {
    uint32_t riffSize = 0;
    uint32_t hdrlSize = 0;
    uint32_t moviSize = 0;
    uint32_t idx1Size = 0;
    int64_t moviDataStart = 0; // the byte after the "movi" code
    int64_t moviEnd = 0;       // the byte after the "movi" list
    int64_t idx1DataStart = 0; // the first index entry
    int64_t indexEntries = 0;  // whole entries inside the file
};

enum class LayoutFault { None, AviTag, HdrlTag, MoviTag, Idx1Tag };

// Walks the top-level chunks of `file` (`fileBytes` long). A list or chunk that would reach
// past the end of the file is a fault of the step that found it; an "idx1" that does is cut
// to the entries inside the file.
LayoutFault readLayout(FILE* file, int64_t fileBytes, Layout& layout);

// The line the reader prints for a fault ("AVI tag fail!\n" ...).
const char* faultMessage(LayoutFault fault);

// Position of the n-th list (0-based) from `listBase`, skipping lists and chunks as they come,
// when it is a "LIST" of type "strl" that ends by `regionEnd`; -1 otherwise. Its size field
// goes to `listSize`.
int64_t findStreamList(FILE* file, int64_t listBase, int64_t regionEnd, int n, uint32_t* listSize);

// aviOpen for reading (AviReader.cpp).
AviFile* openReader(const char* path);

} // namespace avi_layout
