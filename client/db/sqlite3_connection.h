#pragma once

#include <filesystem>
#include <mutex>
#include <string>

struct sqlite3;

namespace sqlite3x {

// One open database file, shared by every thread of the program.
//
// SQLite runs in serialized mode, so each single call is safe from any thread; what it does not
// give is isolation between threads that share one connection: a statement run by one thread
// while another has a transaction open would become part of that transaction, and be undone by
// its rollback. So the connection has one owner lock (recursive, so the owner can nest):
//   - a transaction holds it from begin until commit or rollback,
//   - a reader holds it from executereader until it reaches the end or is destroyed,
//   - every other call (prepare, execute) holds it for the call.
// A thread that runs statements therefore waits while another thread's transaction or reader is
// open, and never sees half of one. The lock is released by the thread that took it, so
// transactions and readers stay on the thread that made them.
//
// Commands, readers and transactions must end before the connection is closed or destroyed.
class sqlite3_connection {
public:
    sqlite3_connection() = default;
    sqlite3_connection(const sqlite3_connection&) = delete;
    sqlite3_connection& operator=(const sqlite3_connection&) = delete;
    // Closes the file.
    ~sqlite3_connection();

    // Opens the file, closing any file open before. A missing file is created empty, readable by
    // the user only: every statement then fails, as it must on a file without tables. No table is
    // created and no schema is checked. Raises database_error when the file cannot be opened.
    void open(const wchar_t* path);
    void open(const char* utf8Path);
    void open(const std::filesystem::path& path);
    void close();
    bool isopen();

    // Runs fixed statement text without result rows (schema work, pragmas, transaction control);
    // unlike sqlite3_command it runs every statement of the text, so it never takes formatted
    // text. Returns the number of rows the last statement changed.
    int executenonquery(const char* sql);

private:
    friend class sqlite3_command;
    friend class sqlite3_reader;
    friend class sqlite3_transaction;

    // The handle for a call made while holding m_owner; raises when no file is open.
    sqlite3* handle();
    // The failure text of the last call on this connection, read while holding m_owner so no
    // other thread's call can replace it.
    std::string lastError();

    std::recursive_mutex m_owner;
    sqlite3* m_db = nullptr;    // guarded by m_owner
    int m_transactionDepth = 0; // guarded by m_owner; open transactions, outermost first
};

} // namespace sqlite3x
