// Statements of the record settings page and the schedule editor (tables recordplan, path,
// config), also read by recording and the disk-space watch.

#include "db/Statements.h"

#include "db/SqlText.h"
#include "db/sqlite3x.h"

#include <charconv>

namespace db {
namespace {

using sqlite3x::database_error;
using sqlite3x::sqlite3_command;
using sqlite3x::sqlite3_reader;

void checkDay(int day) {
    if (day < 0 || day > 6)
        throw database_error("no plan day " + std::to_string(day));
}

// Up to three numbers separated by commas; a missing or unreadable number stays 0.
std::array<uint32_t, 3> parseHalf(std::string_view half) {
    std::array<uint32_t, 3> masks{};
    for (uint32_t& mask : masks) {
        const size_t comma = half.find(',');
        const std::string_view number = half.substr(0, comma);
        uint32_t value = 0;
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (error == std::errc() && end == number.data() + number.size())
            mask = value;
        if (comma == std::string_view::npos)
            break;
        half.remove_prefix(comma + 1);
    }
    return masks;
}

bool isThreeNumbers(std::string_view half) {
    for (int part = 0; part < 3; ++part) {
        const size_t comma = half.find(',');
        if ((part < 2) == (comma == std::string_view::npos))
            return false;
        const std::string_view number = half.substr(0, comma);
        uint32_t value = 0;
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || error != std::errc() || end != number.data() + number.size())
            return false;
        if (comma != std::string_view::npos)
            half.remove_prefix(comma + 1);
    }
    return true;
}

std::optional<PathRow> readPathRow(sqlite3_command& command, int first) {
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    PathRow row;
    row.autologpath = reader.getstrChar(first);
    row.picturepath = reader.getstrChar(first + 1);
    row.logHistory = reader.getint(first + 2);
    row.captureMode = reader.getint(first + 3);
    row.recordpath = reader.getstrChar(first + 4);
    return row;
}

} // namespace

DayMasks parseDayString(std::string_view text) {
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos || text.find(',') == std::string_view::npos)
        return {};
    return {parseHalf(text.substr(0, dash)), parseHalf(text.substr(dash + 1))};
}

std::string formatDayString(const DayMasks& m) {
    return sqlFormat("%u,%u,%u-%u,%u,%u", m.schedule[0], m.schedule[1], m.schedule[2], m.alarm[0],
                     m.alarm[1], m.alarm[2]);
}

bool isCompleteDayString(std::string_view text) {
    const size_t dash = text.find('-');
    return dash != std::string_view::npos && isThreeNumbers(text.substr(0, dash)) &&
           isThreeNumbers(text.substr(dash + 1));
}

std::optional<RecordPlanRow> selectRecordPlan(sqlite3_connection& con, std::string_view mac) {
    sqlite3_command command(con, "select * from recordplan where mac=?");
    command.bind(1, mac);
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    RecordPlanRow row;
    for (int day = 0; day < 7; ++day)
        row.days[static_cast<size_t>(day)] = reader.getstrChar(1 + day);
    row.pEnable = reader.getint(8);
    row.aEnable = reader.getint(9);
    row.mac = reader.getstrChar(10);
    return row;
}

void insertEmptyRecordPlan(sqlite3_connection& con, std::string_view mac) {
    const char* empty = "";
    sqlite3_command(con, sqlFormat("insert into recordplan(day0,day1,day2,day3,day4,day5,day6,mac) "
                                   "values('%s','%s','%s','%s','%s','%s','%s','%s')",
                                   empty, empty, empty, empty, empty, empty, empty,
                                   sqlQuoted(mac).c_str()))
        .executenonquery();
}

std::optional<DayPlan> selectDayPlan(sqlite3_connection& con, int day, std::string_view mac) {
    checkDay(day);
    sqlite3_command command(con,
                            sqlFormat("select day%d,pEnable,aEnable from recordplan where mac='%s'",
                                      day, sqlQuoted(mac).c_str()));
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    return DayPlan{reader.getstrChar(0), reader.getint(1), reader.getint(2)};
}

std::optional<std::string> selectDayString(sqlite3_connection& con, int day, std::string_view mac) {
    checkDay(day);
    sqlite3_command command(
        con, sqlFormat("select day%d from recordplan where mac='%s'", day, sqlQuoted(mac).c_str()));
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return std::nullopt;
    return reader.getstrChar(0);
}

void updateRecordPlan(sqlite3_connection& con, std::string_view mac,
                      const std::array<DayMasks, 7>& d, int pEnable, int aEnable) {
    sqlite3_command(
        con,
        sqlFormat(
            "update recordplan set day0='%u,%u,%u-%u,%u,%u', day1='%u,%u,%u-%u,%u,%u', "
            "day2='%u,%u,%u-%u,%u,%u', day3='%u,%u,%u-%u,%u,%u', day4='%u,%u,%u-%u,%u,%u', "
            "day5='%u,%u,%u-%u,%u,%u', day6='%u,%u,%u-%u,%u,%u', pEnable=%d, aEnable=%d  where "
            "mac='%s'",
            d[0].schedule[0], d[0].schedule[1], d[0].schedule[2], d[0].alarm[0], d[0].alarm[1],
            d[0].alarm[2], d[1].schedule[0], d[1].schedule[1], d[1].schedule[2], d[1].alarm[0],
            d[1].alarm[1], d[1].alarm[2], d[2].schedule[0], d[2].schedule[1], d[2].schedule[2],
            d[2].alarm[0], d[2].alarm[1], d[2].alarm[2], d[3].schedule[0], d[3].schedule[1],
            d[3].schedule[2], d[3].alarm[0], d[3].alarm[1], d[3].alarm[2], d[4].schedule[0],
            d[4].schedule[1], d[4].schedule[2], d[4].alarm[0], d[4].alarm[1], d[4].alarm[2],
            d[5].schedule[0], d[5].schedule[1], d[5].schedule[2], d[5].alarm[0], d[5].alarm[1],
            d[5].alarm[2], d[6].schedule[0], d[6].schedule[1], d[6].schedule[2], d[6].alarm[0],
            d[6].alarm[1], d[6].alarm[2], pEnable, aEnable, sqlQuoted(mac).c_str()))
        .executenonquery();
}

std::optional<PathRow> selectPaths(sqlite3_connection& con) {
    sqlite3_command command(
        con, "select autologpath,picturepath,logHistory,captureMode,recordpath from path");
    return readPathRow(command, 0);
}

std::optional<PathRow> selectPathRow(sqlite3_connection& con) {
    sqlite3_command command(con, "select * from path;");
    return readPathRow(command, 1);
}

void insertPathRow(sqlite3_connection& con, const PathRow& row) {
    sqlite3_command(
        con,
        sqlFormat("insert into path(autologpath,picturepath,logHistory,captureMode,recordpath) "
                  "values('%s','%s',%d,%d,'%s')",
                  sqlQuoted(row.autologpath).c_str(), sqlQuoted(row.picturepath).c_str(),
                  row.logHistory, row.captureMode, sqlQuoted(row.recordpath).c_str()))
        .executenonquery();
}

void updatePaths(sqlite3_connection& con, const PathRow& row) {
    sqlite3_command command(con, "update path set autologpath=?, picturepath=?, recordpath=?, "
                                 "logHistory=?, captureMode=?");
    command.bind(1, row.autologpath);
    command.bind(2, row.picturepath);
    command.bind(3, row.recordpath);
    command.bind(4, row.logHistory);
    command.bind(5, row.captureMode);
    command.executenonquery();
}

void updateRecordPaths(sqlite3_connection& con, std::string_view recordpath) {
    sqlite3_command command(con, "update path set recordpath = ?;");
    command.bind(1, recordpath);
    command.executenonquery();
}

std::string selectConfig(sqlite3_connection& con, std::string_view key) {
    sqlite3_command command(
        con, sqlFormat("select * from config where key='%s'", sqlQuoted(key).c_str()));
    sqlite3_reader reader = command.executereader();
    if (!reader.read())
        return {};
    return reader.getstrChar(1);
}

void updateConfig(sqlite3_connection& con, std::string_view key, std::string_view value) {
    sqlite3_command command(con, "update config set value=? where key=?;");
    command.bind(1, value);
    command.bind(2, key);
    command.executenonquery();
}

} // namespace db
