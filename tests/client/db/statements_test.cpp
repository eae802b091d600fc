// The statement catalogue on a copy of the delivered file: each group's statements run against
// the delivered schema and do what their callers rely on.

#include "DbTestSupport.h"

#include "db/Statements.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

using namespace dbtest;
using sqlite3x::database_error;

db::DeviceRow camera(const std::string& name, const std::string& area, const std::string& mac,
                     const std::string& uid = "") {
    db::DeviceRow row;
    row.name = name;
    row.ip = "10.0.0." + std::to_string(name.size());
    row.webport = 80;
    row.mediaport = 8000;
    row.user = "admin";
    row.pwd = "secret";
    row.qy = area;
    row.type = 17;
    row.mac = mac;
    row.uid = uid;
    return row;
}

class DeviceStatements : public ::testing::Test {
protected:
    void SetUp() override {
        // default ─┬─ north ── north-east
        //          └─ south
        // west (top level, parent NULL)
        db::insertArea(db.con, "south", "default");
        db::insertArea(db.con, "north", "default");
        db::insertArea(db.con, "north-east", "north");
        db.con.executenonquery("insert into area(qy, parent) values('west', NULL);");
        for (const auto& [name, area, mac] : {std::tuple{"cam-d", "default", "M1"},
                                              {"cam-n", "north", "M2"},
                                              {"cam-ne", "north-east", "M3"},
                                              {"cam-s", "south", "M4"},
                                              {"cam-w", "west", "M5"}}) {
            db::addDevice(db.con, camera(name, area, mac));
            db::insertEmptyRecordPlan(db.con, mac);
        }
    }
    int rows(const char* table) {
        return count(db.con, std::string("select count(*) from ") + table);
    }

    DeliveredCopy db;
};

TEST_F(DeviceStatements, TreeReadsChildrenAndCameras) {
    std::vector<std::string> top = db::selectChildAreas(db.con, "");
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"default", "west"}));
    EXPECT_EQ(db::selectChildAreas(db.con, "north"), std::vector<std::string>{"north-east"});
    const std::vector<db::CameraBrief> cams = db::selectCamerasInArea(db.con, "north-east");
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0].name, "cam-ne");
    EXPECT_EQ(cams[0].type, 17);
    // The dialogs list areas in the order they were made.
    EXPECT_EQ(db::selectAreaNames(db.con),
              (std::vector<std::string>{"default", "south", "north", "north-east", "west"}));
    const db::DeviceRow last = db::selectDevices(db.con).back();
    EXPECT_EQ(db::selectDeviceArea(db.con, last.ip, last.mac, last.uid), "west");
}

TEST_F(DeviceStatements, AreaNamesAreUniqueAndRenameCarriesChildrenAndCameras) {
    EXPECT_THROW(db::insertArea(db.con, "north", ""), database_error);
    EXPECT_THROW(db::renameArea(db.con, "south", "north"), database_error);
    EXPECT_EQ(db::selectChildAreas(db.con, "north").size(), 1u); // the failed rename left nothing
    db::renameArea(db.con, "nord", "north");
    EXPECT_EQ(db::selectChildAreas(db.con, "nord"), std::vector<std::string>{"north-east"});
    EXPECT_EQ(db::selectCamerasInArea(db.con, "nord").size(), 1u);
    EXPECT_TRUE(db::selectCamerasInArea(db.con, "north").empty());
}

TEST_F(DeviceStatements, AddingRefusesAKnownUidAndLeavesNoRow) {
    const int id = db::addDevice(db.con, camera("p2p", "default", "M6", "ABCDEFGHIJKLMNOPQRST"));
    EXPECT_EQ(db::selectDeviceIdByUid(db.con, "ABCDEFGHIJKLMNOPQRST"), id);
    try {
        db::addDevice(db.con, camera("p2p again", "default", "M7", "ABCDEFGHIJKLMNOPQRST"));
        FAIL() << "second camera with the same uid was added";
    } catch (const database_error& error) {
        EXPECT_STREQ(error.what(), "uid existed!");
    }
    EXPECT_EQ(rows("deviceT"), 6);
    // Cameras reached by address all have an empty uid.
    db::addDevice(db.con, camera("by address", "default", "M8"));
    EXPECT_EQ(rows("deviceT"), 7);
}

TEST_F(DeviceStatements, ModifyAndDeleteACamera) {
    db::DeviceRow changed = camera("renamed", "ignored", "M2");
    changed.webport = 81;
    changed.type = 19;
    db::updateDevice(db.con, changed);
    const auto id = db::selectDeviceIdByMacIp(db.con, "M2", camera("cam-n", "", "").ip);
    ASSERT_TRUE(id);
    const std::vector<db::CameraBrief> cams = db::selectCamerasInArea(db.con, "north");
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0].name, "renamed");
    EXPECT_EQ(cams[0].type, 19);

    EXPECT_TRUE(db::selectPlanFlags(db.con, "M2"));
    db::deleteDevice(db.con, *id, "M2");
    EXPECT_FALSE(db::selectPlanFlags(db.con, "M2"));
    EXPECT_TRUE(db::selectCamerasInArea(db.con, "north").empty());
}

TEST_F(DeviceStatements, DeletingAnAreaTakesEverythingBelowIt) {
    const std::vector<db::RemovedCamera> removed = db::deleteAreaTree(db.con, "default");
    std::set<std::string> macs;
    for (const db::RemovedCamera& cam : removed)
        macs.insert(cam.mac);
    EXPECT_EQ(macs, (std::set<std::string>{"M1", "M2", "M3", "M4"}));
    EXPECT_EQ(db::selectAreaNames(db.con), std::vector<std::string>{"west"});
    EXPECT_EQ(rows("deviceT"), 1);
    EXPECT_EQ(rows("recordplan"), 1);
    EXPECT_TRUE(db::selectPlanFlags(db.con, "M5"));
}

TEST_F(DeviceStatements, FailedAreaDeletionLeavesEverythingAsItWas) {
    // The area rows are deleted after the cameras: failing there is failing half way.
    db.con.executenonquery("create temp trigger refuse before delete on area "
                           "begin select raise(abort, 'disk trouble'); end;");
    EXPECT_THROW(db::deleteAreaTree(db.con, "north"), database_error);
    EXPECT_EQ(rows("area"), 5);
    EXPECT_EQ(rows("deviceT"), 5);
    EXPECT_EQ(rows("recordplan"), 5);

    // The same inside the caller's own change, aborted by the caller after the deletion.
    db.con.executenonquery("drop trigger refuse;");
    testing::internal::CaptureStderr();
    const bool ok = db::inTransaction(db.con, [&] {
        db::deleteAreaTree(db.con, "north");
        throw database_error("con't find the livelist node");
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Exception Occured: con't find the livelist node\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(rows("area"), 5);
    EXPECT_EQ(rows("deviceT"), 5);
    EXPECT_EQ(rows("recordplan"), 5);
}

// More areas below one than SQLite allows "or" terms in one statement.
TEST_F(DeviceStatements, DeletingAnAreaWithThousandsBelowIt) {
    db::insertArea(db.con, "big", "");
    for (int i = 0; i < 1500; ++i)
        db::insertArea(db.con, "sub" + std::to_string(i),
                       i < 10 ? "big" : "sub" + std::to_string(i / 10));
    db::addDevice(db.con, camera("deep", "sub1499", "M9"));
    const auto removed = db::deleteAreaTree(db.con, "big");
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].mac, "M9");
    EXPECT_EQ(rows("area"), 5);
}

TEST(PlanStatements, DayStringsRoundTripAndReadPerDay) {
    DeliveredCopy db;
    db::insertEmptyRecordPlan(db.con, "AA");
    EXPECT_EQ(db::parseDayString(db::selectRecordPlan(db.con, "AA")->days[4]), db::DayMasks{});

    std::array<db::DayMasks, 7> days{};
    for (size_t d = 0; d < 7; ++d)
        days[d] = {{static_cast<uint32_t>(d), 0xFFFFFFFFu, 1u},
                   {2u, static_cast<uint32_t>(d * 7), 0u}};
    db::updateRecordPlan(db.con, "AA", days, 1, 0);
    const auto plan = db::selectRecordPlan(db.con, "AA");
    ASSERT_TRUE(plan);
    for (size_t d = 0; d < 7; ++d)
        EXPECT_EQ(db::parseDayString(plan->days[d]), days[d]) << plan->days[d];
    EXPECT_EQ(plan->days[3], "3,4294967295,1-2,21,0");
    EXPECT_EQ(db::selectDayPlan(db.con, 5, "AA")->pEnable, 1);
    EXPECT_EQ(db::selectDayString(db.con, 6, "AA"), db::formatDayString(days[6]));
    EXPECT_FALSE(db::selectDayString(db.con, 6, "unknown"));
    EXPECT_THROW(db::selectDayPlan(db.con, 7, "AA"), database_error);
    EXPECT_THROW(db::insertEmptyRecordPlan(db.con, "AA"), database_error); // one row per camera
}

TEST(PlanStatements, DayStringParsing) {
    EXPECT_EQ(db::parseDayString("1,2,3-4,5,6"), (db::DayMasks{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(db::parseDayString("123"), db::DayMasks{});
    EXPECT_EQ(db::parseDayString("1,2,x-4,5,6"), (db::DayMasks{{1, 2, 0}, {4, 5, 6}}));
    EXPECT_TRUE(db::isCompleteDayString("0,0,0-0,0,0"));
    EXPECT_FALSE(db::isCompleteDayString(""));
    EXPECT_FALSE(db::isCompleteDayString("1,2-4,5,6"));
    EXPECT_FALSE(db::isCompleteDayString("1,2,3,4-4,5,6"));
    EXPECT_FALSE(db::isCompleteDayString("1,2,-4,5,6"));
}

TEST(SettingsStatements, PathRowFromEmptyToDefaultToChanged) {
    DeliveredCopy db;
    EXPECT_FALSE(db::selectPaths(db.con));
    db::insertPathRow(db.con, {"/data/logs", "/data/pictures", 0, 0, "/data/records"});
    EXPECT_EQ(db::selectPaths(db.con)->recordpath, "/data/records");
    db::updatePaths(db.con, {"/l", "/p", 3, 0, "/a|/b"});
    db::updateRecordPaths(db.con, "/a|/b|/c");
    const auto row = db::selectPathRow(db.con);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->picturepath, "/p");
    EXPECT_EQ(row->logHistory, 3);
    EXPECT_EQ(row->recordpath, "/a|/b|/c");
}

TEST(SettingsStatements, MissingConfigKeyReadsEmptyAndUpdatesNothing) {
    DeliveredCopy db;
    EXPECT_EQ(db::selectConfig(db.con, "AutoOpenIPC"), "0");
    db::updateConfig(db.con, "AutoOpenIPC", "1");
    EXPECT_EQ(db::selectConfig(db.con, "AutoOpenIPC"), "1");
    EXPECT_EQ(db::selectConfig(db.con, "NoSuchKey"), "");
    EXPECT_NO_THROW(db::updateConfig(db.con, "NoSuchKey", "1"));
    EXPECT_EQ(count(db.con, "select count(*) from config;"), 3);
}

TEST(UserStatements, LoginAndUserPage) {
    DeliveredCopy db;
    db::updateRemembered(db.con, "admin", "typed", 1);
    const db::UserRow admin = db::selectLoginUsers(db.con).at(0);
    EXPECT_EQ(admin.oldPwd, "typed");
    EXPECT_EQ(admin.bRemember, 1);
    db::insertUser(db.con, {0, "op", "pw", 2, "", 0});
    EXPECT_THROW(db::insertUser(db.con, {0, "op", "other", 3, "", 0}), database_error);
    db::updateUser(db.con, "operator", "pw2", 3, "op");
    EXPECT_EQ(db::selectUser(db.con, "operator")->lev, 3);
    EXPECT_FALSE(db::selectUser(db.con, "op"));
    db::deleteUser(db.con, "operator");
    EXPECT_EQ(db::selectUsers(db.con).size(), 1u);
}

class RecordStatements : public ::testing::Test {
protected:
    void SetUp() override {
        // 60 recordings: two cameras, three kinds, one a day from 2024-02-01 on.
        for (int i = 0; i < 60; ++i) {
            db::RecordFileRow row;
            row.ip = i % 2 ? "10.0.0.2" : "10.0.0.1";
            row.filetype = i % 3;
            const int day = 1 + i / 2;
            row.filedate = day <= 29 ? "2024-02-" + pad(day) + " 12:00:00"
                                     : "2024-03-" + pad(day - 29) + " 12:00:00";
            row.filename = (folder.path() / ("rec" + std::to_string(i) + ".avi")).string();
            db::insertRecordFile(db.con, row);
            all.push_back(row);
        }
    }
    static std::string pad(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

    DeliveredCopy db;
    TempFolder folder;
    std::vector<db::RecordFileRow> all;
};

TEST_F(RecordStatements, SearchesFindExactlyTheMatchingRows) {
    db::RecordSearch search;
    search.ip = "10.0.0.2";
    search.from = "2024-02-29 00:00:00"; // the leap day, whole
    search.to = "2024-02-29 23:59:59";
    for (const std::array<bool, 3>& kinds :
         {std::array<bool, 3>{true, false, false}, {false, true, true}, {true, true, true}}) {
        for (const bool byIp : {false, true}) {
            for (const bool byDate : {false, true}) {
                db::RecordSearch s = search;
                s.kinds = kinds;
                if (!byIp)
                    s.ip.clear();
                if (!byDate)
                    s.from = s.to = "";
                std::multiset<std::string> expected, found;
                for (const db::RecordFileRow& row : all) {
                    if (kinds[static_cast<size_t>(row.filetype)] && (!byIp || row.ip == s.ip) &&
                        (!byDate || row.filedate.rfind("2024-02-29", 0) == 0))
                        expected.insert(row.filename);
                }
                for (const db::RecordFileRow& row : db::searchRecordFiles(db.con, s))
                    found.insert(row.filename);
                EXPECT_EQ(found, expected) << db::recordSearchStatement(s);
            }
        }
    }
    EXPECT_TRUE(db::searchRecordFiles(db.con, db::RecordSearch{}).empty());
    db::RecordSearch everything;
    everything.kinds = {true, true, true};
    EXPECT_EQ(db::recordSearchStatement(everything),
              "select * from recordfile where (filetype=0 or filetype=1  or filetype=2);");
}

TEST_F(RecordStatements, CameraListAndPurgeOfMissingFiles) {
    std::vector<std::string> ips = db::selectDistinctRecordValues(db.con, "ip");
    std::sort(ips.begin(), ips.end());
    EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_THROW(db::selectDistinctRecordValues(db.con, "ip from area; --"), database_error);

    // Files 0..9 exist on disk; the rest were deleted outside the client.
    for (int i = 0; i < 10; ++i)
        std::ofstream(all[static_cast<size_t>(i)].filename) << "x";
    const int removed =
        db::purgeRecordFiles(db.con, [](const std::string& name) { return fs::exists(name); });
    EXPECT_EQ(removed, 50);
    EXPECT_EQ(db::countRecordFiles(db.con), 10);
    EXPECT_TRUE(db::recordFileExists(db.con, all[3].ip, all[3].filename));
    EXPECT_FALSE(db::recordFileExists(db.con, all[3].ip, all[20].filename));
}

// The clean-up's walk: pages of names oldest first, from "page × size − deleted so far", while
// deleting some of them.
TEST_F(RecordStatements, CleanUpWalksAllNamesOldestFirstWhileDeleting) {
    const int pageSize = 7;
    const int total = db::countRecordFiles(db.con);
    std::vector<std::string> walked;
    int deleted = 0;
    for (int page = 0; page * pageSize < total; ++page) {
        for (const std::string& name :
             db::selectRecordFileNamePage(db.con, page * pageSize - deleted, pageSize)) {
            walked.push_back(name);
            if (walked.size() % 4 == 0) {
                db::deleteRecordFile(db.con, name);
                ++deleted;
            }
        }
    }
    // Each name once, and never an older recording after a newer one.
    std::map<std::string, std::string> dateOf;
    for (const db::RecordFileRow& row : all)
        dateOf[row.filename] = row.filedate;
    EXPECT_EQ(std::set<std::string>(walked.begin(), walked.end()).size(), 60u);
    ASSERT_EQ(walked.size(), 60u);
    for (size_t i = 1; i < walked.size(); ++i)
        EXPECT_LE(dateOf[walked[i - 1]], dateOf[walked[i]]) << i;
    EXPECT_EQ(db::countRecordFiles(db.con), 60 - deleted);
    EXPECT_EQ(db::selectRecordFileNamesOldestFirst(db.con).size(),
              static_cast<size_t>(60 - deleted));
}

TEST(LogStatements, AppendCountArchiveOldestFirst) {
    DeliveredCopy db;
    // The clock was set back after each event: the oldest row has the latest time.
    for (int i = 1; i <= 5; ++i)
        db::insertLog(db.con, {0, "10.0.0.1", std::to_string(i),
                               "2024-03-0" + std::to_string(6 - i) + " 08:00:00", 13, "", "admin"});
    EXPECT_EQ(db::countLogs(db.con), 5);
    const std::vector<db::LogRow> oldest = db::selectOldestLogs(db.con, 2);
    ASSERT_EQ(oldest.size(), 2u);
    EXPECT_EQ(oldest[0].event, "1");
    EXPECT_EQ(oldest[1].event, "2");
    db::deleteLogById(db.con, oldest[0].id);
    db::deleteOldestLog(db.con);
    const std::vector<db::LogRow> rest = db::selectLogs(db.con);
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(rest[0].event, "3");
    // Ids keep rising after the oldest rows are gone.
    db::insertLog(db.con, {0, "", "6", "2024-03-06 08:00:00", 11, "", "admin"});
    EXPECT_GT(db::selectLogs(db.con).back().id, rest.back().id);
}

TEST(LogStatements, ViewerFiltersCountsAndPagesNewestFirst) {
    DeliveredCopy db;
    for (int i = 0; i < 30; ++i) {
        const int type = 11 + i % 3;
        db::insertLog(db.con, {0, i % 2 ? "10.0.0.2" : "10.0.0.1", std::to_string(i),
                               "2024-03-" + std::string(i < 20 ? "05" : "06") +
                                   " 10:00:" + (i < 10 ? "0" : "") + std::to_string(i),
                               type, "", i < 15 ? "admin" : "guest"});
    }
    db::LogFilter filter;
    filter.fromYear = filter.toYear = 2024;
    filter.fromMonth = filter.toMonth = 3;
    filter.fromDay = 5;
    filter.toDay = 5;
    EXPECT_EQ(db::countFilteredLogs(db.con, filter), 20);
    filter.type = 12;
    EXPECT_EQ(db::countFilteredLogs(db.con, filter), 7); // i = 1, 4, …, 19
    filter.type = 1;
    filter.ip = "0.2";
    filter.user = "guest";
    EXPECT_EQ(db::countFilteredLogs(db.con, filter), 3); // i = 15, 17, 19
    filter.ip.clear();
    filter.user.clear();
    const std::vector<db::LogViewRow> page = db::selectLogPage(db.con, filter, 5, 4);
    ASSERT_EQ(page.size(), 4u);
    EXPECT_EQ(page[0].event, "14"); // newest first: 19 … 15 on the first page
    EXPECT_EQ(page[0].mytime, "20240305100014");
    EXPECT_EQ(page[3].event, "11");

    std::vector<std::string> users = db::selectDistinctLogValues(db.con, "user");
    std::sort(users.begin(), users.end());
    EXPECT_EQ(users, (std::vector<std::string>{"admin", "guest"}));
    EXPECT_THROW(db::selectDistinctLogValues(db.con, "pwd from user"), database_error);
}

} // namespace
