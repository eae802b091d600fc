// Text formatted into statements stays a value: names with quotes, statement ends, comment marks
// and printf directives are stored, found and deleted as themselves, and change nothing else.

#include "DbTestSupport.h"

#include "db/Statements.h"

#include <algorithm>

namespace {

using namespace dbtest;

const std::string kHostile = "O'Brien; drop table area; --%s%n";
const std::string kAlwaysTrue = "x' or '1'='1";

class Injection : public ::testing::Test {
protected:
    int rows(const char* table) {
        return count(db.con, std::string("select count(*) from ") + table);
    }
    int tables() { return count(db.con, "select count(*) from sqlite_master where type='table';"); }

    DeliveredCopy db;
};

TEST_F(Injection, AreaTreeWithHostileNames) {
    const int tablesBefore = tables();
    db::insertArea(db.con, kHostile, "default");
    db::insertArea(db.con, kAlwaysTrue, kHostile);
    db::insertArea(db.con, "bystander", "default");
    db::addDevice(db.con, {0, kHostile, "10.0.0.9", 80, 80, "u", "p", kAlwaysTrue, 16, "M'1", ""});
    db::addDevice(db.con, {0, "safe", "10.0.0.8", 80, 80, "u", "p", "bystander", 16, "M2", ""});
    db::insertEmptyRecordPlan(db.con, "M'1");
    db::insertEmptyRecordPlan(db.con, "M2");

    EXPECT_EQ(db::selectChildAreas(db.con, kHostile), std::vector<std::string>{kAlwaysTrue});
    const auto cams = db::selectCamerasInArea(db.con, kAlwaysTrue);
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0].name, kHostile);
    EXPECT_TRUE(db::selectCamerasInArea(db.con, "' or ''='").empty());

    const auto removed = db::deleteAreaTree(db.con, kHostile);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].mac, "M'1");
    EXPECT_EQ(tables(), tablesBefore);
    std::vector<std::string> areas = db::selectAreaNames(db.con);
    std::sort(areas.begin(), areas.end());
    EXPECT_EQ(areas, (std::vector<std::string>{"bystander", "default"}));
    EXPECT_EQ(rows("deviceT"), 1);
    EXPECT_EQ(rows("recordplan"), 1);
}

TEST_F(Injection, RecordingsWithHostileNames) {
    const std::string file = "/records/" + kHostile + ".avi";
    db::insertRecordFile(db.con, {kAlwaysTrue, file, 2, "2024-01-01 00:00:00"});
    db::insertRecordFile(db.con, {"10.0.0.1", "/records/other.avi", 2, "2024-01-01 00:00:00"});

    EXPECT_TRUE(db::recordFileExists(db.con, kAlwaysTrue, file));
    EXPECT_FALSE(db::recordFileExists(db.con, "10.0.0.1", kAlwaysTrue));
    db::RecordSearch search;
    search.ip = kAlwaysTrue;
    search.from = "2023-12-31 00:00:00' or '1'='1";
    search.to = "2024-12-31 00:00:00";
    search.kinds = {false, false, true};
    EXPECT_TRUE(db::searchRecordFiles(db.con, search).empty()); // the date is just a bad date
    search.from = "2023-12-31 00:00:00";
    const auto found = db::searchRecordFiles(db.con, search);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].filename, file);

    db::deleteRecordFile(db.con, kAlwaysTrue);
    EXPECT_EQ(rows("recordfile"), 2);
    db::deleteRecordFile(db.con, file);
    EXPECT_EQ(rows("recordfile"), 1);
}

TEST_F(Injection, SettingsAndPlanWithHostileText) {
    EXPECT_EQ(db::selectConfig(db.con, "x' or key like '%"), "");
    EXPECT_EQ(db::selectConfig(db.con, kHostile), "");

    db::insertPathRow(db.con, {kHostile, kAlwaysTrue, 0, 0, "/a|" + kHostile});
    const auto paths = db::selectPaths(db.con);
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->autologpath, kHostile);
    EXPECT_EQ(paths->picturepath, kAlwaysTrue);
    EXPECT_EQ(paths->recordpath, "/a|" + kHostile);

    db::insertEmptyRecordPlan(db.con, "plain");
    db::insertEmptyRecordPlan(db.con, kAlwaysTrue);
    std::array<db::DayMasks, 7> days{};
    days[2].alarm = {7, 8, 9};
    db::updateRecordPlan(db.con, kAlwaysTrue, days, 0, 1);
    EXPECT_EQ(db::selectDayPlan(db.con, 2, kAlwaysTrue)->day, "0,0,0-7,8,9");
    EXPECT_EQ(db::selectDayPlan(db.con, 2, "plain")->day, ""); // the other row untouched
    EXPECT_EQ(db::selectDayString(db.con, 2, kAlwaysTrue), "0,0,0-7,8,9");
    EXPECT_FALSE(db::selectDayString(db.con, 2, "' or ''='"));
}

TEST_F(Injection, LogViewerWithHostileFilters) {
    db::insertLog(db.con, {0, "10.0.0.1", "1", "2024-03-05 10:00:00", 13, "", kHostile});
    db::insertLog(db.con, {0, "10.0.0.2", "2", "2024-03-05 11:00:00", 13, "", "admin"});
    db::LogFilter filter;
    filter.fromYear = filter.toYear = 2024;
    filter.fromMonth = filter.toMonth = 3;
    filter.fromDay = filter.toDay = 5;
    filter.user = kHostile;
    EXPECT_EQ(db::countFilteredLogs(db.con, filter), 1);
    filter.user = kAlwaysTrue;
    EXPECT_EQ(db::countFilteredLogs(db.con, filter), 0);
    filter.user.clear();
    filter.toTime = "00:00:00' or '1'='1"; // as a value: before both events
    EXPECT_EQ(db::countFilteredLogs(db.con, filter), 0);
    filter.toTime = "23:59:59";
    const auto page = db::selectLogPage(db.con, filter, 0, 10);
    ASSERT_EQ(page.size(), 2u);
    EXPECT_EQ(page[1].user, kHostile);
}

} // namespace
