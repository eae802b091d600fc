#include "device/control/SnapshotWriter.h"

#include "common/AppLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace Device {

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

fs::path candidate(const fs::path& folder, const std::string& stamp, int serial) {
    std::string name = stamp;
    if (serial > 0)
        name += "_" + std::to_string(serial);
    return folder / (name + ".jpg");
}

} // namespace

fs::path SnapshotWriter::folderFor(const fs::path& pictureRoot, std::string_view host) {
    std::string name = "Images_";
    for (char c : host)
        name += (c == '/' || c == '\\') ? '_' : c;
    return pictureRoot / name;
}

std::string SnapshotWriter::stamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%.4d%.2d%.2d%.2d%.2d%.2d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::optional<fs::path> SnapshotWriter::write(const fs::path& folder, const void* data,
                                              size_t length,
                                              std::chrono::system_clock::time_point when) const {
    if (!data || length == 0) {
        log("snapshot dropped: the camera sent no picture");
        return std::nullopt;
    }
    if (length > kMaxBytes) {
        log("snapshot dropped: " + std::to_string(length) + " bytes is more than a picture");
        return std::nullopt;
    }
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        log("snapshot dropped: cannot create " + folder.string() + ": " + error.message());
        return std::nullopt;
    }

    // Exclusive creation ("x") picks the name atomically, so two pictures of the same second,
    // even from two sessions of the same camera at once, never land in one file.
    const std::string name = stamp(when);
    File file;
    fs::path path;
    for (int serial = 0; serial < kMaxPerSecond && !file; ++serial) {
        path = candidate(folder, name, serial);
        file.reset(std::fopen(path.c_str(), "wbx"));
        if (!file && errno != EEXIST) {
            log("snapshot dropped: cannot create " + path.string() + ": " + std::strerror(errno));
            return std::nullopt;
        }
    }
    if (!file) {
        log("snapshot dropped: " + std::to_string(kMaxPerSecond) + " pictures in " + name);
        return std::nullopt;
    }

    const bool written = std::fwrite(data, 1, length, file.get()) == length;
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        log("snapshot dropped: writing " + path.string() + " failed");
        fs::remove(path, error);
        return std::nullopt;
    }
    return path;
}

void SnapshotWriter::log(const std::string& message) const {
    LOG_WRITE(m_log, "SnapshotWriter::write", message);
}

} // namespace Device
