#include "common/EventLog.h"
#include "db/Statements.h"
#include "db/sqlite3x.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class EventLogTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("eventlog-" + std::to_string(getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(VISTARO_DELIVERED_DB, folder / "doDAV.db");
        database.open(folder / "doDAV.db");
    }
    void TearDown() override {
        database.close();
        fs::remove_all(folder);
    }

    // Fills the table fast: one transaction for all rows.
    void addRows(long long count) {
        sqlite3x::sqlite3_transaction transaction(database);
        for (long long i = 0; i < count; ++i) {
            db::LogRow row{0,
                           "10.0.0." + std::to_string(i % 250),
                           std::to_string(1 + i % 14),
                           "2026-12-08 10:00:00",
                           11 + static_cast<int>(i % 3),
                           "",
                           "admin"};
            db::insertLog(database, row);
        }
        transaction.commit();
    }

    fs::path folder;
    sqlite3x::sqlite3_connection database;
    std::mutex lock;
};

std::vector<std::string> fileLines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST_F(EventLogTest, AnEventIsARowAndARecentRecord) {
    client::EventLog log(database, lock, [] { return std::string("operator1"); });
    int refreshed = 0;
    log.setListener([&] { ++refreshed; });
    log.eventLog("192.168.1.20", client::kEventOpenVideo, client::kEventTypeOperation,
                 "front door");
    const auto rows = db::selectLogs(database);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ip, "192.168.1.20");
    EXPECT_EQ(rows[0].event, "1");
    EXPECT_EQ(rows[0].type, 13);
    EXPECT_EQ(rows[0].remark, "front door");
    EXPECT_EQ(rows[0].user, "operator1");
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(std::sscanf(rows[0].time.c_str(), "%d-%2d-%2d %2d:%2d:%2d", &year, &month, &day,
                          &hour, &minute, &second),
              6)
        << rows[0].time;
    EXPECT_EQ(rows[0].time.size(), 19u);
    const auto recent = log.recent();
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_STREQ(recent[0].host, "192.168.1.20");
    EXPECT_STREQ(recent[0].time, rows[0].time.c_str());
    EXPECT_EQ(refreshed, 1);
    EXPECT_STREQ(client::eventTextKey(14), "cpp_recordpatherror");
    EXPECT_STREQ(client::eventTextKey(15), "");
}

TEST_F(EventLogTest, TheHundredAndFirstEventLeavesTheListButNotTheTable) {
    client::EventLog log(database, lock, [] { return std::string("admin"); });
    for (int i = 0; i < 101; ++i) {
        log.eventLog("cam" + std::to_string(i), client::kEventCapture, client::kEventTypeOperation,
                     "");
    }
    const auto recent = log.recent();
    ASSERT_EQ(recent.size(), 100u);
    EXPECT_STREQ(recent.front().host, "cam100") << "newest first";
    EXPECT_STREQ(recent.back().host, "cam1") << "cam0 gave way";
    EXPECT_EQ(db::countLogs(database), 101);
}

TEST_F(EventLogTest, ADatabaseFailureStillReachesTheList) {
    client::EventLog log(database, lock, [] { return std::string("admin"); });
    database.executenonquery("drop table log;");
    testing::internal::CaptureStderr();
    log.eventLog("cam", client::kEventCloseVideo, client::kEventTypeOperation, "");
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("Exception Occured: "), std::string::npos) << report;
    EXPECT_EQ(log.recent().size(), 1u);
}

TEST_F(EventLogTest, LongTextsAreCutWithoutSplittingACharacter) {
    char field[8];
    client::copyField(field, sizeof field, "abcdeéé"); // é is two bytes: "abcde" + é would need 8
    EXPECT_STREQ(field, "abcdeé");
    client::copyField(field, sizeof field, "ab");
    EXPECT_STREQ(field, "ab");
    client::copyField(field, sizeof field, "abcdefghij");
    EXPECT_STREQ(field, "abcdefg");
}

TEST_F(EventLogTest, ExactlyTheThresholdStaysOneMoreRollsOverIntoTheFile) {
    addRows(100000);
    auto result = client::rollOverEventLog(database, lock, folder);
    EXPECT_FALSE(result.rolledOver);
    EXPECT_EQ(db::countLogs(database), 100000);

    addRows(1);
    result = client::rollOverEventLog(database, lock, folder);
    ASSERT_TRUE(result.rolledOver);
    EXPECT_EQ(result.exported, 100001);
    EXPECT_EQ(db::countLogs(database), 0);
    EXPECT_EQ(result.file.parent_path().filename(), "IPcamera Logs");
    const auto lines = fileLines(result.file);
    ASSERT_EQ(lines.size(), 100001u);
    EXPECT_EQ(lines[0], "10.0.0.0---1---2026-12-08 10:00:00---systemlog---admin\r");
    EXPECT_EQ(lines[1], "10.0.0.1---2---2026-12-08 10:00:00---alarmlog---admin\r");
    EXPECT_EQ(lines[2], "10.0.0.2---3---2026-12-08 10:00:00---operatelog---admin\r");
}

TEST_F(EventLogTest, WithoutAFileNoRowIsDeleted) {
    addRows(11);
    // The log folder is a file: the archive cannot be made.
    std::ofstream(folder / "IPcamera Logs") << "x";
    testing::internal::CaptureStderr();
    const auto result = client::rollOverEventLog(database, lock, folder, 10);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result.rolledOver);
    EXPECT_EQ(db::countLogs(database), 11);
}
