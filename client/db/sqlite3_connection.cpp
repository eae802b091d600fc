#include "db/sqlite3_connection.h"

#include "db/database_error.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstring>

namespace sqlite3x {
namespace {

// A writer from another process (an operator's sqlite3 shell, a copy in progress) holds the file
// only briefly; waiting this long beats failing the statement.
constexpr int kBusyTimeoutMs = 2000;

void appendUtf8(std::string& out, char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Wide text is UTF-16 where wchar_t has 16 bits and UTF-32 elsewhere; SQLite wants UTF-8.
std::string wideToUtf8(const wchar_t* text) {
    std::string out;
    for (const wchar_t* at = text; *at; ++at) {
        char32_t code = static_cast<char32_t>(*at);
        if constexpr (sizeof(wchar_t) == 2) {
            if (code >= 0xD800 && code <= 0xDBFF && at[1] >= 0xDC00 && at[1] <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(at[1]) - 0xDC00);
                ++at;
            }
        }
        appendUtf8(out, code);
    }
    return out;
}

// SQLite would create a missing file with the process's default mode; the database holds camera
// passwords, so it is made here first, readable by the user only. Journal files take the
// database file's mode.
void createPrivateIfMissing(const char* path) {
    if (std::strcmp(path, ":memory:") == 0 || std::strncmp(path, "file:", 5) == 0)
        return;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

sqlite3_connection::~sqlite3_connection() {
    close();
}

void sqlite3_connection::open(const wchar_t* path) {
    if (!path)
        throw database_error("open: no file name");
    const std::string utf8 = wideToUtf8(path);
    open(utf8.c_str());
}

void sqlite3_connection::open(const std::filesystem::path& path) {
    open(path.string().c_str());
}

void sqlite3_connection::open(const char* utf8Path) {
    if (!utf8Path || !*utf8Path)
        throw database_error("open: no file name");
    if (!sqlite3_threadsafe())
        throw database_error("open: the SQLite library was built without thread safety");
    std::lock_guard hold(m_owner);
    close();
    createPrivateIfMissing(utf8Path);
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(
        utf8Path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (result != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(result);
        sqlite3_close_v2(db);
        throw database_error("open " + std::string(utf8Path) + ": " + message);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    m_db = db;
    m_transactionDepth = 0;
}

void sqlite3_connection::close() {
    std::lock_guard hold(m_owner);
    if (!m_db)
        return;
    // close_v2 defers the close until commands still alive are finalized, instead of failing.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_transactionDepth = 0;
}

bool sqlite3_connection::isopen() {
    std::lock_guard hold(m_owner);
    return m_db != nullptr;
}

int sqlite3_connection::executenonquery(const char* sql) {
    std::lock_guard hold(m_owner);
    sqlite3* db = handle();
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : lastError();
        sqlite3_free(error);
        throw database_error(message);
    }
    return sqlite3_changes(db);
}

sqlite3* sqlite3_connection::handle() {
    if (!m_db)
        throw database_error("database is not open");
    return m_db;
}

std::string sqlite3_connection::lastError() {
    return m_db ? sqlite3_errmsg(m_db) : "database is not open";
}

} // namespace sqlite3x
