#pragma once

// Real small file systems for the record-disk guard: each test mounts tmpfs file systems of a
// given size (tmpfs reports free space exactly, in pages of 4096 bytes) on folders of its own
// temporary folder, with a copy of the delivered database and an application log beside them.

#include "common/AppLog.h"
#include "db/Statements.h"
#include "db/sqlite3x.h"
#include "device/PubFun.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace pubfuntest {

namespace fs = std::filesystem;
constexpr uint64_t kMiB = 1024 * 1024;

inline uint64_t freeBytes(const fs::path& path) {
    struct statvfs info {};
    return ::statvfs(path.c_str(), &info) == 0 ? uint64_t{info.f_bavail} * info.f_frsize : 0;
}

// A file of `bytes` really allocated (a sparse file would take no space).
inline bool writeFile(const fs::path& file, uint64_t bytes) {
    fs::create_directories(file.parent_path());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = bytes == 0 || ::posix_fallocate(fd, 0, static_cast<off_t>(bytes)) == 0;
    ::close(fd);
    return ok;
}

// Grows or shrinks `dir`/filler.bin until the file system has exactly `target` bytes free.
inline bool fillTo(const fs::path& dir, uint64_t target) {
    const fs::path filler = dir / "filler.bin";
    for (int attempt = 0; attempt < 4; ++attempt) {
        const uint64_t now = freeBytes(dir);
        if (now == target)
            return true;
        const uint64_t size = fs::exists(filler) ? fs::file_size(filler) : 0;
        if (now + size < target || !writeFile(filler, size + now - target))
            return false;
    }
    return freeBytes(dir) == target;
}

class PubFunTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vistaro-pubfun-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        fs::copy_file(VISTARO_DELIVERED_DB, m_folder / "doDAV.db");
        database.open(m_folder / "doDAV.db");
        fs::create_directory(m_folder / "log");
        log = client::AppLog::open(m_folder / "log");
        ASSERT_NE(log, nullptr);
    }
    void TearDown() override {
        pubFun.reset();
        database.close();
        for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    // A tmpfs of `megabytes` on a new folder; empty with `skipReason` set when it cannot be had.
    fs::path mountTmpfs(const std::string& name, unsigned megabytes) {
        const fs::path where = m_folder / name;
        fs::create_directories(where);
        if (::geteuid() != 0) {
            skipReason = "needs root to mount a tmpfs of known size";
            return {};
        }
        const std::string options = "size=" + std::to_string(megabytes) + "m";
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            skipReason = "cannot mount tmpfs: " + std::string(std::strerror(errno));
            return {};
        }
        m_mounts.push_back(where);
        return where;
    }
    static bool setReadOnly(const fs::path& mount, bool readOnly) {
        return ::mount(nullptr, mount.c_str(), nullptr, MS_REMOUNT | (readOnly ? MS_RDONLY : 0),
                       nullptr) == 0;
    }

    // The `path` row with these record folders, and the current folder in the configuration.
    void configure(const std::string& folders, const std::string& current) {
        db::insertPathRow(database, {"/logs", "/pictures", 0, 0, folders});
        db::updateConfig(database, "recordpath", current);
    }
    client::CPubFun& make(client::PubFunOptions options = {}) {
        pubFun = std::make_unique<client::CPubFun>(database, databaseLock, log.get(), options);
        return *pubFun;
    }
    // A recording of `bytes` at <root>/Recordfiles_<camera>/<name>, registered with `date`.
    fs::path record(const fs::path& root, const std::string& camera, const std::string& name,
                    const std::string& date, uint64_t bytes) {
        const fs::path file = root / ("Recordfiles_" + camera) / name;
        EXPECT_TRUE(writeFile(file, bytes)) << file;
        db::insertRecordFile(database, {camera, file.string(), 1, date});
        return file;
    }
    std::vector<std::string> rows() {
        std::vector<std::string> names;
        for (const db::RecordFileRow& row : db::selectRecordFiles(database))
            names.push_back(row.filename);
        return names;
    }
    std::string logText() const {
        std::ifstream in(log->path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const fs::path& folder() const { return m_folder; }

    sqlite3x::sqlite3_connection database;
    std::mutex databaseLock;
    std::unique_ptr<client::AppLog> log;
    std::unique_ptr<client::CPubFun> pubFun;
    std::string skipReason;

private:
    fs::path m_folder;
    std::vector<fs::path> m_mounts;
};

#define MOUNT_OR_SKIP(var, name, megabytes)                                                        \
    const fs::path var = mountTmpfs(name, megabytes);                                              \
    if (var.empty())                                                                               \
    GTEST_SKIP() << skipReason

// Polls `condition` every 10 ms for up to `timeoutMs`.
template <class Condition> bool waitUntil(Condition condition, unsigned timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace pubfuntest
