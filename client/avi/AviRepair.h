#pragma once

// Rebuilding a recording whose program stopped before aviClose.
//
// Such a file has its header lists and its chunks on disk, but zero RIFF, "hdrl" and "movi"
// sizes and no "idx1", so no reader accepts it. Its side file "<path>_idx" holds the index
// entries written so far, possibly fewer or more than the chunks that reached the disk (both
// streams are buffered). aviRepair takes every side-file entry that matches its chunk on disk,
// then scans the chunks behind them (bounded by the file and by kAviMoviLimit), cuts off a
// chunk that was only partly written, appends "idx1" and patches the sizes, the main header's
// frame count and the stream lengths. Chunks found by the scan are key frames when they hold an
// H.264 IDR picture or parameter set, or a JPEG picture.

#include <cstdint>

enum class AviRepairResult {
    Repaired,        // the index and the sizes were rebuilt; the file now opens for reading
    AlreadyComplete, // the file was finished by aviClose; it was left as it was
    CannotOpen,      // the file does not exist or cannot be written
    NotARecording,   // no "RIFF AVI ", "hdrl", "avih", stream lists and "movi" where this
                     // library writes them; the file was left as it was
    WriteFailed,     // the index or the sizes could not be written (disk or memory ran out);
                     // the file may be partly patched, and repairing it again is safe
};

struct AviRepairReport {
    int videoFrames = 0;      // video chunks in the rebuilt index
    int audioChunks = 0;      // audio chunks in the rebuilt index
    int fromSideFile = 0;     // entries taken from the side file
    int fromScan = 0;         // entries found by scanning the chunks behind those
    int64_t droppedBytes = 0; // bytes cut from the end: a partial chunk, an unfinished index
};

// Repairs the recording at `path` (UTF-8). On Repaired and AlreadyComplete the side file, which
// has nothing left to give, is deleted. `report` may be null.
AviRepairResult aviRepair(const char* path, AviRepairReport* report = nullptr);

// A short English name of a result, for logs.
const char* aviRepairResultName(AviRepairResult result);
