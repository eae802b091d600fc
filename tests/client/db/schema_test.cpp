// The delivered doDAV.db as the build makes it: tables with their columns at the fixed
// positions, the rows the client only updates, a private file, and indexes that the catalogue's
// own statements use.

#include "DbTestSupport.h"

#include "db/Statements.h"

#include <utility>

namespace {

using namespace dbtest;
using sqlite3x::sqlite3_command;
using sqlite3x::sqlite3_reader;

// "name type,name type,…" in column order.
std::string columnsOf(sqlite3x::sqlite3_connection& con, const std::string& table) {
    std::string columns;
    sqlite3_command command(con, "pragma table_info(" + table + ");");
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        columns += (columns.empty() ? "" : ",") + reader.getstrChar(1) + " " + reader.getstrChar(2);
    return columns;
}

TEST(DeliveredFile, ColumnsStandAtTheirPositionsWithTheirTypes) {
    DeliveredCopy db;
    const std::pair<const char*, const char*> expected[] = {
        {"deviceT", "id INTEGER,name TEXT,ip TEXT,webport INTEGER,mediaport INTEGER,user TEXT,"
                    "pwd TEXT,qy TEXT,type INTEGER,mac TEXT,uid TEXT"},
        {"area", "id INTEGER,qy TEXT,parent TEXT"},
        {"recordplan", "id INTEGER,day0 TEXT,day1 TEXT,day2 TEXT,day3 TEXT,day4 TEXT,day5 TEXT,"
                       "day6 TEXT,pEnable INTEGER,aEnable INTEGER,mac TEXT"},
        {"path", "id INTEGER,autologpath TEXT,picturepath TEXT,logHistory INTEGER,"
                 "captureMode INTEGER,recordpath TEXT"},
        {"config", "key TEXT,value TEXT"},
        {"user", "id INTEGER,user TEXT,pwd TEXT,lev INTEGER,oldPwd TEXT,bRemember INTEGER"},
        {"log", "id INTEGER,ip TEXT,event TEXT,time TEXT,type INTEGER,remark TEXT,user TEXT"},
        {"recordfile", "ip TEXT,filename TEXT,filetype INTEGER,filedate TEXT"},
    };
    for (const auto& [table, columns] : expected)
        EXPECT_EQ(columnsOf(db.con, table), columns) << table;
}

TEST(DeliveredFile, HoldsTheRowsTheClientOnlyUpdates) {
    const fs::path file = deliveredFile();
    EXPECT_EQ(sqliteShell(file, "select key, value from config order by key;"),
              "AlarmSound|1\nAutoOpenIPC|0\nrecordpath|\n");
    EXPECT_EQ(sqliteShell(file, "select qy, coalesce(parent, '') from area;"), "default|\n");
    EXPECT_EQ(sqliteShell(file, "select count(*) from user where lev = 1;"), "1\n");
    EXPECT_EQ(sqliteShell(file, "select (select count(*) from deviceT) + (select count(*) from "
                                "recordplan) + (select count(*) from path) + (select count(*) "
                                "from log) + (select count(*) from recordfile);"),
              "0\n");
    EXPECT_EQ(sqliteShell(file, "pragma integrity_check;"), "ok\n");
}

TEST(DeliveredFile, IsReadableByTheUserOnly) {
    EXPECT_EQ(modeOf(deliveredFile()), 0600u);
}

std::string planOf(sqlite3x::sqlite3_connection& con, const std::string& sql) {
    std::string plan;
    sqlite3_command command(con, "explain query plan " + sql);
    sqlite3_reader reader = command.executereader();
    while (reader.read())
        plan += reader.getstrChar(3) + "\n";
    return plan;
}

// Every search form reads through an index on datetime(filedate) or on the camera, never the
// whole table; so do the statements that find one recording by file name and the clean-up's
// pages, which must not sort the table each time.
TEST(DeliveredFile, RecordingStatementsUseIndexes) {
    DeliveredCopy db;
    for (bool byIp : {false, true}) {
        for (bool byDate : {false, true}) {
            for (const std::array<bool, 3>& kinds :
                 {std::array<bool, 3>{false, true, false}, std::array<bool, 3>{true, false, true},
                  std::array<bool, 3>{true, true, true}}) {
                db::RecordSearch search;
                search.ip = byIp ? "192.168.1.20" : "";
                search.from = byDate ? "2024-02-01 00:00:00" : "";
                search.to = byDate ? "2024-02-29 23:59:59" : "";
                search.kinds = kinds;
                const std::string sql = db::recordSearchStatement(search);
                const std::string plan = planOf(db.con, sql);
                EXPECT_NE(plan.find("USING INDEX"), std::string::npos) << sql << "\n" << plan;
                EXPECT_EQ(plan.find("SCAN recordfile\n"), std::string::npos) << sql;
                if (byDate) {
                    EXPECT_NE(plan.find("<expr>>?"), std::string::npos) << sql << "\n" << plan;
                }
            }
        }
    }
    for (const char* sql : {"delete from recordfile where filename='/r/a.avi'",
                            "select * from recordfile where ip='a' and filename='/r/a.avi'"})
        EXPECT_NE(planOf(db.con, sql).find("recordfile_filename"), std::string::npos) << sql;
    const std::string page =
        planOf(db.con, "select filename from recordfile order by filedate asc limit 0,102400;");
    EXPECT_NE(page.find("COVERING INDEX recordfile_date"), std::string::npos) << page;
    EXPECT_EQ(page.find("TEMP B-TREE"), std::string::npos) << page;
}

} // namespace
