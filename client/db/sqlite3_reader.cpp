#include "db/sqlite3_reader.h"

#include "db/database_error.h"
#include "db/sqlite3_command.h"
#include "db/sqlite3_connection.h"

#include <sqlite3.h>

namespace sqlite3x {

sqlite3_reader::sqlite3_reader(sqlite3_command& command,
                               std::unique_lock<std::recursive_mutex> hold)
    : m_command(&command), m_hold(std::move(hold)) {}

sqlite3_reader::sqlite3_reader(sqlite3_reader&& other) noexcept
    : m_command(other.m_command), m_hold(std::move(other.m_hold)), m_hasRow(other.m_hasRow) {
    other.m_command = nullptr;
    other.m_hasRow = false;
}

sqlite3_reader::~sqlite3_reader() {
    close();
}

void sqlite3_reader::close() {
    m_hasRow = false;
    if (m_command) {
        // Resetting ends the statement's read of the file, so a later writer is not held off.
        sqlite3_reset(m_command->m_statement.get());
        m_command = nullptr;
    }
    if (m_hold.owns_lock())
        m_hold.unlock();
}

bool sqlite3_reader::read() {
    if (!m_command)
        return false;
    const int result = sqlite3_step(m_command->m_statement.get());
    if (result == SQLITE_ROW) {
        m_hasRow = true;
        return true;
    }
    if (result == SQLITE_DONE) {
        close();
        return false;
    }
    std::string message = m_command->m_connection.lastError();
    close();
    throw database_error(message);
}

sqlite3_stmt* sqlite3_reader::current(int column) {
    if (!m_hasRow || !m_command)
        throw database_error("reader has no current row");
    sqlite3_stmt* statement = m_command->m_statement.get();
    if (column < 0 || column >= sqlite3_column_count(statement))
        throw database_error("reader column " + std::to_string(column) + " out of range");
    return statement;
}

int sqlite3_reader::getint(int column) {
    return sqlite3_column_int(current(column), column);
}

long long sqlite3_reader::getint64(int column) {
    return sqlite3_column_int64(current(column), column);
}

std::string sqlite3_reader::getstrChar(int column) {
    sqlite3_stmt* statement = current(column);
    const unsigned char* text = sqlite3_column_text(statement, column);
    if (!text)
        return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

bool sqlite3_reader::isnull(int column) {
    return sqlite3_column_type(current(column), column) == SQLITE_NULL;
}

int sqlite3_reader::columncount() {
    if (!m_command)
        throw database_error("reader is closed");
    return sqlite3_column_count(m_command->m_statement.get());
}

} // namespace sqlite3x
