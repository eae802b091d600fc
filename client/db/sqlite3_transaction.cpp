#include "db/sqlite3_transaction.h"

#include "db/database_error.h"
#include "db/sqlite3_connection.h"

#include <sqlite3.h>

#include <string>

namespace sqlite3x {
namespace {

std::string savepointName(int level) {
    return "vistaro_" + std::to_string(level);
}

} // namespace

sqlite3_transaction::sqlite3_transaction(sqlite3_connection& connection, bool start)
    : m_connection(connection), m_hold(connection.m_owner, std::defer_lock) {
    if (start)
        begin();
}

sqlite3_transaction::~sqlite3_transaction() {
    if (m_level == 0)
        return;
    try {
        rollback();
    } catch (const std::exception&) {
        // Nothing more can be done for the change: rollback() already gave the level back.
    }
}

void sqlite3_transaction::begin() {
    if (m_level != 0)
        throw database_error("transaction already begun");
    m_hold.lock();
    try {
        const int level = m_connection.m_transactionDepth + 1;
        // IMMEDIATE takes the write lock at once, so another process cannot make a change of ours
        // fail half way with "database is locked".
        const std::string sql =
            level == 1 ? "begin immediate;" : "savepoint " + savepointName(level) + ";";
        m_connection.executenonquery(sql.c_str());
        m_connection.m_transactionDepth = level;
        m_level = level;
    } catch (...) {
        m_hold.unlock();
        throw;
    }
}

void sqlite3_transaction::commit() {
    finish(true);
}

void sqlite3_transaction::rollback() {
    finish(false);
}

void sqlite3_transaction::finish(bool keep) {
    if (m_level == 0)
        throw database_error("no transaction to end");
    if (keep) {
        const std::string sql =
            m_level == 1 ? std::string("commit;") : "release " + savepointName(m_level) + ";";
        // A failed commit leaves the transaction open; the destructor then rolls it back.
        m_connection.executenonquery(sql.c_str());
    } else {
        // Whatever happens to the rollback, this transaction is over: give the level and the
        // connection back so other threads are not locked out.
        try {
            // Some failures (a full disk, an interrupt) make SQLite roll the whole transaction
            // back by itself; then there is nothing left to undo here.
            if (!sqlite3_get_autocommit(m_connection.handle())) {
                const std::string name = savepointName(m_level);
                const std::string sql = m_level == 1
                                            ? std::string("rollback;")
                                            : "rollback to " + name + "; release " + name + ";";
                m_connection.executenonquery(sql.c_str());
            }
        } catch (...) {
            release();
            throw;
        }
    }
    release();
}

void sqlite3_transaction::release() {
    m_connection.m_transactionDepth = m_level - 1;
    m_level = 0;
    m_hold.unlock();
}

} // namespace sqlite3x
