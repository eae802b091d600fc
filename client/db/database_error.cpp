#include "db/database_error.h"

namespace sqlite3x {

database_error::database_error(const char* message) : std::runtime_error(message ? message : "") {}

database_error::database_error(const std::string& message) : std::runtime_error(message) {}

} // namespace sqlite3x
