#include "PrivateFile.h"

#include <fcntl.h>
#include <unistd.h>

namespace client {

std::FILE* createPrivateFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

} // namespace client
