#pragma once

#include <exception>
#include <functional>

namespace sqlite3x {
class sqlite3_connection;
}

namespace db {

// The one failure report of every database routine: "Exception Occured: " and the exception's
// text on standard error, one line. There is no dialog; the routine then reports failure to its
// caller (false, 1 or empty text).
void reportFailure(const std::exception& error);

// The write pattern: runs `work` inside one transaction on `connection` and commits when it
// returns. When anything in it (SQLite, or the caller aborting with database_error) raises a
// std::exception, the whole change is rolled back, reported, and the result is false.
bool inTransaction(sqlite3x::sqlite3_connection& connection, const std::function<void()>& work);

// The read pattern: runs `work` and reports a std::exception raised in it; false then.
bool guarded(const std::function<void()>& work);

} // namespace db
