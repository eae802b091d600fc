#include "device/Disk.h"

#include "sys/Descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace client::disk {
namespace {

namespace fs = std::filesystem;

using sys::Descriptor;

} // namespace

std::optional<DiskSpace> querySpace(const fs::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0)
        return std::nullopt;
    return spaceFromBlocks(info.f_blocks, info.f_bavail, info.f_frsize);
}

std::optional<uint64_t> driveOf(const fs::path& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(info.st_dev);
}

Presence presence(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0)
        return Presence::Present;
    return errno == ENOENT || errno == ENOTDIR ? Presence::Missing : Presence::Unknown;
}

bool canCreateIn(const fs::path& folder, const char* name) {
    const fs::path probe = folder / name;
    ::unlink(probe.c_str());
    const int fd =
        ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

bool removeRecording(const fs::path& root, const fs::path& file) {
    const fs::path cameraFolder = file.parent_path().filename();
    const fs::path name = file.filename();
    if (cameraFolder.empty() || name.empty() || cameraFolder == ".." || name == "..")
        return false;
    const Descriptor rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd.valid())
        return false;
    const Descriptor folderFd(::openat(rootFd.get(), cameraFolder.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folderFd.valid())
        return false;
    return ::unlinkat(folderFd.get(), name.c_str(), 0) == 0;
}

} // namespace client::disk
