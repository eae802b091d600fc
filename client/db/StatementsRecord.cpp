// Statements of playback, recording and the disk-space clean-up (table recordfile).

#include "db/Statements.h"

#include "db/SqlText.h"
#include "db/sqlite3x.h"

#include <array>

namespace db {
namespace {

using sqlite3x::database_error;
using sqlite3x::sqlite3_command;
using sqlite3x::sqlite3_reader;
using sqlite3x::sqlite3_transaction;

// The columns a "select distinct %s" may name.
constexpr std::array<std::string_view, 4> kRecordColumns = {"ip", "filename", "filetype",
                                                            "filedate"};

std::vector<RecordFileRow> readRecordFiles(sqlite3_command& command) {
    std::vector<RecordFileRow> rows;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        rows.push_back(
            {reader.getstrChar(0), reader.getstrChar(1), reader.getint(2), reader.getstrChar(3)});
    return rows;
}

std::vector<std::string> readNames(sqlite3_command& command) {
    std::vector<std::string> names;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        names.push_back(reader.getstrChar(0));
    return names;
}

std::string searchOneKind(bool byIp, bool byDate, const char* ip, const char* from, const char* to,
                          int k0) {
    if (!byIp && !byDate)
        return sqlFormat("select * from recordfile where filetype=%d;", k0);
    if (!byIp)
        return sqlFormat("select * from recordfile where datetime(filedate)>=datetime('%s') and "
                         "datetime(filedate)<=datetime('%s') and filetype=%d;",
                         from, to, k0);
    if (!byDate)
        return sqlFormat("select * from recordfile where ip='%s' and filetype=%d;", ip, k0);
    return sqlFormat(
        "select * from recordfile where ip='%s' and datetime(filedate)>=datetime('%s') "
        "and datetime(filedate)<=datetime('%s') and filetype=%d;",
        ip, from, to, k0);
}

// The two-kind forms write "ip ='%s'", with the blank, unlike the others.
std::string searchTwoKinds(bool byIp, bool byDate, const char* ip, const char* from, const char* to,
                           int k0, int k1) {
    if (!byIp && !byDate)
        return sqlFormat("select * from recordfile where (filetype=%d or filetype=%d);", k0, k1);
    if (!byIp)
        return sqlFormat("select * from recordfile where datetime(filedate)>=datetime('%s') and "
                         "datetime(filedate)<=datetime('%s') and (filetype=%d or filetype=%d);",
                         from, to, k0, k1);
    if (!byDate)
        return sqlFormat(
            "select * from recordfile where ip ='%s' and (filetype=%d or filetype=%d);", ip, k0,
            k1);
    return sqlFormat(
        "select * from recordfile where ip ='%s' and datetime(filedate)>=datetime('%s') "
        "and datetime(filedate)<=datetime('%s') and (filetype=%d or filetype=%d);",
        ip, from, to, k0, k1);
}

std::string searchThreeKinds(bool byIp, bool byDate, const char* ip, const char* from,
                             const char* to, int k0, int k1, int k2) {
    if (!byIp && !byDate)
        return sqlFormat(
            "select * from recordfile where (filetype=%d or filetype=%d  or filetype=%d);", k0, k1,
            k2);
    if (!byIp)
        return sqlFormat("select * from recordfile where datetime(filedate)>=datetime('%s') and "
                         "datetime(filedate)<=datetime('%s') and (filetype=%d or filetype=%d  or "
                         "filetype=%d);",
                         from, to, k0, k1, k2);
    if (!byDate)
        return sqlFormat("select * from recordfile where ip='%s' and (filetype=%d or filetype=%d  "
                         "or filetype=%d);",
                         ip, k0, k1, k2);
    return sqlFormat(
        "select * from recordfile where ip='%s' and datetime(filedate)>=datetime('%s') "
        "and datetime(filedate)<=datetime('%s') and (filetype=%d or filetype=%d  or "
        "filetype=%d);",
        ip, from, to, k0, k1, k2);
}

} // namespace

std::vector<std::string> selectDistinctRecordValues(sqlite3_connection& con,
                                                    std::string_view column) {
    bool known = false;
    for (std::string_view name : kRecordColumns)
        known = known || name == column;
    if (!known)
        throw database_error("no recordfile column " + std::string(column));
    const std::string name(column);
    sqlite3_command command(con, sqlFormat("select distinct %s from recordfile", name.c_str()));
    return readNames(command);
}

std::vector<RecordFileRow> selectRecordFiles(sqlite3_connection& con) {
    sqlite3_command command(con, "select * from recordfile");
    return readRecordFiles(command);
}

std::string recordSearchStatement(const RecordSearch& search) {
    std::vector<int> kinds;
    for (int kind = 0; kind < 3; ++kind) {
        if (search.kinds[static_cast<size_t>(kind)])
            kinds.push_back(kind);
    }
    const bool byIp = !search.ip.empty();
    const bool byDate = !search.from.empty() || !search.to.empty();
    const std::string ip = sqlQuoted(search.ip);
    const std::string from = sqlQuoted(search.from);
    const std::string to = sqlQuoted(search.to);
    switch (kinds.size()) {
    case 1:
        return searchOneKind(byIp, byDate, ip.c_str(), from.c_str(), to.c_str(), kinds[0]);
    case 2:
        return searchTwoKinds(byIp, byDate, ip.c_str(), from.c_str(), to.c_str(), kinds[0],
                              kinds[1]);
    case 3:
        return searchThreeKinds(byIp, byDate, ip.c_str(), from.c_str(), to.c_str(), kinds[0],
                                kinds[1], kinds[2]);
    default:
        return {};
    }
}

std::vector<RecordFileRow> searchRecordFiles(sqlite3_connection& con, const RecordSearch& search) {
    const std::string sql = recordSearchStatement(search);
    if (sql.empty())
        return {};
    sqlite3_command command(con, sql);
    return readRecordFiles(command);
}

void deleteRecordFile(sqlite3_connection& con, std::string_view filename) {
    sqlite3_command(
        con, sqlFormat("delete from recordfile where filename='%s'", sqlQuoted(filename).c_str()))
        .executenonquery();
}

int purgeRecordFiles(sqlite3_connection& con,
                     const std::function<bool(const std::string& filename)>& exists) {
    sqlite3_transaction transaction(con);
    // All rows are read before the first delete: a table changed under a running read on the
    // same connection may or may not show the change to that read.
    int removed = 0;
    for (const RecordFileRow& row : selectRecordFiles(con)) {
        if (!exists(row.filename)) {
            deleteRecordFile(con, row.filename);
            ++removed;
        }
    }
    transaction.commit();
    return removed;
}

void insertRecordFile(sqlite3_connection& con, const RecordFileRow& row) {
    sqlite3_command command(
        con, "insert into recordfile('ip','filename','filetype','filedate') values(?,?,?,?);");
    command.bind(1, row.ip);
    command.bind(2, row.filename);
    command.bind(3, row.filetype);
    command.bind(4, row.filedate);
    command.executenonquery();
}

bool recordFileExists(sqlite3_connection& con, std::string_view ip, std::string_view filename) {
    sqlite3_command command(con,
                            sqlFormat("select * from recordfile where ip='%s' and filename='%s'",
                                      sqlQuoted(ip).c_str(), sqlQuoted(filename).c_str()));
    sqlite3_reader reader = command.executereader();
    return reader.read();
}

std::vector<std::string> selectRecordFileNamesOldestFirst(sqlite3_connection& con) {
    sqlite3_command command(con, "select filename from recordfile order by filedate asc;");
    return readNames(command);
}

int countRecordFiles(sqlite3_connection& con) {
    return sqlite3_command(con, "select count(*) from recordfile;").executeint();
}

std::vector<std::string> selectRecordFileNamePage(sqlite3_connection& con, int offset, int count) {
    sqlite3_command command(
        con, sqlFormat("select filename from recordfile order by filedate asc limit %d,%d;", offset,
                       count));
    return readNames(command);
}

} // namespace db
