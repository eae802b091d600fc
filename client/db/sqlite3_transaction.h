#pragma once

#include <mutex>

namespace sqlite3x {

class sqlite3_connection;

// One transaction: begun by the constructor (when `start`) or begin(), committed by commit(),
// rolled back by rollback() or by destruction without commit.
//
// Holds the connection's owner lock from begin to its end, so no other thread's statement falls
// into it. A transaction begun while the same thread already has one open becomes a savepoint
// inside it: committing it keeps its changes for the outer transaction to commit or undo, and
// rolling it back undoes only its own changes. This lets a multi-statement change of the
// catalogue be atomic on its own and still be one part of a caller's larger change.
//
// Transactions end in the reverse order they began, on the thread that began them.
class sqlite3_transaction {
public:
    explicit sqlite3_transaction(sqlite3_connection& connection, bool start = true);
    sqlite3_transaction(const sqlite3_transaction&) = delete;
    sqlite3_transaction& operator=(const sqlite3_transaction&) = delete;
    // Rolls back when still open; never raises.
    ~sqlite3_transaction();

    void begin();
    void commit();
    void rollback();

private:
    void finish(bool keep);
    void release();

    sqlite3_connection& m_connection;
    std::unique_lock<std::recursive_mutex> m_hold;
    int m_level = 0; // 0 when not open; 1 for the outermost transaction, above 1 for savepoints
};

} // namespace sqlite3x
