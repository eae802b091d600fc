#include "sys/DataFolder.h"

#include "sys/Descriptor.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace sys {
namespace {

namespace fs = std::filesystem;

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

using sys::Descriptor;

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool needsSeed(const fs::path& file) {
    std::error_code error;
    const auto status = fs::status(file, error);
    if (!fs::exists(status))
        return true;
    return fs::is_regular_file(status) && fs::file_size(file, error) == 0 && !error;
}

} // namespace

fs::path executableFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return exe.parent_path();
}

bool canCreateFilesIn(const fs::path& folder) {
    if (folder.empty())
        return false;
    std::string probe = (folder / ".vistaro-probe-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

fs::path chooseDataFolder(const char* homeOverride, const fs::path& exeFolder,
                          const char* userHome) {
    if (homeOverride && *homeOverride)
        return fs::path(homeOverride);
    if (canCreateFilesIn(exeFolder))
        return exeFolder;
    if (userHome && *userHome)
        return fs::path(userHome) / ".local" / "share" / "vistaro";
    return {};
}

fs::path dataFolder() {
    const char* home = std::getenv("HOME");
    std::string passwdHome;
    if (!home || !*home) {
        // No HOME (a service, a stripped environment): the account's home from the user database.
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            passwdHome = found->pw_dir;
            home = passwdHome.c_str();
        }
    }
    return chooseDataFolder(std::getenv(kDataHomeVariable), executableFolder(), home);
}

bool makePrivateFolder(const fs::path& folder, std::error_code& error) {
    error.clear();
    if (folder.empty()) {
        error = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    std::vector<fs::path> missing;
    for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
        std::error_code ignored;
        if (fs::exists(at, ignored))
            break;
        missing.push_back(at);
        if (at == at.parent_path())
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
            error = lastError();
            return false;
        }
    }
    if (!fs::is_directory(folder, error)) {
        if (!error)
            error = std::make_error_code(std::errc::not_a_directory);
        return false;
    }
    return true;
}

bool copyPrivateFile(const fs::path& from, const fs::path& to, std::error_code& error) {
    error.clear();
    Descriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0) {
        error = lastError();
        return false;
    }
    std::string partial = to.string() + ".XXXXXX";
    // mkstemp creates the file 0600.
    Descriptor target(::mkstemp(partial.data()));
    if (target.get() < 0) {
        error = lastError();
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(source.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (!writeAll(target.get(), buffer, static_cast<size_t>(got))) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fsync(target.get()) == 0;
    if (!ok)
        error = lastError();
    if (!target.close() && ok) {
        ok = false;
        error = lastError();
    }
    if (ok && ::rename(partial.c_str(), to.c_str()) != 0) {
        ok = false;
        error = lastError();
    }
    if (!ok)
        ::unlink(partial.c_str());
    return ok;
}

bool seedDataFolder(const fs::path& folder, const fs::path& deliveredFolder,
                    std::error_code& error) {
    error.clear();
    for (const char* name : kSeededFiles) {
        const fs::path delivered = deliveredFolder / name;
        const fs::path target = folder / name;
        std::error_code ignored;
        if (!fs::is_regular_file(delivered, ignored) || !needsSeed(target))
            continue;
        // The portable install: the data folder is the delivery folder, nothing to copy.
        if (fs::equivalent(delivered, target, ignored))
            continue;
        if (!copyPrivateFile(delivered, target, error))
            return false;
    }
    return true;
}

fs::path prepareDataFolder(std::error_code& error) {
    const fs::path folder = dataFolder();
    if (folder.empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    if (!makePrivateFolder(folder, error))
        return {};
    if (!seedDataFolder(folder, executableFolder(), error))
        return {};
    return folder;
}

} // namespace sys
