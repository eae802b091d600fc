#pragma once

#include "db/sqlite3x.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace dbtest {

namespace fs = std::filesystem;

// A folder of its own under /tmp, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "vistaro-db-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

inline fs::path deliveredFile() {
    return VISTARO_DELIVERED_DB;
}

// A copy of the delivered database, open.
class DeliveredCopy {
public:
    DeliveredCopy() : m_file(m_folder.path() / "doDAV.db") {
        fs::copy_file(deliveredFile(), m_file);
        con.open(m_file);
    }
    const fs::path& file() const { return m_file; }
    const fs::path& folder() const { return m_folder.path(); }

private:
    TempFolder m_folder;
    fs::path m_file;

public:
    sqlite3x::sqlite3_connection con;
};

// What the sqlite3 program prints for `sql` on `file`: an oracle for what our code wrote that
// shares none of our code.
inline std::string sqliteShell(const fs::path& file, const std::string& sql) {
    TempFolder scratch;
    const fs::path script = scratch.path() / "script.sql";
    std::ofstream(script) << sql << "\n";
    const std::string command =
        "sqlite3 -batch -readonly '" + file.string() + "' < '" + script.string() + "' 2>&1";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, got);
        ::pclose(pipe);
    }
    return out;
}

inline int count(sqlite3x::sqlite3_connection& con, const std::string& sql) {
    return sqlite3x::sqlite3_command(con, sql).executeint();
}

inline unsigned modeOf(const fs::path& path) {
    return static_cast<unsigned>(fs::status(path).permissions()) & 0777u;
}

} // namespace dbtest
