// Statements of the user page, the event log and the log viewer (tables user and log).

#include "db/Statements.h"

#include "db/RowReaders.h"
#include "db/SqlText.h"
#include "db/sqlite3x.h"

#include <array>

namespace db {
namespace {

using sqlite3x::database_error;
using sqlite3x::sqlite3_command;
using sqlite3x::sqlite3_reader;

// The columns a "select distinct %s" may name.
constexpr std::array<std::string_view, 6> kLogColumns = {"ip",   "user",   "event",
                                                         "type", "remark", "time"};

std::vector<LogRow> readLogs(sqlite3_command& command) {
    std::vector<LogRow> rows;
    sqlite3_reader reader = command.executereader();
    while (reader.read()) {
        LogRow row;
        row.id = reader.getint64(0);
        row.ip = reader.getstrChar(1);
        row.event = reader.getstrChar(2);
        row.time = reader.getstrChar(3);
        row.type = reader.getint(4);
        row.remark = reader.getstrChar(5);
        row.user = reader.getstrChar(6);
        rows.push_back(std::move(row));
    }
    return rows;
}

// The filter part shared by the viewer's count and page statements, up to "order by id desc".
// The suffix and prefix matches put "%" around the values, so a "%" or "_" that an address or a
// user name itself holds matches more widely; it stays inside the quotes all the same.
std::string logConditions(const LogFilter& f) {
    return sqlFormat(" ip like '%%%s' and user like '%%%s' and type like '%d%%' and time between "
                     "'%04d-%02d-%02d %s' and '%04d-%02d-%02d %s' order by id desc",
                     sqlQuoted(f.ip).c_str(), sqlQuoted(f.user).c_str(), f.type, f.fromYear,
                     f.fromMonth, f.fromDay, sqlQuoted(f.fromTime).c_str(), f.toYear, f.toMonth,
                     f.toDay, sqlQuoted(f.toTime).c_str());
}

} // namespace

std::vector<UserRow> selectUsers(sqlite3_connection& con) {
    sqlite3_command command(con, "select * from user;");
    std::vector<UserRow> users;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        users.push_back(detail::readUser(reader));
    return users;
}

std::optional<UserRow> selectUser(sqlite3_connection& con, std::string_view name) {
    sqlite3_command command(con, "select * from user where user=?;");
    command.bind(1, name);
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    return detail::readUser(reader);
}

void insertUser(sqlite3_connection& con, const UserRow& user) {
    sqlite3_command command(con,
                            "insert into user(user,pwd,lev,oldPwd,bRemember) values(?,?,?,?,?);");
    command.bind(1, user.user);
    command.bind(2, user.pwd);
    command.bind(3, user.lev);
    command.bind(4, user.oldPwd);
    command.bind(5, user.bRemember);
    command.executenonquery();
}

void updateUser(sqlite3_connection& con, std::string_view newName, std::string_view pwd, int lev,
                std::string_view oldName) {
    sqlite3_command command(con, "update user set user=?,pwd=?,lev=? where user=?;");
    command.bind(1, newName);
    command.bind(2, pwd);
    command.bind(3, lev);
    command.bind(4, oldName);
    command.executenonquery();
}

void deleteUser(sqlite3_connection& con, std::string_view name) {
    sqlite3_command command(con, "delete from user where user=?;");
    command.bind(1, name);
    command.executenonquery();
}

void insertLog(sqlite3_connection& con, const LogRow& row) {
    sqlite3_command command(
        con, "insert into log('ip','event','time','type','remark','user') values(?,?,?,?,?,?);");
    command.bind(1, row.ip);
    command.bind(2, row.event);
    command.bind(3, row.time);
    command.bind(4, row.type);
    command.bind(5, row.remark);
    command.bind(6, row.user);
    command.executenonquery();
}

int countLogs(sqlite3_connection& con) {
    return sqlite3_command(con, "select count(*) from log;").executeint();
}

std::vector<LogRow> selectLogs(sqlite3_connection& con) {
    sqlite3_command command(con, "select * from log;");
    return readLogs(command);
}

std::vector<LogRow> selectOldestLogs(sqlite3_connection& con, int count) {
    sqlite3_command command(con, "select * from log order by id limit ?;");
    command.bind(1, count);
    return readLogs(command);
}

void deleteOldestLog(sqlite3_connection& con) {
    sqlite3_command(con, "delete from log where rowid in(select rowid from log  limit 1 offset 0)")
        .executenonquery();
}

void deleteLogById(sqlite3_connection& con, long long id) {
    sqlite3_command command(con, "delete from log where id=?;");
    command.bind(1, id);
    command.executenonquery();
}

std::vector<std::string> selectDistinctLogValues(sqlite3_connection& con, std::string_view column) {
    bool known = false;
    for (std::string_view name : kLogColumns)
        known = known || name == column;
    if (!known)
        throw database_error("no log column " + std::string(column));
    const std::string name(column);
    sqlite3_command command(con, sqlFormat("select distinct %s from log", name.c_str()));
    std::vector<std::string> values;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        values.push_back(reader.getstrChar(0));
    return values;
}

int countFilteredLogs(sqlite3_connection& con, const LogFilter& filter) {
    return sqlite3_command(con, "select count(*) from log where" + logConditions(filter))
        .executeint();
}

std::vector<LogViewRow> selectLogPage(sqlite3_connection& con, const LogFilter& filter, int offset,
                                      int limit) {
    // The head holds strftime's own "%Y%m%d…", so it is joined to the formatted rest, never
    // formatted itself.
    const std::string sql = "select ip,event, strftime('%Y%m%d%H%M%S',time) as mytime,type,remark,"
                            "user from log where" +
                            logConditions(filter) + sqlFormat(" limit %d,%d", offset, limit);
    sqlite3_command command(con, sql);
    std::vector<LogViewRow> rows;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        rows.push_back({reader.getstrChar(0), reader.getstrChar(1), reader.getstrChar(2),
                        reader.getint(3), reader.getstrChar(4), reader.getstrChar(5)});
    return rows;
}

} // namespace db
