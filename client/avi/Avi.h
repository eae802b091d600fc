#pragma once

// The recording file format: RIFF AVI with one video stream (H.264 or MJPEG frames stored as the
// camera sent them) and one audio stream (8 kHz 16-bit mono PCM).
//
// The writer streams chunks into the "movi" list and keeps the index entries in a side file
// ("<path>_idx"); aviClose appends them as "idx1" and patches the sizes. Until then the file on
// disk has zero sizes and no index, so a recording whose program stopped early cannot be read:
// aviRepair (AviRepair.h) rebuilds it. The reader walks the "movi" chunks in order and pairs
// chunk n with index entry n.
//
// All sizes and offsets in the file are little-endian 32-bit; four-character codes are their
// ASCII bytes in reading order (aviFourcc). Paths are UTF-8.
//
// Threads: one handle is used by one thread at a time; the recorder serialises its calls.

#include <cstdint>
#include <cstdio>
#include <mutex>

// A four-character code as it lies in the file, read as a little-endian word.
constexpr uint32_t aviFourcc(const char (&text)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

// Modes of aviOpen (a bit set; these two are the only ones in use).
enum AviMode : int32_t {
    kAviWrite = 1, // a new file, truncated if it exists
    kAviRead = 2,  // an existing, finished file
};

// Results of the calls below: 0 success, negative failure, small positive values are states.
enum AviResult : int {
    kAviOk = 0,
    kAviNoMainHeader = 1,    // aviReadMainHeader: no "avih" at avihPos
    kAviEndOfMovi = 2,       // aviReadChunk: no further complete chunk in "movi"
    kAviNoKeyFrame = -1,     // aviSeekFrame: no key frame within 100 entries of the target
    kAviBadArgument = -2,    // null handle or pointer, a stream that does not exist, wrong mode
    kAviNoRoom = -5,         // the file is full (see kAviMoviLimit) or the disk refused the bytes
    kAviBufferTooSmall = -6, // aviReadChunk: `length` now holds the bytes needed
    kAviPositionError = -8,  // aviSeekFrame: the index ends before the frame; a read failed
};

// A new file accepts chunks while the bytes already in "movi" do not exceed this (256 MiB), so
// every file stays far below the 1 GiB that plain AVI readers expect.
constexpr int32_t kAviMoviLimit = 0x10000000;

// One open file, created by aviOpen and freed by aviClose. The fields are public because the
// recorder and the playback reader grew up with them; only the calls below change them.
struct AviFile {
    FILE* file = nullptr;      // the AVI file
    FILE* indexFile = nullptr; // writer: the side file of index entries; reader: same as `file`
    int32_t streamCount = 0;   // streams added (writer)
    int32_t mode = 0;          // kAviWrite or kAviRead
    int32_t entryCount = 0;    // writer: entries written; reader: entry of the next chunk

    // File positions. The reader expects the main header and the stream lists where the writer
    // puts them (avihPos 24, strlBase 88).
    int32_t riffSizePos = 4;
    int32_t hdrlSizePos = 16;
    int32_t moviSizePos = 0;
    int32_t idx1SizePos = 0; // reader
    int32_t avihPos = 24;
    int32_t strlBase = 88;
    int32_t moviDataStart = 0; // the byte after the "movi" code
    int32_t idx1DataStart = 0; // reader; 0 for the writer, whose entries start the side file

    int32_t strlBytes = 0;  // bytes of "strl" lists after strlBase (124 per stream)
    int32_t moviBytes = 0;  // writer: chunk bytes in "movi"; reader: next chunk from moviDataStart
    int32_t indexBytes = 0; // writer: bytes in the side file; reader: offset of the current entry

    // Sizes as read from the file (reader).
    uint32_t riffSize = 0;
    uint32_t hdrlSize = 0;
    uint32_t moviSize = 0;
    uint32_t idx1Size = 0;

    // Serialises stream registration (aviAddStream).
    std::mutex lock;

    // Bookkeeping the fields above do not carry.
    int64_t fileBytes = 0;    // reader: file length at open; every read is checked against it
    int32_t indexEntries = 0; // reader: whole index entries that lie inside the file
    int64_t appendPos = -1;   // writer: where the AVI stream stands, -1 when unknown
    int64_t sidePos = -1;     // writer: the same for the side file
};

// Opens `path` for writing (kAviWrite) or reading (kAviRead). Null on failure, after a line on
// standard output: "Open2: <reason>" (AVI file), "Open1: <reason>" (side file),
// "AVI malloc fail!", or for a reader one of "AVI tag fail!", "hdrl tag fail!",
// "movi tag fail!", "idxl tag fail!". A writer that fails may leave the files it created.
//
// The writer writes "RIFF", "LIST hdrl" with zero sizes; the caller then writes its main header
// (aviWriteMainHeader) and adds the video stream, then the audio stream.
AviFile* aviOpen(const char* path, int mode);

// Writes the 64-byte "avih" chunk image (code, size 56, main header) at avihPos. 0, -2 for a
// null argument, -5 when the bytes could not be written.
int aviWriteMainHeader(AviFile* file, const uint8_t avih[64]);

// Adds a stream: the "strl" list ("strh" chunk image of 64 bytes incl. code and size, "strf"
// of 40 bytes) goes behind the previous one and the "movi" list header behind it. The chunk
// code of the stream ("00dc" video, "01wb" audio, "gm" otherwise) goes to `chunkCode`.
// 0; -2 on a null argument, a reader handle, or once chunks were written (the lists would
// overwrite them); -5 when the bytes could not be written.
int aviAddStream(AviFile* file, const uint8_t strh[64], const uint8_t strf[40],
                 uint32_t* chunkCode);

// Appends one chunk (code, length, data, a zero byte when the length is odd) and its index
// entry (flags 16 for a key frame). 0; -2 for a null handle, a reader handle, a negative length
// or null data; -5 once more than kAviMoviLimit bytes are in "movi" or when the disk refused the
// bytes. After -5 the file is still finished correctly by aviClose.
int aviWriteChunk(AviFile* file, int isKey, uint32_t chunkCode, const void* data, int length);

// Rewrites the n-th "strl" list (0-based) in place, as aviAddStream wrote it. 0; -2 when the
// stream does not exist (or, for a reader, its list is not a 116-byte "strl"); -5 when the bytes
// could not be written (a reader opened read-only).
int aviRewriteStream(AviFile* file, int n, const uint8_t strh[64], const uint8_t strf[40]);

// Writer: appends "idx1" with the side file's entries, patches the RIFF, "hdrl" and "movi"
// sizes and cuts off anything behind the index. The side file stays on disk; the recorder
// deletes it. Reader: closes. The handle is freed in every case. 0; -2 for null; -5 when the
// index or the sizes could not be written (the side file then still allows aviRepair).
int aviClose(AviFile* file);

// Copies the 64 bytes at avihPos. 0 when they begin with "avih", 1 otherwise, -2 on null.
int aviReadMainHeader(AviFile* file, uint8_t buf[64]);

// Reads stream n (counted from 1): its "strh" chunk image, 40 bytes of its format and its
// chunk code. 0, or -2 on a null argument or when stream n is not in the "hdrl" list.
int aviReadStream(AviFile* file, int n, uint8_t strh[64], uint8_t strf[40], uint32_t* chunkCode);

// Reads the next chunk of "movi" (skipping "JUNK") into `buf`. On entry `length` holds the size
// of `buf`; on return the chunk length, and `isKey` the key flag of its index entry.
// `posBefore`/`posAfter` are the read position (from moviDataStart) before and after.
// 0; 2 when no further complete chunk is in "movi"; -6 when the chunk is larger than `buf`
// (`length` then holds the size needed, the position stays); -2 on a null argument or a
// writer handle; -8 when the file could not be read.
int aviReadChunk(AviFile* file, void* buf, int* isKey, uint32_t* code, int* length, int* posBefore,
                 int* posAfter);

// Moves the read position to the first key frame at or after video frame `videoFrame`
// (0-based), looking at most 100 index entries from that frame's entry; `skipped` counts the
// video frames passed over. 0; -1 when no key frame was found (the position stays); -8 when the
// index ends before that frame; -2 on a null argument.
int aviSeekFrame(AviFile* file, int videoFrame, int* skipped);
