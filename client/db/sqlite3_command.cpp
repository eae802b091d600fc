#include "db/sqlite3_command.h"

#include "db/database_error.h"
#include "db/sqlite3_connection.h"

#include <sqlite3.h>

#include <cctype>
#include <climits>

namespace sqlite3x {
namespace {

// What may follow the one statement: blanks and statement ends, nothing that runs.
bool onlySeparatorsLeft(const char* tail) {
    for (; tail && *tail; ++tail) {
        if (*tail != ';' && !std::isspace(static_cast<unsigned char>(*tail)))
            return false;
    }
    return true;
}

} // namespace

void sqlite3_command::StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

sqlite3_command::sqlite3_command(sqlite3_connection& connection, const std::string& sql)
    : sqlite3_command(connection, sql.c_str()) {}

sqlite3_command::sqlite3_command(sqlite3_connection& connection, const char* sql)
    : m_connection(connection) {
    if (!sql)
        throw database_error("prepare: no statement");
    std::lock_guard hold(connection.m_owner);
    sqlite3* db = connection.handle();
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, &tail) != SQLITE_OK)
        throw database_error(connection.lastError());
    m_statement.reset(statement);
    if (!statement)
        throw database_error("prepare: no statement");
    if (!onlySeparatorsLeft(tail))
        throw database_error("prepare: more than one statement");
}

sqlite3_command::~sqlite3_command() = default;

void sqlite3_command::checkBind(int result, int index) {
    if (result != SQLITE_OK)
        throw database_error("bind " + std::to_string(index) + ": " + sqlite3_errstr(result));
}

void sqlite3_command::bind(int index) {
    checkBind(sqlite3_bind_null(m_statement.get(), index), index);
}

void sqlite3_command::bind(int index, int value) {
    checkBind(sqlite3_bind_int(m_statement.get(), index, value), index);
}

void sqlite3_command::bind(int index, long long value) {
    checkBind(sqlite3_bind_int64(m_statement.get(), index, value), index);
}

void sqlite3_command::bind(int index, const char* text, int length) {
    if (!text) {
        bind(index);
        return;
    }
    checkBind(sqlite3_bind_text(m_statement.get(), index, text, length < 0 ? -1 : length,
                                SQLITE_TRANSIENT),
              index);
}

void sqlite3_command::bind(int index, std::string_view text) {
    if (text.size() > static_cast<size_t>(INT_MAX))
        throw database_error("bind " + std::to_string(index) + ": text too long");
    // A view may point at no storage when empty; SQLite would take a null pointer for NULL.
    checkBind(sqlite3_bind_text(m_statement.get(), index, text.empty() ? "" : text.data(),
                                static_cast<int>(text.size()), SQLITE_TRANSIENT),
              index);
}

int sqlite3_command::executenonquery() {
    std::lock_guard hold(m_connection.m_owner);
    sqlite3* db = m_connection.handle();
    sqlite3_stmt* statement = m_statement.get();
    sqlite3_reset(statement);
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    if (result != SQLITE_DONE) {
        std::string message = m_connection.lastError();
        sqlite3_reset(statement);
        throw database_error(message);
    }
    const int changed = sqlite3_changes(db);
    sqlite3_reset(statement);
    return changed;
}

sqlite3_reader sqlite3_command::executereader() {
    std::unique_lock hold(m_connection.m_owner);
    m_connection.handle();
    sqlite3_reset(m_statement.get());
    return sqlite3_reader(*this, std::move(hold));
}

int sqlite3_command::executeint() {
    sqlite3_reader reader = executereader();
    if (!reader.read())
        throw database_error("statement gave no row");
    return reader.getint(0);
}

long long sqlite3_command::executeint64() {
    sqlite3_reader reader = executereader();
    if (!reader.read())
        throw database_error("statement gave no row");
    return reader.getint64(0);
}

std::string sqlite3_command::executestring() {
    sqlite3_reader reader = executereader();
    if (!reader.read())
        throw database_error("statement gave no row");
    return reader.getstrChar(0);
}

} // namespace sqlite3x
