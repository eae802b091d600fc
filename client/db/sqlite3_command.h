#pragma once

#include "db/sqlite3_reader.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3_stmt;

namespace sqlite3x {

class sqlite3_connection;

// One prepared statement. Indexes of bind() are 1-based. A command can be run again after it
// finished (bindings stay until they are replaced), which is how one statement serves a loop.
//
// Exactly one statement: text that goes on past the first statement is refused, so a value that
// slipped unescaped into formatted text could never run a second statement.
//
// A command belongs to one thread at a time; the connection it runs on may be shared.
class sqlite3_command {
public:
    sqlite3_command(sqlite3_connection& connection, const char* sql);
    sqlite3_command(sqlite3_connection& connection, const std::string& sql);
    sqlite3_command(const sqlite3_command&) = delete;
    sqlite3_command& operator=(const sqlite3_command&) = delete;
    ~sqlite3_command();

    void bind(int index); // NULL
    void bind(int index, int value);
    void bind(int index, long long value);
    // `length` in bytes; a negative length reads up to the terminating NUL. The text is copied.
    void bind(int index, const char* text, int length);
    void bind(int index, std::string_view text);

    // Runs the statement to its end; returns the number of rows it changed.
    int executenonquery();
    // Runs the statement and hands its rows out one at a time. The reader holds the connection
    // (see sqlite3_connection) until it reaches the end or is destroyed, and must not outlive
    // this command.
    sqlite3_reader executereader();
    // The first column of the first row; raises when the statement gives no row.
    int executeint();
    long long executeint64();
    std::string executestring();

private:
    friend class sqlite3_reader;

    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };

    void checkBind(int result, int index);

    sqlite3_connection& m_connection;
    std::unique_ptr<sqlite3_stmt, StatementDeleter> m_statement;
};

} // namespace sqlite3x
