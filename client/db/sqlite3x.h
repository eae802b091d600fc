#pragma once

// The thin C++ layer over SQLite that all client code uses: one shared connection, prepared
// commands with bound values, readers by column position, transactions, one exception type.

#include "db/database_error.h"
#include "db/sqlite3_command.h"
#include "db/sqlite3_connection.h"
#include "db/sqlite3_reader.h"
#include "db/sqlite3_transaction.h"
