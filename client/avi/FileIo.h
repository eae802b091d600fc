#pragma once

// File access of the AVI library. The header region of a recording is patched with positioned
// writes while the chunks stream through the stdio buffer behind it, so a header rewrite after
// every frame costs one small write and never flushes the chunk stream. Readers use positioned
// reads, which need no stream position and let every read be checked against the file length.
// The operating-system side lives in a file per platform.

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace avi_io {

// `utf8Path` opened with a stdio `mode`; null on failure with errno set.
FILE* openFile(const char* utf8Path, const char* mode);
bool fileExists(const char* utf8Path);
bool removeFile(const char* utf8Path);

// Length of the file behind `file`, -1 on failure. Bytes still in its stdio buffer are not
// counted.
int64_t fileLength(FILE* file);

// All `length` bytes at `position`, or false. Neither call moves or flushes the stdio stream.
bool readAt(FILE* file, int64_t position, void* data, size_t length);
bool writeAt(FILE* file, int64_t position, const void* data, size_t length);

// Cuts the file to `length` bytes (the stdio buffer must be flushed first).
bool truncateFile(FILE* file, int64_t length);

} // namespace avi_io
