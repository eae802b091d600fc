#pragma once

// What the record-disk guard asks of the file system. A "drive" is the file system that holds a
// path: two paths are on one drive when they have the same device id. Free space is what an
// unprivileged writer may still use, since the recorder does not run with reserved blocks.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace client::disk {

struct DiskSpace {
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;
};

// Space from the block counts a file system reports (statvfs: f_blocks, f_bavail, f_frsize).
constexpr DiskSpace spaceFromBlocks(uint64_t blocks, uint64_t availableBlocks, uint64_t blockSize) {
    return {blocks * blockSize, availableBlocks * blockSize};
}

// Recording needs more than this many free bytes; exactly this many is not enough.
inline constexpr uint64_t kEnoughFreeBytes = 268435456; // 256 MiB

// Whether `freeBytes` is above the floor plus `extra`. The sum is taken in 64 bits: in 32 bits
// the "plenty" check (extra = 256 MiB) would still fit, but any larger extra would wrap.
constexpr bool isAboveFloor(uint64_t freeBytes, uint32_t extra) {
    return freeBytes > kEnoughFreeBytes + extra;
}

// The space of the file system holding `path`; nothing when it cannot be asked.
std::optional<DiskSpace> querySpace(const std::filesystem::path& path);

// The device id of the file system holding `path` (symbolic links followed); nothing when the
// path cannot be reached.
std::optional<uint64_t> driveOf(const std::filesystem::path& path);

enum class Presence { Present, Missing, Unknown };
// Whether a directory entry named `path` exists. Unknown when the answer is not "no such file"
// (no permission, I/O error): the caller must not treat such a file as gone.
Presence presence(const std::filesystem::path& path);

// Proves that a file can be created in `folder`: creates `name` there as a new file (failing
// when it exists) and removes it again. A stale probe left by a crash is removed first.
bool canCreateIn(const std::filesystem::path& folder, const char* name);

// Deletes the recording `file`, which must be `root`/<camera folder>/<name>. The camera folder is
// opened without following a symbolic link and the name is removed relative to it, so a link
// planted in the record folder can never lead the delete out of `root`, not even by swapping
// the folder between a check and the delete. A name that is itself a link loses only the link.
bool removeRecording(const std::filesystem::path& root, const std::filesystem::path& file);

} // namespace client::disk
