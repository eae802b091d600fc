#pragma once

#include <mutex>
#include <string>

struct sqlite3_stmt;

namespace sqlite3x {

class sqlite3_command;

// Rows of a running statement, read by 0-based column position.
//
// Holds the connection's owner lock from executereader until read() returns false, close() is
// called or the reader is destroyed, so a reader sees no other thread's changes half done.
class sqlite3_reader {
public:
    sqlite3_reader(sqlite3_reader&& other) noexcept;
    sqlite3_reader& operator=(sqlite3_reader&&) = delete;
    sqlite3_reader(const sqlite3_reader&) = delete;
    sqlite3_reader& operator=(const sqlite3_reader&) = delete;
    ~sqlite3_reader();

    // Steps to the next row; false at the end, after which the connection is released.
    bool read();
    // Ends the statement early and releases the connection.
    void close();

    // Columns of the current row. NULL reads as 0 and as empty text. A position outside the row,
    // or a call without a current row, raises database_error.
    int getint(int column);
    long long getint64(int column);
    std::string getstrChar(int column);
    bool isnull(int column);
    int columncount();

private:
    friend class sqlite3_command;
    sqlite3_reader(sqlite3_command& command, std::unique_lock<std::recursive_mutex> hold);

    sqlite3_stmt* current(int column);

    sqlite3_command* m_command; // null once closed
    std::unique_lock<std::recursive_mutex> m_hold;
    bool m_hasRow = false;
};

} // namespace sqlite3x
