// Statements of login, the device tree and the device dialogs.

#include "db/Statements.h"

#include "db/RowReaders.h"
#include "db/SqlText.h"
#include "db/sqlite3x.h"

#include <algorithm>
#include <deque>
#include <set>

namespace db {
namespace {

using sqlite3x::database_error;
using sqlite3x::sqlite3_command;
using sqlite3x::sqlite3_reader;
using sqlite3x::sqlite3_transaction;

// SQLite parses "a or b or c …" into a tree as deep as the clause count and refuses trees deeper
// than 1000, so an area with many areas below it is deleted in groups of this many names, all in
// the one transaction.
constexpr size_t kClausesPerStatement = 200;

std::vector<std::string> firstColumn(sqlite3_command& command, int column) {
    std::vector<std::string> values;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        values.push_back(reader.getstrChar(column));
    return values;
}

std::optional<int> firstInt(sqlite3_command& command) {
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    return reader.getint(0);
}

} // namespace

std::vector<UserRow> selectLoginUsers(sqlite3_connection& con) {
    sqlite3_command command(con, "select id,user,pwd,lev,oldPwd,bRemember from user;");
    std::vector<UserRow> users;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        users.push_back(detail::readUser(reader));
    return users;
}

void updateRemembered(sqlite3_connection& con, std::string_view user, std::string_view oldPwd,
                      int bRemember) {
    sqlite3_command command(con, "update user set oldPwd=?, bRemember=? where user=?;");
    command.bind(1, oldPwd);
    command.bind(2, bRemember);
    command.bind(3, user);
    command.executenonquery();
}

std::vector<std::string> selectChildAreas(sqlite3_connection& con, std::string_view parent) {
    const std::string quoted = sqlQuoted(parent);
    const std::string sql =
        parent.empty()
            ? sqlFormat("select * from area where parent = '%s' or parent is null", quoted.c_str())
            : sqlFormat("select * from area where parent = '%s'", quoted.c_str());
    sqlite3_command command(con, sql);
    return firstColumn(command, 1);
}

std::vector<CameraBrief> selectCamerasInArea(sqlite3_connection& con, std::string_view area) {
    sqlite3_command command(con, sqlFormat("select id,name,ip,type from deviceT where qy='%s'",
                                           sqlQuoted(area).c_str()));
    std::vector<CameraBrief> cameras;
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        cameras.push_back(
            {reader.getint(0), reader.getstrChar(1), reader.getstrChar(2), reader.getint(3)});
    return cameras;
}

std::vector<DeviceRow> selectDevices(sqlite3_connection& con) {
    sqlite3_command command(con, "select * from deviceT");
    std::vector<DeviceRow> devices;
    sqlite3_reader reader = command.executereader();
    while (reader.read()) {
        DeviceRow row;
        row.id = reader.getint(0);
        row.name = reader.getstrChar(1);
        row.ip = reader.getstrChar(2);
        row.webport = reader.getint(3);
        row.mediaport = reader.getint(4);
        row.user = reader.getstrChar(5);
        row.pwd = reader.getstrChar(6);
        row.qy = reader.getstrChar(7);
        row.type = reader.getint(8);
        row.mac = reader.getstrChar(9);
        row.uid = reader.getstrChar(10);
        devices.push_back(std::move(row));
    }
    return devices;
}

std::optional<PlanFlags> selectPlanFlags(sqlite3_connection& con, std::string_view mac) {
    sqlite3_command command(con, "select pEnable,aEnable from recordplan where mac=?");
    command.bind(1, mac);
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    return PlanFlags{reader.getint(0), reader.getint(1)};
}

void insertArea(sqlite3_connection& con, std::string_view name, std::string_view parent) {
    sqlite3_command command(con, "insert into area('qy', 'parent') values(?,?);");
    command.bind(1, name);
    command.bind(2, parent);
    command.executenonquery();
}

void renameArea(sqlite3_connection& con, std::string_view newName, std::string_view oldName) {
    sqlite3_transaction transaction(con);
    for (const char* sql :
         {"update area set qy = ? where qy = ?;", "update area set parent = ? where parent = ?;",
          "update deviceT set qy = ? where qy = ?;"}) {
        sqlite3_command command(con, sql);
        command.bind(1, newName);
        command.bind(2, oldName);
        command.executenonquery();
    }
    transaction.commit();
}

std::vector<RemovedCamera> deleteAreaTree(sqlite3_connection& con, std::string_view name) {
    sqlite3_transaction transaction(con);

    // The area and every area below it, breadth first. The set also stops a loop of parents,
    // which renaming an area to its own descendant's name could leave behind.
    std::vector<std::string> areas;
    std::set<std::string> seen;
    std::deque<std::string> pending{std::string(name)};
    while (!pending.empty()) {
        std::string area = std::move(pending.front());
        pending.pop_front();
        if (area.empty() || !seen.insert(area).second)
            continue;
        for (std::string& child : selectChildAreas(con, area))
            pending.push_back(std::move(child));
        areas.push_back(std::move(area));
    }

    std::vector<RemovedCamera> removed;
    for (const DeviceRow& device : selectDevices(con)) {
        if (seen.count(device.qy))
            removed.push_back({device.id, device.mac});
    }

    for (size_t at = 0; at < areas.size(); at += kClausesPerStatement) {
        const std::vector<std::string> group(
            areas.begin() + static_cast<std::ptrdiff_t>(at),
            areas.begin() +
                static_cast<std::ptrdiff_t>(std::min(areas.size(), at + kClausesPerStatement)));
        const std::string clauses = sqlOrClauses("qy", group);
        sqlite3_command(con, sqlFormat("delete from deviceT where %s;", clauses.c_str()))
            .executenonquery();
        sqlite3_command(con, sqlFormat("delete from area where %s;", clauses.c_str()))
            .executenonquery();
    }

    sqlite3_command deletePlanRow(con, "delete from recordplan where mac=?;");
    for (const RemovedCamera& camera : removed) {
        deletePlanRow.bind(1, camera.mac);
        deletePlanRow.executenonquery();
    }
    transaction.commit();
    return removed;
}

std::vector<std::string> selectAreaNames(sqlite3_connection& con) {
    sqlite3_command command(con, "select qy from area;");
    return firstColumn(command, 0);
}

std::optional<std::string> selectDeviceArea(sqlite3_connection& con, std::string_view ip,
                                            std::string_view mac, std::string_view uid) {
    sqlite3_command command(con, "select qy from deviceT where ip=? and mac=? and uid=?;");
    command.bind(1, ip);
    command.bind(2, mac);
    command.bind(3, uid);
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    return reader.getstrChar(0);
}

std::optional<int> selectDeviceIdByUid(sqlite3_connection& con, std::string_view uid) {
    sqlite3_command command(con, "select id from deviceT where uid=?");
    command.bind(1, uid);
    return firstInt(command);
}

std::optional<int> selectDeviceIdByMacIp(sqlite3_connection& con, std::string_view mac,
                                         std::string_view ip) {
    sqlite3_command command(con, "select id from deviceT where mac=? and ip=?");
    command.bind(1, mac);
    command.bind(2, ip);
    return firstInt(command);
}

void insertDevice(sqlite3_connection& con, const DeviceRow& device) {
    sqlite3_command command(con, "insert into deviceT(name,ip,webport,mediaport,user,pwd,qy,type,"
                                 "mac,uid) values(?,?,?,?,?,?,?,?,?,?);");
    command.bind(1, device.name);
    command.bind(2, device.ip);
    command.bind(3, device.webport);
    command.bind(4, device.mediaport);
    command.bind(5, device.user);
    command.bind(6, device.pwd);
    command.bind(7, device.qy);
    command.bind(8, device.type);
    command.bind(9, device.mac);
    command.bind(10, device.uid);
    command.executenonquery();
}

int addDevice(sqlite3_connection& con, const DeviceRow& device) {
    sqlite3_transaction transaction(con);
    if (!device.uid.empty() && selectDeviceIdByUid(con, device.uid))
        throw database_error("uid existed!");
    insertDevice(con, device);
    const std::optional<int> id = selectDeviceIdByMacIp(con, device.mac, device.ip);
    if (!id)
        throw database_error("con't find folder in reader");
    transaction.commit();
    return *id;
}

void updateDevice(sqlite3_connection& con, const DeviceRow& device) {
    sqlite3_command command(
        con,
        "update deviceT set name=?, webport=?, mediaport=?, user=?, pwd=?, type=? where mac=?;");
    command.bind(1, device.name);
    command.bind(2, device.webport);
    command.bind(3, device.mediaport);
    command.bind(4, device.user);
    command.bind(5, device.pwd);
    command.bind(6, device.type);
    command.bind(7, device.mac);
    command.executenonquery();
}

void deleteDeviceRow(sqlite3_connection& con, int id) {
    sqlite3_command command(con, "delete from deviceT where id=?;");
    command.bind(1, id);
    command.executenonquery();
}

void deletePlan(sqlite3_connection& con, std::string_view mac) {
    sqlite3_command command(con, "delete from recordplan where mac=?;");
    command.bind(1, mac);
    command.executenonquery();
}

void deleteDevice(sqlite3_connection& con, int id, std::string_view mac) {
    sqlite3_transaction transaction(con);
    deleteDeviceRow(con, id);
    deletePlan(con, mac);
    transaction.commit();
}

} // namespace db
