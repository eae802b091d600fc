#pragma once

// Snapshots: the JPEG a camera sends back after SendPtz(25) (control event 25) written as it
// came to <picture folder>/Images_<host>/<local time YYYYMMDDhhmmss>.jpg.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace client {
class AppLog;
}

namespace Device {

class SnapshotWriter {
public:
    // A picture larger than this is not a snapshot but a broken or hostile answer.
    static constexpr size_t kMaxBytes = 8u << 20;
    // How many pictures of one second get their own file before later ones are dropped.
    static constexpr int kMaxPerSecond = 1000;

    // Lines about dropped pictures go to `log` when it is not null; it must outlive the writer.
    explicit SnapshotWriter(client::AppLog* log = nullptr) : m_log(log) {}

    // The snapshot folder of a camera: <pictureRoot>/Images_<host>. Path separators in the host
    // (it comes from the database) become '_', so the folder stays inside the picture root.
    static std::filesystem::path folderFor(const std::filesystem::path& pictureRoot,
                                           std::string_view host);

    // Creates `folder` when missing and writes `length` bytes unchanged to a new file named
    // after the local time of `when`. The first picture of a second takes the plain name
    // "<stamp>.jpg"; later pictures of the same second take "<stamp>_1.jpg", "<stamp>_2.jpg"...
    // An existing file is never overwritten.
    //
    // Returns the file written. Nothing is written (and the reason is logged) for an empty or
    // oversized picture, a folder or file that cannot be created, or a failed write, which
    // leaves no partial file behind.
    //
    // Runs on the network control thread; safe to call from several threads at once.
    std::optional<std::filesystem::path>
    write(const std::filesystem::path& folder, const void* data, size_t length,
          std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) const;

    // "YYYYMMDDhhmmss" of `when` in local time.
    static std::string stamp(std::chrono::system_clock::time_point when);

private:
    void log(const std::string& message) const;

    client::AppLog* m_log;
};

} // namespace Device
