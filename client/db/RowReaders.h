#pragma once

// Rows read the same way by several groups of the catalogue. Internal to the catalogue.

#include "db/Statements.h"
#include "db/sqlite3_reader.h"

namespace db::detail {

// A `user` row in table order: id, user, pwd, lev, oldPwd, bRemember.
inline UserRow readUser(sqlite3x::sqlite3_reader& reader) {
    UserRow row;
    row.id = reader.getint(0);
    row.user = reader.getstrChar(1);
    row.pwd = reader.getstrChar(2);
    row.lev = reader.getint(3);
    row.oldPwd = reader.getstrChar(4);
    row.bRemember = reader.getint(5);
    return row;
}

} // namespace db::detail
