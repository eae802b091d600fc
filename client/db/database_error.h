#pragma once

#include <stdexcept>
#include <string>

namespace sqlite3x {

// The one exception type of the database layer. The wrapper raises it on every SQLite failure,
// and callers raise it themselves to abort the transaction they are in; every database routine
// catches it as std::exception and reports it (db/Failure.h).
class database_error : public std::runtime_error {
public:
    explicit database_error(const char* message);
    explicit database_error(const std::string& message);
};

} // namespace sqlite3x
