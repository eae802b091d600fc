#include "avi/FileIo.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace avi_io {

FILE* openFile(const char* utf8Path, const char* mode) {
    // POSIX file names are bytes; UTF-8 passes through unchanged.
    return std::fopen(utf8Path, mode);
}

bool fileExists(const char* utf8Path) {
    struct stat info {};
    return ::stat(utf8Path, &info) == 0;
}

bool removeFile(const char* utf8Path) {
    return ::unlink(utf8Path) == 0;
}

int64_t fileLength(FILE* file) {
    struct stat info {};
    if (::fstat(fileno(file), &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

bool readAt(FILE* file, int64_t position, void* data, size_t length) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (length > 0) {
        const ssize_t got = ::pread(fileno(file), bytes, length, static_cast<off_t>(position));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        position += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

bool writeAt(FILE* file, int64_t position, const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t put = ::pwrite(fileno(file), bytes, length, static_cast<off_t>(position));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes += put;
        position += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

bool truncateFile(FILE* file, int64_t length) {
    return ::ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

} // namespace avi_io
